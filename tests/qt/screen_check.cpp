// SPDX-License-Identifier: MIT
// A screenshot of the X display, and where a picture appears in it pixel for pixel: for the
// test that shows a desktop program opening our pictures (gwenview_screenshot.sh).
//   screen_check OUT.png [REFERENCE.png]
// Saves the whole screen as OUT.png; with a reference, prints where its pixels appear unscaled
// ("found at X,Y") and answers 0, or answers 1 when they appear nowhere. 2 on errors.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

namespace {

// Whether reference appears in screen with its top-left pixel at (x, y).
bool appearsAt(const QImage& screen, const QImage& reference, int x, int y) {
  for (int row = 0; row < reference.height(); ++row) {
    const auto* want = reinterpret_cast<const QRgb*>(reference.constScanLine(row));
    const auto* have = reinterpret_cast<const QRgb*>(screen.constScanLine(y + row)) + x;
    for (int column = 0; column < reference.width(); ++column) {
      if (qRgb(qRed(have[column]), qGreen(have[column]), qBlue(have[column])) !=
          qRgb(qRed(want[column]), qGreen(want[column]), qBlue(want[column]))) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: screen_check OUT.png [REFERENCE.png]\n");
    return 2;
  }
  QScreen* display = QGuiApplication::primaryScreen();
  if (!display) {
    std::fprintf(stderr, "screen_check: no screen\n");
    return 2;
  }
  const QImage screen = display->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
  if (screen.isNull() || !screen.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "screen_check: %s: cannot grab the screen or save it\n", argv[1]);
    return 2;
  }
  if (argc == 2) return 0;
  const QImage reference =
      QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
  if (reference.isNull()) {
    std::fprintf(stderr, "screen_check: %s: cannot read the reference\n", argv[2]);
    return 2;
  }
  for (int y = 0; y + reference.height() <= screen.height(); ++y) {
    for (int x = 0; x + reference.width() <= screen.width(); ++x) {
      if (appearsAt(screen, reference, x, y)) {
        std::printf("found at %d,%d\n", x, y);
        return 0;
      }
    }
  }
  std::printf("not found\n");
  return 1;
}
