// SPDX-License-Identifier: MIT
// The gdk-pixbuf loader modules in the system's gdk-pixbuf: registration and MIME types, every
// test picture loaded by file name against the pinned outputs, every sample in small pieces
// against the PNG planeconv writes, the file name recovered for companions, a Q picture's
// comment, docs/desktop.md's route without
// installing, and failures on bad input.
//
// main() sets up docs/desktop.md's route without installing before anything else runs: gdk-pixbuf
// reads a loader cache of the system's modules and the freshly built ones, and GIO a MIME
// database of planes.xml before the system's.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gmodule.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/picture.h"
#include "tests/pixbuf/glib_test_support.h"
#include "tests/pixbuf/png_reference.h"
#include "tests/support/pictures.h"
#include "tests/support/pinned.h"

namespace fs = std::filesystem;

namespace {

// --- Small helpers --------------------------------------------------------------------------

struct PixbufUnref {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, PixbufUnref>;

// A GError out-parameter that frees what it receives.
class Error {
 public:
  ~Error() { clear(); }
  GError** out() {
    clear();
    return &error_;
  }
  explicit operator bool() const { return error_ != nullptr; }
  std::string message() const { return error_ ? error_->message : ""; }
  // The GdkPixbufError code, or -1 for none or an error of another domain.
  int code() const { return error_ && error_->domain == GDK_PIXBUF_ERROR ? error_->code : -1; }
  void clear() {
    if (error_) g_error_free(error_);
    error_ = nullptr;
  }

 private:
  GError* error_ = nullptr;
};

bool isGra(const std::string& name) {
  return fs::path(name).extension() == ".gra";
}

// The title our modules' messages carry.
std::string titleOf(const std::string& name) {
  return isGra(name) ? "GRA picture" : "Q picture";
}

std::vector<std::string> sampleNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(SAMPLES_DIR)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".gra" || ext == ".q") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

fs::path samplePath(const std::string& name) {
  return fs::path(SAMPLES_DIR) / name;
}

// --- The reference pictures -----------------------------------------------------------------

// A scratch folder of this test process, with planeconv's PNGs of every sample: as read by name
// beside its companion files (withCompanions/), and, for GRA, of a copy alone in a folder
// (alone/), which is what a GRA picture looks like to a reader that has no name for it.
class References : public testing::Environment {
 public:
  static inline fs::path scratch;

  void SetUp() override {
    gchar* dir = g_dir_make_tmp("pixbuf-tests-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    scratch = dir;
    g_free(dir);
    fs::create_directories(scratch / "withCompanions");
    fs::create_directories(scratch / "copies");
    fs::create_directories(scratch / "alone");

    std::vector<std::string> all{PLANECONV, "convert"}, alone{PLANECONV, "convert"};
    for (const std::string& name : sampleNames()) {
      all.push_back(samplePath(name).string());
      fs::path copy = scratch / "copies" / name;
      fs::copy_file(samplePath(name), copy);
      alone.push_back(copy.string());
    }
    for (auto* args : {&all, &alone}) {
      args->push_back("-d");
      args->push_back((scratch / (args == &all ? "withCompanions" : "alone")).string());
      ProgramRun run = runProgram(*args);
      ASSERT_TRUE(run.exitedWithZero) << run.output();
    }
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
  }

  static ReferenceImage picture(const std::string& sample, bool withCompanions) {
    fs::path png = scratch / (withCompanions ? "withCompanions" : "alone") /
                   fs::path(sample).replace_extension(".png");
    ReferenceImage image;
    std::string error = readReferencePng(png.string(), image);
    EXPECT_EQ(error, "") << png;
    return image;
  }
};

// Where pixbuf differs from the reference, in words; empty when every pixel matches.
std::string differences(const GdkPixbuf* pixbuf, const ReferenceImage& reference) {
  if (!pixbuf) return "no picture";
  const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
  if (width != reference.width || height != reference.height) {
    return "size " + std::to_string(width) + " x " + std::to_string(height) + ", expected " +
           std::to_string(reference.width) + " x " + std::to_string(reference.height);
  }
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  long differing = 0;
  std::string first;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const guchar* got = pixels + y * stride + x * channels;
      const std::uint8_t* want = &reference.rgba[(static_cast<std::size_t>(y) * width + x) * 4];
      if (got[0] == want[0] && got[1] == want[1] && got[2] == want[2]) continue;
      if (differing++ == 0) {
        first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                std::to_string(got[0]) + "," + std::to_string(got[1]) + "," +
                std::to_string(got[2]) + " instead of " + std::to_string(want[0]) + "," +
                std::to_string(want[1]) + "," + std::to_string(want[2]);
      }
    }
  }
  return differing ? std::to_string(differing) + " pixels differ, the first at " + first : "";
}

