// SPDX-License-Identifier: MIT
// The Qt image plug-in as the built Qt programs meet it, through QImageReader: built once for each
// Qt major version, with the freshly built plug-in as the only plug-in Qt finds and the system's
// MIME database with planes.xml added.
//
//   - every sample, read from a named file, from a sequential device and from a QBuffer, gives
//     the colour indices, the 16 colours and the comment planeconv gives (with the GRA picture's
//     companions from the named file, without them otherwise);
//   - malformed files give false and no picture, and a warning with the host library's reason;
//   - no more bytes are taken from a device than the format's largest file;
//   - both formats and both MIME types are listed, and the MIME database knows the types.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "gra/gra_format.h"
#include "host/code_page_932.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/reasons.h"
#include "q/q_format.h"
#include "qt/formats.h"
#include "tests/planeconv/run_planeconv.h"
#include "tests/support/pictures.h"
#include "tests/support/pinned.h"

namespace {

// A comment's bytes told back from the text a host shows of it: \xNN is a byte, the rest code
// page 932 text.
std::string commentBytes(const std::string& shown) {
  std::string bytes, piece, error;
  for (std::size_t i = 0; i < shown.size();) {
    if (shown.compare(i, 2, "\\x") == 0 && i + 4 <= shown.size()) {
      bytes += static_cast<char>(std::stoi(shown.substr(i + 2, 2), nullptr, 16));
      i += 4;
      continue;
    }
    const std::size_t next = std::min(shown.find("\\x", i), shown.size());
    EXPECT_TRUE(host::toCodePage932(shown.substr(i, next - i), piece, error)) << error;
    bytes += piece;
    i = next;
  }
  return bytes;
}

// --- Sources ---------------------------------------------------------------------------------

QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A device that can only be read forward, as a pipe is, handing out at most step bytes a call,
// and counting the bytes it has handed out. Unbuffered, so that Qt asks it for no more than
// the plug-in reads.
class SequentialDevice : public QIODevice {
 public:
  explicit SequentialDevice(QByteArray bytes, qint64 step = 1 << 20)
      : bytes_(std::move(bytes)), step_(step) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return true; }
  qint64 handedOut() const { return position_; }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    const qint64 count = std::min({maxSize, step_, qint64(bytes_.size()) - position_});
    std::copy_n(bytes_.constData() + position_, count, data);
    position_ += count;
    return count;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray bytes_;
  qint64 step_;
  qint64 position_ = 0;
};

enum class Source { NamedFile, Sequential, Buffer };

// A reader of the picture at path through source, of the format named (when none is, a named
// file's suffix decides first, a device's contents).
struct Reading {
  std::unique_ptr<QIODevice> device;
  std::unique_ptr<QImageReader> reader;
};
Reading readingOf(const QString& path, Source source, const QByteArray& format = {}) {
  Reading r;
  if (source == Source::NamedFile) {
    r.reader = std::make_unique<QImageReader>(path, format);
    return r;
  }
  if (source == Source::Sequential) {
    r.device = std::make_unique<SequentialDevice>(fileBytes(path));
  } else {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(fileBytes(path));
    buffer->open(QIODevice::ReadOnly);
    r.device = std::move(buffer);
  }
  r.reader = std::make_unique<QImageReader>(r.device.get(), format);
  return r;
}

// The warnings Qt prints, caught.
QStringList warnings;
void catchWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtWarningMsg) warnings.append(message);
}

// --- The reference: planeconv ----------------------------------------------------------------

QStringList sampleNames() {
  return QDir(SAMPLES_DIR).entryList({"*.gra", "*.q"}, QDir::Files, QDir::Name);
}

QString samplePath(const QString& name) {
  return QDir(SAMPLES_DIR).filePath(name);
}

// Runs planeconv (tests/planeconv's runner: no shell, nor Qt's process code, which Valgrind
// takes for errors); its standard output, or a failure with what it said.
QString runPlaneconv(const QStringList& arguments) {
  std::vector<std::string> words;
  for (const QString& argument : arguments) words.push_back(argument.toStdString());
  const Outcome run = planeconv(words);
  EXPECT_EQ(run.exitCode, 0) << "planeconv " << arguments.join(' ').toStdString() << ": "
                             << run.err;
  return QString::fromStdString(run.out);
}

