// SPDX-License-Identifier: MIT
#include "qt/image_plugin.h"

#include <QFile>
#include <QFileDevice>
#include <QImage>
#include <QImageIOHandler>
#include <QVariant>
#include <QVector>
#include <QtGlobal>
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "host/picture.h"
#include "host/reasons.h"
#include "qt/formats.h"

namespace {

// The linked-in plug-ins: built once, then only read, from any thread.
const host::PluginSet& plugins() {
  static const host::PluginSet set;
  return set;
}

// The plug-in of a format key ("gra", "q"), as formats.h gives them; null for another key.
const host::Plugin* pluginOfKey(const QByteArray& key) {
  static const std::vector<qt_plugin::FormatKey> keys = qt_plugin::formatKeys(plugins());
  for (const qt_plugin::FormatKey& format : keys) {
    if (key == format.key.c_str()) return plugins().byFormat(format.format);
  }
  return nullptr;
}

// How long a device that delivers its bytes over time (a pipe, a socket) is waited for.
constexpr int kWaitMilliseconds = 30000;

QByteArray firstBytes(QIODevice* device) {
  return device ? device->peek(kRecognitionBlockSize) : QByteArray();
}

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

// The plug-in for a picture's first bytes: the format the application named, when its own
// checks take them, else the one whose checks do. Null, and why, when none does.
const host::Plugin* pluginFor(const QByteArray& head, const QByteArray& format,
                              std::string* why = nullptr) {
  const host::Plugin* named = pluginOfKey(format);
  if (named && host::recognisesContent(*named, bytesOf(head))) return named;
  if (const host::Plugin* plugin = plugins().recogniseContent(bytesOf(head))) return plugin;
  if (why) {
    *why = named ? host::whyNotTaken(*named, bytesOf(head))
                 : host::whyNoneTakes(plugins(), bytesOf(head));
  }
  return nullptr;
}

// The name of the file a device reads, if it reads one by name.
QString fileNameOf(QIODevice* device) {
  const auto* file = qobject_cast<QFileDevice*>(device);
  return file ? file->fileName() : QString();
}

// The path the decoder may open the picture by, so that its companions count: the device is a
// file with a name on disk (not a Qt resource), not sequential, and read from its start.
std::string pathToOpen(QIODevice* device) {
  const QString name = fileNameOf(device);
  if (name.isEmpty() || name.startsWith(QLatin1Char(':')) || device->isSequential() ||
      device->pos() != 0) {
    return {};
  }
  return QFile::encodeName(name).toStdString();
}

// Reads from device until it has given limit bytes or ends: never more than limit.
host::Bytes readUpTo(QIODevice* device, std::size_t limit) {
  host::Bytes bytes;
  bytes.reserve(limit);
  char chunk[64 * 1024];
  while (bytes.size() < limit) {
    const qint64 want = static_cast<qint64>(std::min(sizeof chunk, limit - bytes.size()));
    const qint64 got = device->read(chunk, want);
    if (got < 0) break;
    if (got == 0) {
      if (device->atEnd() || !device->waitForReadyRead(kWaitMilliseconds)) break;
      continue;
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

void warn(QIODevice* device, const std::string& reason) {
  QString source = fileNameOf(device);
  if (source.isEmpty()) {
    source = QStringLiteral("picture from a %1")
                 .arg(QLatin1String(device ? device->metaObject()->className() : "device"));
  }
  qWarning("%s: %s", qUtf8Printable(source), reason.c_str());
}

class PlanesImageHandler : public QImageIOHandler {
 public:
  bool canRead() const override {
    const host::Plugin* plugin = pluginFor(firstBytes(device()), format());
    if (plugin) setFormat(QByteArray::fromStdString(plugin->name));
    return plugin != nullptr;
  }

  bool read(QImage* image) override {
    QIODevice* source = device();
    if (!source) return false;
    std::string why;
    const host::Plugin* plugin = pluginFor(firstBytes(source), format(), &why);
    if (!plugin) {
      warn(source, why);
      return false;
    }
    host::PictureFile file{pathToOpen(source), readUpTo(source, host::largestFile(plugin->format))};
    host::Picture picture;
    if (const host::Result result = host::decode(*plugin, file, picture); !result) {
      warn(source, result.reason);
      return false;
    }
    QImage decoded(picture.width(), picture.height(), QImage::Format_Indexed8);
    if (decoded.isNull()) {
      warn(source, "out of memory for a " + std::to_string(picture.width()) + " x " +
                       std::to_string(picture.height()) + " image");
      return false;
    }
    QVector<QRgb> colours;
    for (const RgbQuad& colour : picture.palette) {
      colours.append(qRgb(colour.red, colour.green, colour.blue));
    }
    decoded.setColorTable(colours);
    for (int y = 0; y < picture.height(); ++y) {
      const std::uint8_t* row =
          picture.indices.data() + static_cast<std::size_t>(y) * picture.width();
      std::copy(row, row + picture.width(), decoded.scanLine(y));
    }
    if (!picture.info.comment.empty()) {
      decoded.setText(QStringLiteral("Comment"), commentOf(picture.info));
    }
    *image = decoded;
    return true;
  }

  bool supportsOption(ImageOption option) const override {
    return option == Size || option == ImageFormat || option == Name || option == Description;
  }

  // What the header tells before the picture is decoded.
  QVariant option(ImageOption option) const override {
    if (option == ImageFormat) return QImage::Format_Indexed8;
    if (!supportsOption(option)) return {};
    const QByteArray head = firstBytes(device());
    const host::Plugin* plugin = pluginFor(head, format());
    host::PictureInfo info;
    if (!plugin ||
        !host::readInfo(*plugin, host::PictureFile{"", {head.begin(), head.end()}}, info)) {
      return {};
    }
    if (option == Size) return QSize(info.width, info.height);
    if (info.comment.empty()) return {};
    // Description is QImageReader's text: "key: value" pairs (QImageReader::text("Comment")).
    return option == Name ? commentOf(info) : QStringLiteral("Comment: ") + commentOf(info);
  }

 private:
  // The comment as text: code page 932, bytes that are no character there written \xNN.
  static QString commentOf(const host::PictureInfo& info) {
    const std::string text = host::commentText(info);
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
  }
};

}  // namespace

QImageIOPlugin::Capabilities PlanesImagePlugin::capabilities(QIODevice* device,
                                                             const QByteArray& format) const {
  // A format the application names is taken at its word; read() still checks the bytes.
  if (pluginOfKey(format)) return CanRead;
  if (!format.isEmpty() || !device || !device->isOpen() || !device->isReadable()) return {};
  return pluginFor(firstBytes(device), {}) ? CanRead : Capabilities();
}

QImageIOHandler* PlanesImagePlugin::create(QIODevice* device, const QByteArray& format) const {
  auto* handler = new PlanesImageHandler;
  handler->setDevice(device);
  handler->setFormat(format);
  return handler;
}