// --- Loading through GdkPixbufLoader --------------------------------------------------------

struct PieceLoad {
  bool ok = false;
  PixbufPtr pixbuf;
  std::string error;
  int errorCode = -1;      // its GdkPixbufError code
  std::string format;      // the format gdk-pixbuf chose
  int announcedWidth = 0;  // from the size-prepared signal
  int announcedHeight = 0;
  std::size_t announcedAt = 0;  // bytes written when the size was announced
  std::size_t written = 0;
};

void onSizePrepared(GdkPixbufLoader*, int width, int height, gpointer data) {
  auto* load = static_cast<PieceLoad*>(data);
  load->announcedWidth = width;
  load->announcedHeight = height;
  load->announcedAt = load->written;
}

// Feeds bytes in pieces of piece bytes to a loader for type ("gra", "q"), or to one that finds
// the format itself when type is null, then closes it.
PieceLoad loadInPieces(const Bytes& bytes, std::size_t piece, const char* type) {
  PieceLoad load;
  Error error;
  GdkPixbufLoader* loader =
      type ? gdk_pixbuf_loader_new_with_type(type, error.out()) : gdk_pixbuf_loader_new();
  if (!loader) {
    load.error = error.message();
    return load;
  }
  g_signal_connect(loader, "size-prepared", G_CALLBACK(onSizePrepared), &load);
  bool ok = true;
  for (std::size_t at = 0; at < bytes.size() && ok; at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    load.written = at + n;
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, n, error.out());
  }
  if (ok) {
    ok = gdk_pixbuf_loader_close(loader, error.out());
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  load.ok = ok;
  load.error = error.message();
  load.errorCode = error.code();
  if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) {
    load.pixbuf.reset(static_cast<GdkPixbuf*>(g_object_ref(pixbuf)));
  }
  if (GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader)) {
    gchar* name = gdk_pixbuf_format_get_name(format);
    load.format = name;
    g_free(name);
  }
  g_object_unref(loader);
  return load;
}

// --- Registration ---------------------------------------------------------------------------

TEST(Registration, BothModulesAreListedWithTheirTypesAndExtensions) {
  struct Expected {
    const char* name;
    const char* mime;
    const char* extension;
  };
  for (const Expected& want :
       {Expected{"gra", "image/x-gra", "gra"}, Expected{"q", "image/x-q-picture", "q"}}) {
    GdkPixbufFormat* found = nullptr;
    GSList* formats = gdk_pixbuf_get_formats();
    for (GSList* f = formats; f; f = f->next) {
      auto* format = static_cast<GdkPixbufFormat*>(f->data);
      gchar* name = gdk_pixbuf_format_get_name(format);
      if (std::string(name) == want.name) found = format;
      g_free(name);
    }
    g_slist_free(formats);
    ASSERT_NE(found, nullptr) << want.name << " is not among gdk-pixbuf's formats";
    EXPECT_EQ(strings(gdk_pixbuf_format_get_mime_types(found)),
              std::vector<std::string>{want.mime});
    EXPECT_EQ(strings(gdk_pixbuf_format_get_extensions(found)),
              std::vector<std::string>{want.extension});
    EXPECT_FALSE(gdk_pixbuf_format_is_writable(found));
    EXPECT_FALSE(gdk_pixbuf_format_is_disabled(found));
  }
}