struct Expected {
  host::IndexedImage image;
  QString comment;  // empty for none
};

// A scratch folder with planeconv's PNGs of every sample: read by name beside its companions
// (companions/), and of a copy alone in a folder (alone/), which is what a picture looks like
// to a reader that has no name for it.
class References : public testing::Environment {
 public:
  static inline std::unique_ptr<QTemporaryDir> scratch;

  void SetUp() override {
    scratch = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(scratch->isValid());
    QDir dir(scratch->path());
    for (const char* folder : {"companions", "copies", "alone"}) ASSERT_TRUE(dir.mkpath(folder));
    QStringList withCompanions{"convert"}, alone{"convert"};
    for (const QString& name : sampleNames()) {
      withCompanions << samplePath(name);
      ASSERT_TRUE(QFile::copy(samplePath(name), dir.filePath("copies/" + name)));
      alone << dir.filePath("copies/" + name);
    }
    runPlaneconv(withCompanions << "-d" << dir.filePath("companions"));
    runPlaneconv(alone << "-d" << dir.filePath("alone"));
  }
  void TearDown() override { scratch.reset(); }

  static QString folder(const QString& name) { return QDir(scratch->path()).filePath(name); }

  // What planeconv makes of the picture at path: its PNG in folder, and its comment as
  // `planeconv info` shows it.
  static Expected of(const QString& path, const QString& pngFolder) {
    Expected expected;
    const QString png = QDir(pngFolder).filePath(QFileInfo(path).completeBaseName() + ".png");
    const QByteArray bytes = fileBytes(png);
    EXPECT_TRUE(host::readIndexedPng({bytes.begin(), bytes.end()}, expected.image))
        << png.toStdString();
    const QString info = runPlaneconv({"info", path});
    const int at = info.indexOf("comment:   \"");
    if (at >= 0) {
      const int start = info.indexOf('"', at) + 1;
      expected.comment = info.mid(start, info.indexOf("\"\n", start) - start);
    }
    return expected;
  }
};

// Where image differs from what planeconv gave, in words; empty when nothing does.
std::string differences(const QImage& image, const host::IndexedImage& expected) {
  if (image.isNull()) return "no picture";
  if (image.format() != QImage::Format_Indexed8) return "not an indexed picture";
  if (image.width() != expected.width || image.height() != expected.height) {
    return "size " + std::to_string(image.width()) + " x " + std::to_string(image.height());
  }
  QVector<QRgb> colours;
  for (const RgbQuad& c : expected.palette) colours.append(qRgb(c.red, c.green, c.blue));
  if (image.colorTable() != colours) return "another colour table";
  for (int y = 0; y < image.height(); ++y) {
    const std::uint8_t* row = expected.indices.data() + static_cast<std::size_t>(y) * image.width();
    if (!std::equal(row, row + image.width(), image.constScanLine(y))) {
      return "row " + std::to_string(y) + " differs";
    }
  }
  return "";
}

// --- Every sample from every kind of device ----------------------------------------------------

struct SampleCase {
  QString name;
  Source source;
};

void PrintTo(const SampleCase& c, std::ostream* out) {
  static const char* const kSources[] = {"a named file", "a sequential device", "a QBuffer"};
  *out << c.name.toStdString() << " from " << kSources[static_cast<int>(c.source)];
}

class Samples : public testing::TestWithParam<SampleCase> {};

TEST_P(Samples, ReadGivesPlaneconvsPixelsColoursAndComment) {
  const SampleCase& c = GetParam();
  const QString path = samplePath(c.name);
  // Only a named file has companions beside it.
  const Expected expected = References::of(
      path, References::folder(c.source == Source::NamedFile ? "companions" : "alone"));
  Reading reading = readingOf(path, c.source);
  QImageReader& reader = *reading.reader;

  ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
  EXPECT_EQ(reader.format(), QFileInfo(path).suffix().toLatin1());
  EXPECT_EQ(reader.size(), QSize(640, 400));
  EXPECT_EQ(reader.imageFormat(), QImage::Format_Indexed8);
  EXPECT_EQ(reader.text("Comment"), expected.comment);  // before decoding: from the header
  const QImage image = reader.read();
  EXPECT_EQ(differences(image, expected.image), "") << reader.errorString().toStdString();
  EXPECT_EQ(image.colorCount(), 16);
  EXPECT_EQ(image.text("Comment"), expected.comment);
}