std::string guessedType(const char* name, const Bytes& data) {
  gchar* type =
      g_content_type_guess(name, data.empty() ? nullptr : data.data(), data.size(), nullptr);
  gchar* mime = g_content_type_get_mime_type(type);
  std::string result = mime ? mime : "";
  g_free(mime);
  g_free(type);
  return result;
}

// A GRA header begins like a TrueType font's (00 01 00 00 00), and *.gra is also another
// program's type: the signature must decide both.
TEST(Registration, MimeDatabaseKnowsBothTypesByContentsAndByName) {
  for (const std::string& name : sampleNames()) {
    const Bytes data = readFile(samplePath(name));
    const std::string type = isGra(name) ? "image/x-gra" : "image/x-q-picture";
    EXPECT_EQ(guessedType(nullptr, data), type) << name << " by its contents";
    EXPECT_EQ(guessedType(name.c_str(), data), type) << name << " by its name and contents";
    EXPECT_EQ(guessedType("picture.bin", data), type) << name << " under another name";
  }
  EXPECT_EQ(guessedType("picture.q", {}), "image/x-q-picture");
  EXPECT_EQ(guessedType("PICTURE.Q", {}), "image/x-q-picture");
}

// --- Every sample ---------------------------------------------------------------------------

class Samples : public testing::TestWithParam<std::string> {};

// A loader that finds the format itself, fed 61 bytes at a time: the picture as decoded from
// memory, so a GRA picture without its companion files.
TEST_P(Samples, LoadInSmallPiecesMatchesPlaneconvWithoutCompanions) {
  PieceLoad load = loadInPieces(readFile(samplePath(GetParam())), 61, nullptr);
  ASSERT_TRUE(load.ok) << load.error;
  EXPECT_EQ(load.format, isGra(GetParam()) ? "gra" : "q");
  EXPECT_EQ(load.announcedWidth, 640);
  EXPECT_EQ(load.announcedHeight, 400);
  EXPECT_EQ(differences(load.pixbuf.get(), References::picture(GetParam(), false)), "");
}

// The size goes out as soon as the header is in, not when the last byte is: a program that asks
// for the size only (gdk_pixbuf_get_file_info) need not feed the whole file.
TEST_P(Samples, SizeIsAnnouncedOnceTheHeaderIsIn) {
  const Bytes bytes = readFile(samplePath(GetParam()));
  constexpr std::size_t kPiece = 16;
  PieceLoad load = loadInPieces(bytes, kPiece, isGra(GetParam()) ? "gra" : "q");
  ASSERT_TRUE(load.ok) << load.error;
  // The longest header: a Q header of 134 bytes and a 16-colour table of 524.
  EXPECT_GT(load.announcedAt, 0u);
  EXPECT_LE(load.announcedAt, 134u + 524u + kPiece);
  EXPECT_LT(load.announcedAt, bytes.size());

  gint width = 0, height = 0;
  GdkPixbufFormat* format =
      gdk_pixbuf_get_file_info(samplePath(GetParam()).c_str(), &width, &height);
  ASSERT_NE(format, nullptr);
  gchar* name = gdk_pixbuf_format_get_name(format);
  EXPECT_STREQ(name, isGra(GetParam()) ? "gra" : "q");
  g_free(name);
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 400);
}

INSTANTIATE_TEST_SUITE_P(Pictures, Samples, testing::ValuesIn(sampleNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// --- The pinned outputs ----------------------------------------------------------------------

// Every picture of the test-picture set, the samples among them, loaded by file name beside its
// companions, shows the colours pinned in tests/expected/decoded.sha256 (a pixbuf has no
// indices or palette, and its comment is made valid UTF-8), and the files the plug-ins refuse
// do not load.
TEST(Pinned, EveryTestPictureShowsThePinnedColours) {
  const pinned::File file = pinned::read(PINNED_FILE);
  ASSERT_EQ(file.error, "");
  const fs::path folder = References::scratch / "pinned";
  const std::vector<pictures::PictureFiles> set = pictures::pinnedSet();
  ASSERT_EQ(pictures::writeAll(folder.string(), set), "");
  for (const pictures::PictureFiles& p : set) {
    Error error;
    PixbufPtr pixbuf(gdk_pixbuf_new_from_file((folder / p.name).c_str(), error.out()));
    pinned::Entry got = pinned::refused(p.name, "refused");
    if (pixbuf) {
      EXPECT_FALSE(gdk_pixbuf_get_has_alpha(pixbuf.get())) << p.name;
      const int width = gdk_pixbuf_get_width(pixbuf.get()),
                channels = gdk_pixbuf_get_n_channels(pixbuf.get());
      const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
      const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf.get());
      Bytes rgb;
      for (int y = 0; y < gdk_pixbuf_get_height(pixbuf.get()); ++y)
        for (int x = 0; x < width; ++x)
          rgb.insert(rgb.end(), pixels + y * stride + x * channels,
                     pixels + y * stride + x * channels + 3);
      got = {p.name, "Ok", "", "", "", pinned::sha256(rgb)};
    }
    EXPECT_EQ(pinned::compare(file, got), "");
  }
}

// --- Companion files and the recovered file name --------------------------------------------

TEST(Companions, ChangeTheTestCard) {
  // Otherwise the tests above could not tell a load that used them from one that did not.
  ReferenceImage with = References::picture("card.gra", true);
  ReferenceImage without = References::picture("card.gra", false);
  EXPECT_NE(with.rgba, without.rgba);
}

// The GRA module's load(FILE*), called as gdk-pixbuf calls it, on a copy of the test card with
// its companions, opened and then treated by change before the call.
class FileLoad : public testing::Test {
 protected:
  void SetUp() override {
    module_ = g_module_open(GRA_MODULE, G_MODULE_BIND_LOCAL);
    ASSERT_NE(module_, nullptr) << g_module_error();
    gpointer fill = nullptr;
    ASSERT_TRUE(g_module_symbol(module_, "fill_vtable", &fill));
    reinterpret_cast<GdkPixbufModuleFillVtableFunc>(fill)(&vtable_);
    ASSERT_NE(vtable_.load, nullptr);

    folder_ = References::scratch / testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(folder_);
    for (const char* name : {"card.gra", "card.rgb", "card.e1"}) {
      fs::copy_file(samplePath(name), folder_ / name);
    }
  }
  void TearDown() override {
    if (module_) g_module_close(module_);
  }

  // The differences of what load makes of file from the test card with or without companions.
  std::string loadAndCompare(std::FILE* file, bool withCompanions) {
    if (!file) return "no file to load";
    Error error;
    PixbufPtr pixbuf(vtable_.load(file, error.out()));
    std::fclose(file);
    if (!pixbuf) return "load failed: " + error.message();
    return differences(pixbuf.get(), References::picture("card.gra", withCompanions));
  }
  std::FILE* openCard() { return std::fopen((folder_ / "card.gra").c_str(), "rb"); }

  GModule* module_ = nullptr;
  GdkPixbufModule vtable_{};
  fs::path folder_;
};

TEST_F(FileLoad, OpenFileFindsItsCompanions) {
  EXPECT_EQ(loadAndCompare(openCard(), true), "");
}

// The descriptor's link now reads "card.gra (deleted)"; a file of that very name is another one.
TEST_F(FileLoad, DeletedFileIsReadFromTheOpenStream) {
  std::FILE* file = openCard();
  fs::remove(folder_ / "card.gra");
  fs::copy_file(samplePath("plain.gra"), folder_ / "card.gra (deleted)");
  EXPECT_EQ(loadAndCompare(file, false), "");
}

// The name now belongs to another picture: reading by name would show that one.
TEST_F(FileLoad, ReplacedFileIsReadFromTheOpenStream) {
  std::FILE* file = openCard();
  fs::copy_file(samplePath("plain.gra"), folder_ / "other.gra");
  fs::rename(folder_ / "other.gra", folder_ / "card.gra");
  EXPECT_EQ(loadAndCompare(file, false), "");
}

TEST_F(FileLoad, MemoryStreamHasNoName) {
  Bytes bytes = readFile(folder_ / "card.gra");
  EXPECT_EQ(loadAndCompare(fmemopen(bytes.data(), bytes.size(), "rb"), false), "");
}

// --- The comment of a Q picture --------------------------------------------------------------

// The comment option of a picture loaded by file name and in pieces; "(none)" when it has none.
std::vector<std::string> commentOptions(const fs::path& file) {
  std::vector<std::string> comments;
  Error error;
  PixbufPtr byName(gdk_pixbuf_new_from_file(file.c_str(), error.out()));
  PieceLoad pieces = loadInPieces(readFile(file), 61, nullptr);
  for (GdkPixbuf* pixbuf : {byName.get(), pieces.pixbuf.get()}) {
    const char* comment = pixbuf ? gdk_pixbuf_get_option(pixbuf, "comment") : "(no picture)";
    comments.push_back(comment ? comment : "(none)");
  }
  return comments;
}

// Q pictures stored by planeconv's writer with and without a comment: the option is the comment's
// code page 932 text, as planeconv shows it, and bytes that are no character there are written
// \xNN (never passed on as bytes that are not UTF-8).
TEST(Comment, QPictureCommentIsThePixbufsCommentOption) {
  const fs::path folder = References::scratch / "comments";
  fs::create_directories(folder);
  const std::string png = (References::scratch / "withCompanions" / "eight.png").string();
  const struct {
    const char* name;
    std::vector<std::string> comment;  // the --comment option
    const char* option;
  } cases[] = {
      {"commented.q", {"--comment", "Harbour at dusk, 1992"}, "Harbour at dusk, 1992"},
      {"japanese.q", {"--comment", "港の夕暮れ ｶﾅ"}, "港の夕暮れ ｶﾅ"},
      {"plain.q", {}, "(none)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{PLANECONV, "encode", png, (folder / c.name).string()};
    args.insert(args.end(), c.comment.begin(), c.comment.end());
    ProgramRun encode = runProgram(args);
    ASSERT_TRUE(encode.exitedWithZero) << encode.output();
    EXPECT_EQ(commentOptions(folder / c.name), (std::vector<std::string>{c.option, c.option}));
  }
  EXPECT_EQ(commentOptions(samplePath("card.gra")), (std::vector<std::string>{"(none)", "(none)"}));

  // Bytes that are no character: 0x80, and a lead byte before a space.
  Bytes odd = readFile(folder / "commented.q");
  const std::string bytes = "\x93\xfa\x96\x7b\x80 \x82 ";
  std::copy(bytes.begin(), bytes.end(), odd.begin());
  const fs::path oddPath = folder / "odd.q";
  std::ofstream(oddPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(odd.data()), static_cast<std::streamsize>(odd.size()));
  const std::string shown = "日本\\x80 \\x82 at dusk, 1992";
  EXPECT_EQ(commentOptions(oddPath), (std::vector<std::string>{shown, shown}));
}

// --- Without installing ---------------------------------------------------------------------

// The loader cache lists the system's own modules too, so that programs started this way open
// every other format as before.
TEST(WithoutInstalling, SystemModulesStayListed) {
  std::ifstream in(LOADERS_CACHE);
  const std::string cache(std::istreambuf_iterator<char>(in), {});
  int system = 0;
  for (const auto& entry : fs::directory_iterator(SYSTEM_MODULE_DIR)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".so" || name == "libpixbufloader-gra.so" ||
        name == "libpixbufloader-q.so") {
      continue;
    }
    ++system;
    EXPECT_NE(cache.find("\"" + entry.path().string() + "\""), std::string::npos) << name;
  }
  EXPECT_GT(system, 0) << "no system modules in " SYSTEM_MODULE_DIR;
  EXPECT_NE(cache.find("libpixbufloader-gra.so\""), std::string::npos);
  EXPECT_NE(cache.find("libpixbufloader-q.so\""), std::string::npos);

  // A format of a system module: planeconv's BMP of a sample (the BMP module is in every
  // gdk-pixbuf).
  const fs::path bmp = References::scratch / "gradient.bmp";
  ProgramRun convert = runProgram({PLANECONV, "convert", samplePath("gradient.q").string(), "-o",
                                   bmp.string(), "--format", "bmp"});
  ASSERT_TRUE(convert.exitedWithZero) << convert.output();
  Error error;
  PixbufPtr pixbuf(gdk_pixbuf_new_from_file(bmp.c_str(), error.out()));
  ASSERT_TRUE(pixbuf) << error.message();
  EXPECT_EQ(differences(pixbuf.get(), References::picture("gradient.q", true)), "");
}

// XDG_DATA_DIRS keeps the system's folders, where GLib finds the GSettings schemas that GTK
// programs need to start.
TEST(WithoutInstalling, GSettingsSchemasAreFound) {
  bool systemHasSchemas = false;
  for (const gchar* const* dir = g_get_system_data_dirs(); *dir; ++dir) {
    if (std::string(*dir) == MIME_DATA_DIR) continue;
    systemHasSchemas |= fs::exists(fs::path(*dir) / "glib-2.0/schemas/gschemas.compiled");
  }
  if (!systemHasSchemas) GTEST_SKIP() << "the system has no compiled GSettings schemas";
  EXPECT_NE(g_settings_schema_source_get_default(), nullptr);
}

// --- Bad input: an error in words, never a crash --------------------------------------------

// The outcome of one bad file through both ways in.
void expectRefused(const std::string& sample, const Bytes& bytes, const std::string& what) {
  SCOPED_TRACE(what);
  const std::string type = isGra(sample) ? "gra" : "q";
  PieceLoad load = loadInPieces(bytes, 1000, type.c_str());
  EXPECT_FALSE(load.ok);
  EXPECT_FALSE(load.pixbuf);
  EXPECT_NE(load.error.find(titleOf(sample)), std::string::npos) << load.error;
  // Damaged data or another kind of file, not a failure of the loader itself.
  EXPECT_EQ(load.errorCode, GDK_PIXBUF_ERROR_CORRUPT_IMAGE) << load.error;

  // By file name, gdk-pixbuf chooses the module itself: ours when the signature is still there,
  // else none. Either way an error.
  fs::path file = References::scratch / ("bad." + type);
  writeFile(file, bytes);
  Error error;
  PixbufPtr pixbuf(gdk_pixbuf_new_from_file(file.c_str(), error.out()));
  EXPECT_FALSE(pixbuf);
  EXPECT_TRUE(error);
  EXPECT_NE(error.message(), "");
}

TEST(Failures, TruncatedFilesGiveAnError) {
  for (const std::string& name : sampleNames()) {
    const Bytes whole = readFile(samplePath(name));
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16},
                               std::size_t{47}, std::size_t{48}, std::size_t{134}, std::size_t{600},
                               whole.size() / 2, whole.size() - 1}) {
      if (length >= whole.size()) continue;
      expectRefused(name, Bytes(whole.begin(), whole.begin() + static_cast<long>(length)),
                    name + " cut to " + std::to_string(length) + " bytes");
    }
  }
}