std::vector<SampleCase> sampleCases() {
  std::vector<SampleCase> cases;
  for (const QString& name : sampleNames()) {
    for (Source source : {Source::NamedFile, Source::Sequential, Source::Buffer}) {
      cases.push_back({name, source});
    }
  }
  return cases;
}

std::string sampleCaseName(const testing::TestParamInfo<SampleCase>& info) {
  static const char* const kSources[] = {"File", "Sequential", "Buffer"};
  QString name = info.param.name;
  name.replace('.', '_');
  return name.toStdString() + "_" + kSources[static_cast<int>(info.param.source)];
}

INSTANTIATE_TEST_SUITE_P(Pictures, Samples, testing::ValuesIn(sampleCases()), sampleCaseName);

// Every picture of the pinned set, read by file name (so a GRA picture's companions count), gives
// the pinned indices, palette, comment and colours; every file the set says is refused gives
// no picture.
TEST(Pinned, EveryTestPictureReadsAsPinned) {
  const pinned::File file = pinned::read(PINNED_FILE);
  ASSERT_EQ(file.error, "");
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::vector<pictures::PictureFiles> set = pictures::pinnedSet();
  ASSERT_EQ(pictures::writeAll(folder.path().toStdString(), set), "");
  for (const pictures::PictureFiles& p : set) {
    QImageReader reader(folder.filePath(QString::fromStdString(p.name)));
    const QImage image = reader.read();
    pinned::Entry got = pinned::refused(p.name, "refused");
    if (!image.isNull()) {
      ASSERT_EQ(image.format(), QImage::Format_Indexed8) << p.name;
      Bytes indices, palette, rgb;
      for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        indices.insert(indices.end(), line, line + image.width());
      }
      for (QRgb c : image.colorTable()) {
        palette.insert(palette.end(),
                       {static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                        static_cast<std::uint8_t>(qBlue(c))});
      }
      // Qt holds the comment as text: its bytes read as code page 932, those that are no
      // character there written \xNN. The bytes are told back from it.
      got = pinned::decoded(p.name, indices, palette,
                            commentBytes(image.text("Comment").toStdString()));
    }
    EXPECT_EQ(pinned::compare(file, got), "");
  }
}

TEST(Companions, ChangeTheTestCard) {
  // Otherwise the sample tests could not tell a read that used them from one that did not.
  const QString card = samplePath("card.gra");
  EXPECT_NE(
      differences(
          QImage(References::folder("alone/card.png")).convertToFormat(QImage::Format_Indexed8),
          References::of(card, References::folder("companions")).image),
      "");
  EXPECT_NE(References::of(card, References::folder("companions")).image.palette,
            References::of(card, References::folder("alone")).image.palette);
}

TEST(Companions, NotFromAPictureReadFromItsMiddle) {
  // A file read from elsewhere than its start is not the picture its name names.
  QByteArray bytes = "padding!" + fileBytes(samplePath("card.gra"));
  const QString path = References::folder("padded.gra");
  QFile padded(path);
  ASSERT_TRUE(padded.open(QIODevice::WriteOnly) && padded.write(bytes) == bytes.size());
  padded.close();
  for (const char* companion : {"card.rgb", "card.e1"}) {
    QFile::copy(samplePath(companion), References::folder(QString("padded.") + (companion + 5)));
  }
  ASSERT_TRUE(padded.open(QIODevice::ReadOnly) && padded.seek(8));
  QImageReader reader(&padded);
  EXPECT_EQ(differences(reader.read(),
                        References::of(samplePath("card.gra"), References::folder("alone")).image),
            "");
}

// --- Formats named by the application --------------------------------------------------------

TEST(NamedFormat, TakesItsOwnPictureAndLetsTheContentsDecideOtherwise) {
  const QString q = samplePath("gradient.q");
  const Expected expected = References::of(q, References::folder("alone"));
  // The format named, and the format named wrongly (a Q picture stored as .gra).
  const QString misnamed = References::folder("gradient-really-q.gra");
  ASSERT_TRUE(QFile::copy(q, misnamed));
  for (auto [path, format] : {std::pair{q, QByteArray("q")}, std::pair{misnamed, QByteArray()},
                              std::pair{q, QByteArray("gra")}}) {
    Reading reading = readingOf(path, Source::Buffer, format);
    EXPECT_EQ(differences(reading.reader->read(), expected.image), "")
        << path.toStdString() << " as '" << format.toStdString() << "'";
  }
  QImageReader byName(misnamed);
  EXPECT_EQ(differences(byName.read(), expected.image), "");
}

// --- Failures ----------------------------------------------------------------------------------

// What the host library says of these bytes as a picture of format: the reason Qt's warning
// must carry.
std::string hostReason(const QByteArray& bytes, const QString& format) {
  const host::PluginSet plugins;
  const host::Bytes file(bytes.begin(), bytes.end());
  const host::Plugin* plugin = plugins.byName(format.toStdString());
  if (!plugin) return "no plug-in for " + format.toStdString();
  if (!host::recognisesContent(*plugin, file)) return host::whyNotTaken(*plugin, file);
  host::Picture picture;
  return host::decode(*plugin, host::PictureFile{"", file}, picture).reason;
}

// The picture with the first byte of its signature changed.
QByteArray withoutSignature(QByteArray picture, const char* signature) {
  const auto at = static_cast<int>(picture.indexOf(QByteArray(signature, 3)));
  if (at >= 0) picture[at] = char(picture[at] ^ 1);
  return picture;
}

struct Malformed {
  const char* name;
  const char* sample;
  QByteArray (*make)(QByteArray);
};

const Malformed kMalformed[] = {
    {"empty", "card.gra", [](QByteArray) { return QByteArray(); }},
    {"gra_cut_short", "card.gra", [](QByteArray b) { return b.left(b.size() / 2); }},
    {"gra_header_only", "plain.gra", [](QByteArray b) { return b.left(64); }},
    {"gra_without_signature", "card.gra",
     [](QByteArray b) {
       return withoutSignature(b, reinterpret_cast<const char*>(kGraSignature));
     }},
    {"q_cut_short", "gradient.q", [](QByteArray b) { return b.left(b.size() - 1); }},
    {"q_size_field_lies", "eight.q",
     [](QByteArray b) {
       b[qformat::kFileSizeOffset] = char(b[qformat::kFileSizeOffset] + 1);
       return b;
     }},
    {"q_without_signature", "gradient.q",
     [](QByteArray b) { return withoutSignature(b, qformat::kSignature); }},
    {"random_bytes", "card.gra",
     [](QByteArray b) {
       std::mt19937 random(24);
       for (char& byte : b) byte = char(random());
       return b;
     }},
};

void PrintTo(const Malformed& m, std::ostream* out) {
  *out << m.name << " (from " << m.sample << ")";
}

class Failures : public testing::TestWithParam<Malformed> {
 protected:
  void SetUp() override { warnings.clear(); }
};