TEST(Failures, RandomFilesGiveAnError) {
  std::mt19937 random(7);
  for (const char* name : {"random.gra", "random.q"}) {
    for (std::size_t size : {1, 15, 100, 700, 3000, 20000}) {
      Bytes bytes(size);
      for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
      expectRefused(name, bytes, std::string(name) + ", " + std::to_string(size) + " bytes");
    }
  }
}

// A file of zeros decodes as a black GRA picture (every line pair repeats the last) unless the
// signature is looked at: IsSupported keeps it out, and says why.
TEST(Failures, FileWithoutTheSignatureIsNotDecoded) {
  const Bytes zeros(4000, 0);
  PieceLoad gra = loadInPieces(zeros, 1000, "gra");
  EXPECT_FALSE(gra.ok);
  EXPECT_EQ(gra.error, "not a GRA picture: no \"WED\" signature at byte 13");
  PieceLoad q = loadInPieces(zeros, 1000, "q");
  EXPECT_FALSE(q.ok);
  EXPECT_EQ(q.error, "not a Q picture: no \"MAJYO\" signature at byte 43");
}

// A real header over random data decodes to some picture or fails with a message; it never
// crashes and never ends without either.
TEST(Failures, RandomDataAfterARealHeaderNeverCrashes) {
  std::mt19937 random(11);
  const struct {
    const char* sample;
    std::size_t header;  // bytes of the sample kept: its header, and a Q picture's table block
  } cases[] = {{"card.gra", 16}, {"window.gra", 16}, {"gradient.q", 658}, {"eight.q", 534}};
  for (const auto& c : cases) {
    const Bytes whole = readFile(samplePath(c.sample));
    for (int round = 0; round < 20; ++round) {
      Bytes bytes(whole.begin(), whole.begin() + static_cast<long>(c.header));
      bytes.resize(whole.size());
      for (std::size_t i = c.header; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(random());
      }
      PieceLoad load = loadInPieces(bytes, 4096, isGra(c.sample) ? "gra" : "q");
      if (load.ok) {
        ASSERT_TRUE(load.pixbuf) << c.sample;
        EXPECT_EQ(gdk_pixbuf_get_width(load.pixbuf.get()), 640);
        EXPECT_EQ(gdk_pixbuf_get_height(load.pixbuf.get()), 400);
      } else {
        EXPECT_NE(load.error.find(titleOf(c.sample)), std::string::npos) << load.error;
      }
    }
  }
}

// The plug-in reads no byte past the largest file of its format, and neither does the module:
// bytes after it never count, however many follow (here more than any earlier limit allowed),
// through both ways in.
TEST(LongFiles, BytesPastTheLargestFileDoNotCount) {
  for (const std::string sample : {"card.gra", "gradient.q"}) {
    SCOPED_TRACE(sample);
    const std::string type = isGra(sample) ? "gra" : "q";
    Bytes bytes = readFile(samplePath(sample));
    const auto format = isGra(sample) ? host::PictureFormat::Gra : host::PictureFormat::Q;
    ASSERT_LT(bytes.size(), host::largestFile(format));
    bytes.resize((std::size_t{16} << 20) + 1, 0xA5);
    PieceLoad load = loadInPieces(bytes, 1 << 20, type.c_str());
    ASSERT_TRUE(load.ok) << load.error;
    EXPECT_EQ(differences(load.pixbuf.get(), References::picture(sample, false)), "");

    const fs::path file = References::scratch / ("long." + type);  // no companions beside it
    writeFile(file, bytes);
    Error error;
    PixbufPtr pixbuf(gdk_pixbuf_new_from_file(file.c_str(), error.out()));
    ASSERT_TRUE(pixbuf) << error.message();
    EXPECT_EQ(differences(pixbuf.get(), References::picture(sample, false)), "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // docs/desktop.md's route without installing: the loader cache of the system's modules and ours,
  // and our MIME types before the system's data folders.
  const char* dataDirs = g_getenv("XDG_DATA_DIRS");
  const std::string dirs = std::string(MIME_DATA_DIR) + ":" +
                           (dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
  g_setenv("GDK_PIXBUF_MODULE_FILE", LOADERS_CACHE, TRUE);
  g_setenv("XDG_DATA_DIRS", dirs.c_str(), TRUE);
  g_setenv("XDG_DATA_HOME", TEST_DATA_HOME, TRUE);  // none of the user's own types
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new References);
  return RUN_ALL_TESTS();
}