TEST_P(Failures, GiveFalseNoPictureAndTheReason) {
  const Malformed& m = GetParam();
  const QByteArray bytes = m.make(fileBytes(samplePath(m.sample)));
  const QString path =
      References::folder(QString("broken-") + m.name + "." + QFileInfo(m.sample).suffix());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
  file.close();
  const std::string reason = hostReason(bytes, QFileInfo(path).suffix());
  ASSERT_NE(reason, "");

  for (Source source : {Source::NamedFile, Source::Sequential, Source::Buffer}) {
    warnings.clear();
    Reading reading = readingOf(path, source, QFileInfo(path).suffix().toLatin1());
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    const QImage before = image;
    EXPECT_FALSE(reading.reader->read(&image)) << m.name;
    EXPECT_EQ(image, before) << m.name << ": the image was touched";
    EXPECT_TRUE(reading.reader->read().isNull());
    const QString all = warnings.join('\n');
    EXPECT_TRUE(all.contains(QString::fromStdString(reason)))
        << m.name << ": " << all.toStdString() << "\nexpected: " << reason;
    if (source == Source::NamedFile) {
      EXPECT_TRUE(all.contains(path)) << all.toStdString();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Malformed, Failures, testing::ValuesIn(kMalformed),
                         [](const testing::TestParamInfo<Malformed>& info) {
                           return std::string(info.param.name);
                         });

TEST(Failures, ContentsOfNeitherFormatAreNotClaimed) {
  QBuffer png;
  png.open(QIODevice::ReadWrite);
  QImage picture(4, 4, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  picture.save(&png, "PNG");
  png.seek(0);
  QImageReader reader(&png);
  EXPECT_EQ(reader.format(), "png");  // our plug-in said no and another took it
}

// --- Never past the largest file ----------------------------------------------------------------

TEST(Limits, NoDeviceGivesMoreThanTheLargestFile) {
  const host::PluginSet plugins;
  for (const char* name : {"card.gra", "gradient.q"}) {
    const QString path = samplePath(name);
    const QByteArray picture = fileBytes(path);
    const host::Plugin* plugin =
        plugins.recogniseContent(host::Bytes(picture.begin(), picture.end()));
    ASSERT_NE(plugin, nullptr);
    const auto largest = static_cast<qint64>(host::largestFile(plugin->format));
    // The picture followed by far more than its format can hold, handed out in odd pieces.
    const QByteArray endless = picture + QByteArray(4 << 20, 'x');
    const Expected expected = References::of(path, References::folder("alone"));

    SequentialDevice pipe(endless, 1000);
    QImageReader fromPipe(&pipe);
    EXPECT_EQ(differences(fromPipe.read(), expected.image), "") << name;
    EXPECT_LE(pipe.handedOut(), largest) << name;

    QBuffer buffer;
    buffer.setData(endless);
    buffer.open(QIODevice::ReadOnly);
    QImageReader fromBuffer(&buffer);
    EXPECT_EQ(differences(fromBuffer.read(), expected.image), "") << name;
    EXPECT_LE(buffer.pos(), largest) << name;
  }
}

// --- What Qt and the desktop are told ----------------------------------------------------------

TEST(Listing, BothFormatsAndMimeTypesAreListedAndKnown) {
  const QList<QByteArray> formats = QImageReader::supportedImageFormats();
  const QList<QByteArray> mimeTypes = QImageReader::supportedMimeTypes();
  const host::PluginSet plugins;
  const std::vector<qt_plugin::FormatKey> keys = qt_plugin::formatKeys(plugins);
  ASSERT_EQ(keys.size(), 2u);
  QMimeDatabase database;
  for (const qt_plugin::FormatKey& key : keys) {
    EXPECT_TRUE(formats.contains(QByteArray::fromStdString(key.key))) << key.key;
    EXPECT_TRUE(mimeTypes.contains(QByteArray::fromStdString(key.mimeType))) << key.mimeType;
    // Programs that list types through the MIME database (Gwenview) drop unknown ones.
    EXPECT_TRUE(database.mimeTypeForName(QString::fromStdString(key.mimeType)).isValid())
        << key.mimeType;
  }
}

TEST(Listing, MimeDatabaseGivesTheProjectsTypes) {
  // *.gra is also another program's type: the contents must decide for a real GRA picture.
  const host::PluginSet plugins;
  QMimeDatabase database;
  for (const qt_plugin::FormatKey& key : qt_plugin::formatKeys(plugins)) {
    const QString sample =
        samplePath(key.format == host::PictureFormat::Gra ? "card.gra" : "gradient.q");
    EXPECT_EQ(database.mimeTypeForFile(sample).name().toStdString(), key.mimeType);
    QFile file(sample);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(database.mimeTypeForData(&file).name().toStdString(), key.mimeType);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The freshly built plug-in as the only one Qt loads, and the system's MIME database with
  // planes.xml added, as an install to /usr makes it, without the user's own types. With
  // PLANES_QT_PLUGIN_ROOT: the installed plug-in in that folder and the system's own database
  // (tests/qt/install_check.sh, tests/release/package_test.sh).
  const bool installed = qEnvironmentVariableIsSet("PLANES_QT_PLUGIN_ROOT");
  // Regular expressions (the MIME database's globs) without their machine-code compiler, whose
  // code Valgrind cannot follow (scripts/valgrind-tests.sh runs this program too).
  qputenv("QT_ENABLE_REGEXP_JIT", "0");
  QTemporaryDir dataHome;
  qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
  if (!installed) qputenv("XDG_DATA_DIRS", MIME_DATA_DIR);
  QCoreApplication app(argc, argv);
  QCoreApplication::setLibraryPaths(
      {installed ? qEnvironmentVariable("PLANES_QT_PLUGIN_ROOT") : QStringLiteral(PLUGIN_ROOT)});
  qInstallMessageHandler(catchWarnings);
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new References);
  return RUN_ALL_TESTS();
}
