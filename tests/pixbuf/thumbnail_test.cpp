// SPDX-License-Identifier: MIT
// The desktop component as installed, and its thumbnails as a file manager makes them.
//
// The environment installs the component desktop into a scratch prefix as `make install
// PREFIX=...` does (which also builds the MIME database there), lists the system's gdk-pixbuf
// modules and the installed ones in a loader cache, and points GIO and gdk-pixbuf at both, the
// system's folders after the staged ones. Then, for every sample and for pictures stored by
// planeconv's writers (a GRA picture with both companion files, with its palette only and
// alone; a Q picture), in a folder whose name needs percent-encoding in a URI: the type that
// GIO gives the file chooses the installed thumbnailer entry, whose Exec line runs with %s,
// %u, %i and %o substituted as a file manager does. The thumbnails must be the picture
// planeconv converts (with the same companions), scaled down by a box filter.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/pixbuf/glib_test_support.h"
#include "tests/pixbuf/png_reference.h"

namespace fs = std::filesystem;

namespace {

std::string uriOf(const fs::path& path) {
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  std::string result = uri ? uri : "";
  g_free(uri);
  return result;
}

// A picture to thumbnail and the type it must have.
struct Picture {
  std::string name;  // for messages and test names
  fs::path path;
  std::string type;
};

// --- The staged installation and the pictures ------------------------------------------------

// The pictures' names: every sample, then the writer pictures.
std::vector<std::string> pictureNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(SAMPLES_DIR)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".gra" || ext == ".q") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  for (const char* name :
       {"art_gra_with_companions", "art_gra_with_palette_only", "art_gra_alone", "art_q"}) {
    names.push_back(name);
  }
  return names;
}

class Stage : public testing::Environment {
 public:
  static inline fs::path scratch, prefix, pictures, references;
  static inline std::vector<Picture> all;

  static const Picture& byName(const std::string& name) {
    for (const Picture& p : all) {
      if (p.name == name) return p;
    }
    throw std::out_of_range("no picture " + name);
  }

  void SetUp() override {
    gchar* dir = g_dir_make_tmp("thumbnail-tests-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    scratch = dir;
    g_free(dir);
    prefix = scratch / "prefix";
    references = scratch / "references";
    pictures = scratch / "pictures ü #1 100%";  // a URI must percent-encode this
    fs::create_directories(references);
    fs::create_directories(pictures);
    fs::create_directories(scratch / "data-home");

    // make install PREFIX=... : the files, and the MIME database built in the prefix.
    ProgramRun install = runProgram({CMAKE_COMMAND, "--install", BUILD_DIR, "--component",
                                     "desktop", "--prefix", prefix.string()},
                                    {"DESTDIR"});
    ASSERT_TRUE(install.exitedWithZero) << install.out << install.err;
    ASSERT_TRUE(fs::exists(prefix / "share/mime/mime.cache")) << install.out;

    // The system's modules and the installed ones, as a desktop with them installed has them.
    std::vector<std::string> query{QUERY_LOADERS};
    for (const auto& entry : fs::directory_iterator(SYSTEM_MODULE_DIR)) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".so" && name != "libpixbufloader-gra.so" &&
          name != "libpixbufloader-q.so") {
        query.push_back(entry.path().string());
      }
    }
    for (const char* module : {"libpixbufloader-gra.so", "libpixbufloader-q.so"}) {
      query.push_back((prefix / MODULE_INSTALL_DIR / module).string());
    }
    ProgramRun cache = runProgram(query);
    ASSERT_TRUE(cache.exitedWithZero) << cache.err;
    writeFile(scratch / "loaders.cache", Bytes(cache.out.begin(), cache.out.end()));

    const char* systemDirs = g_getenv("XDG_DATA_DIRS");
    const std::string dataDirs =
        (prefix / "share").string() + ":" +
        (systemDirs && *systemDirs ? systemDirs : "/usr/local/share:/usr/share");
    g_setenv("XDG_DATA_DIRS", dataDirs.c_str(), TRUE);
    g_setenv("XDG_DATA_HOME", (scratch / "data-home").c_str(), TRUE);  // none of the user's
    g_setenv("GDK_PIXBUF_MODULE_FILE", (scratch / "loaders.cache").c_str(), TRUE);

    for (const std::string& name : pictureNames()) {
      const fs::path path = fs::path(SAMPLES_DIR) / name;
      if (fs::exists(path)) {
        all.push_back(
            {name, path, path.extension() == ".gra" ? "image/x-gra" : "image/x-q-picture"});
      }
    }
    storeWriterPictures();
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
  }

  // 16 colours of the writer pictures, none of them a default colour, on stripes, rings and
  // one-pixel checks that scaling has to average.
  static GdkPixbuf* drawArt() {
    GdkPixbuf* art = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 640, 400);
    const int stride = gdk_pixbuf_get_rowstride(art);
    guchar* pixels = gdk_pixbuf_get_pixels(art);
    for (int y = 0; y < 400; ++y) {
      for (int x = 0; x < 640; ++x) {
        const int dx = x - 320, dy = y - 200;
        int colour = (x / 43 + (dx * dx + dy * dy) / 2500) % 16;
        if (y > 300 && (x + y) % 2) colour = 15 - colour;
        guchar* p = pixels + y * stride + x * 3;
        p[0] = static_cast<guchar>(17 * ((colour * 7 + 3) % 16));
        p[1] = static_cast<guchar>(17 * ((colour * 5 + 1) % 16));
        p[2] = static_cast<guchar>(17 * ((colour * 3 + 2) % 16));
      }
    }
    return art;
  }

  static void storeWriterPictures() {
    GdkPixbuf* art = drawArt();
    const fs::path png = scratch / "art.png";
    ASSERT_TRUE(gdk_pixbuf_save(art, png.c_str(), "png", nullptr, nullptr));
    g_object_unref(art);
    ProgramRun gra =
        runProgram({PLANECONV, "encode", png.string(), (pictures / "art.gra").string()});
    ASSERT_TRUE(gra.exitedWithZero) << gra.err;
    ProgramRun q = runProgram({PLANECONV, "encode", png.string(), (pictures / "art.q").string(),
                               "--comment", "Stored by the writer"});
    ASSERT_TRUE(q.exitedWithZero) << q.err;
    // The same GRA picture with its palette only, and alone.
    fs::create_directories(pictures / "palette only");
    fs::create_directories(pictures / "alone");
    for (const char* name : {"art.gra", "art.rgb"}) {
      fs::copy_file(pictures / name, pictures / "palette only" / name);
    }
    fs::copy_file(pictures / "art.gra", pictures / "alone" / "art.gra");
    all.push_back({"art_gra_with_companions", pictures / "art.gra", "image/x-gra"});
    all.push_back(
        {"art_gra_with_palette_only", pictures / "palette only" / "art.gra", "image/x-gra"});
    all.push_back({"art_gra_alone", pictures / "alone" / "art.gra", "image/x-gra"});
    all.push_back({"art_q", pictures / "art.q", "image/x-q-picture"});
  }

  // planeconv's PNG of a picture, converted where it lies (so with the same companions).
  static ReferenceImage reference(const Picture& picture) {
    const fs::path png = references / (picture.name + ".png");
    if (!fs::exists(png)) {
      ProgramRun convert =
          runProgram({PLANECONV, "convert", picture.path.string(), "-o", png.string()});
      EXPECT_TRUE(convert.exitedWithZero) << convert.err;
    }
    ReferenceImage image;
    EXPECT_EQ(readReferencePng(png.string(), image), "");
    return image;
  }
};

// --- The thumbnailer as a file manager runs it -----------------------------------------------

std::string contentType(const fs::path& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                      G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
  std::string type;
  if (info) {
    gchar* mime = g_content_type_get_mime_type(g_file_info_get_content_type(info));
    type = mime ? mime : "";
    g_free(mime);
    g_object_unref(info);
  }
  g_object_unref(file);
  return type;
}

struct Entry {
  std::string tryExec;
  std::string exec;
  std::vector<std::string> mimeTypes;
};

// The installed thumbnailer entries, as a file manager reads them.
std::vector<Entry> installedEntries() {
  std::vector<Entry> entries;
  for (const auto& file : fs::directory_iterator(Stage::prefix / "share/thumbnailers")) {
    GKeyFile* keys = g_key_file_new();
    if (g_key_file_load_from_file(keys, file.path().c_str(), G_KEY_FILE_NONE, nullptr)) {
      Entry entry;
      gchar* value = g_key_file_get_string(keys, "Thumbnailer Entry", "TryExec", nullptr);
      entry.tryExec = value ? value : "";
      g_free(value);
      value = g_key_file_get_string(keys, "Thumbnailer Entry", "Exec", nullptr);
      entry.exec = value ? value : "";
      g_free(value);
      entry.mimeTypes = strings(
          g_key_file_get_string_list(keys, "Thumbnailer Entry", "MimeType", nullptr, nullptr));
      entries.push_back(entry);
    }
    g_key_file_free(keys);
  }
  return entries;
}

// The entry's command for one file: the Exec line split into arguments, then %s, %u, %i, %o
// and %% replaced within each.
std::vector<std::string> commandFor(const Entry& entry, int size, const fs::path& input,
                                    const fs::path& output) {
  gchar** argv = nullptr;
  if (!g_shell_parse_argv(entry.exec.c_str(), nullptr, &argv, nullptr)) return {};
  std::vector<std::string> command;
  for (const std::string& arg : strings(argv)) {
    std::string expanded;
    for (std::size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] != '%' || i + 1 == arg.size()) {
        expanded += arg[i];
        continue;
      }
      switch (arg[++i]) {
        case 's':
          expanded += std::to_string(size);
          break;
        case 'u':
          expanded += uriOf(input);
          break;
        case 'i':
          expanded += input.string();
          break;
        case 'o':
          expanded += output.string();
          break;
        case '%':
          expanded += '%';
          break;
        default:
          break;
      }
    }
    command.push_back(expanded);
  }
  return command;
}

// Runs the installed entry for the file's type; answers the thumbnail's reading error, empty
// when it was written and read.
std::string thumbnail(const Picture& picture, int size, const fs::path& output,
                      ReferenceImage& image) {
  const std::string type = contentType(picture.path);
  const Entry* chosen = nullptr;
  const std::vector<Entry> entries = installedEntries();
  for (const Entry& entry : entries) {
    if (std::count(entry.mimeTypes.begin(), entry.mimeTypes.end(), type)) chosen = &entry;
  }
  if (!chosen) return "no installed thumbnailer entry for the type \"" + type + "\"";
  ProgramRun thumbnailer = runProgram(commandFor(*chosen, size, picture.path, output));
  if (!thumbnailer.exitedWithZero) return "the thumbnailer failed: " + thumbnailer.err;
  return readReferencePng(output.string(), image);
}

// Every channel of every thumbnail pixel against the mean of the picture's area it covers,
// computed in floating point: the largest difference.
int largestDifferenceFromBoxFilter(const ReferenceImage& thumb, const ReferenceImage& picture) {
  const double sx = double(picture.width) / thumb.width, sy = double(picture.height) / thumb.height;
  int largest = 0;
  for (int ty = 0; ty < thumb.height; ++ty) {
    for (int tx = 0; tx < thumb.width; ++tx) {
      const double x0 = tx * sx, x1 = x0 + sx, y0 = ty * sy, y1 = y0 + sy;
      double sum[3] = {0, 0, 0};
      for (int y = int(y0); y < std::ceil(y1); ++y) {
        const double wy = std::min(y1, y + 1.0) - std::max(y0, double(y));
        for (int x = int(x0); x < std::ceil(x1); ++x) {
          const double w = wy * (std::min(x1, x + 1.0) - std::max(x0, double(x)));
          for (int c = 0; c < 3; ++c) {
            sum[c] += w * picture.rgba[(std::size_t(y) * picture.width + x) * 4 + c];
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        const int got = thumb.rgba[(std::size_t(ty) * thumb.width + tx) * 4 + c];
        largest = std::max(largest, int(std::lround(std::abs(got - sum[c] / (sx * sy)))));
      }
    }
  }
  return largest;
}

class Thumbnails : public testing::TestWithParam<std::string> {
 protected:
  const Picture& picture() const { return Stage::byName(GetParam()); }
};

TEST_P(Thumbnails, AreThePictureScaledDownByABoxFilter) {
  const ReferenceImage reference = Stage::reference(picture());
  ASSERT_EQ(reference.width, 640);
  const struct {
    int size, width, height;
  } sizes[] = {{128, 128, 80}, {256, 256, 160}, {640, 640, 400}, {1024, 640, 400}};
  for (const auto& s : sizes) {
    SCOPED_TRACE("size " + std::to_string(s.size));
    const fs::path out = Stage::scratch / (picture().name + "-" + std::to_string(s.size) + ".png");
    ReferenceImage thumb;
    ASSERT_EQ(thumbnail(picture(), s.size, out, thumb), "");
    ASSERT_EQ(thumb.width, s.width);
    ASSERT_EQ(thumb.height, s.height);
    if (s.width == 640) {
      EXPECT_TRUE(thumb.rgba == reference.rgba) << "not planeconv's picture pixel for pixel";
    } else {
      EXPECT_LE(largestDifferenceFromBoxFilter(thumb, reference), 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Pictures, Thumbnails, testing::ValuesIn(pictureNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// The references above are planeconv's; these hold them to the picture that was stored.
TEST(WriterPictures, CompanionsMakeTheDifference) {
  GdkPixbuf* art = Stage::drawArt();
  const guchar* pixels = gdk_pixbuf_read_pixels(art);
  const int stride = gdk_pixbuf_get_rowstride(art);
  Bytes drawn;
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 640; ++x) {
      drawn.insert(drawn.end(), pixels + y * stride + x * 3, pixels + y * stride + x * 3 + 3);
      drawn.push_back(255);
    }
  }
  g_object_unref(art);
  std::vector<Bytes> seen;
  for (const char* name :
       {"art_gra_with_companions", "art_gra_with_palette_only", "art_gra_alone", "art_q"}) {
    seen.push_back(Stage::reference(Stage::byName(name)).rgba);
  }
  EXPECT_TRUE(seen[0] == drawn) << "the GRA picture with companions is not what was drawn";
  EXPECT_TRUE(seen[3] == drawn) << "the Q picture is not what was drawn";
  EXPECT_NE(seen[0], seen[1]);  // without the fourth plane
  EXPECT_NE(seen[1], seen[2]);  // without the palette either
}

// What every PNG of the thumbnailer is: 8-bit RGB, not interlaced, with the picture's size in
// the text chunks gdk-pixbuf's thumbnailer writes.
TEST(Format, ThumbnailIsAnRgbPngThatCarriesThePictureSize) {
  const fs::path out = Stage::scratch / "format.png";
  ReferenceImage thumb;
  ASSERT_EQ(thumbnail(Stage::all.at(0), 128, out, thumb), "");
  const Bytes png = readFile(out);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png[24], 8);  // bit depth
  EXPECT_EQ(png[25], 2);  // colour type RGB
  EXPECT_EQ(png[28], 0);  // not interlaced
  const std::string bytes(png.begin(), png.end());
  using namespace std::string_literals;
  for (const std::string& chunk : {"tEXtThumb::Image::Width\0"
                                   "640"s,
                                   "tEXtThumb::Image::Height\0"
                                   "400"s}) {
    EXPECT_NE(bytes.find(chunk), std::string::npos) << chunk.c_str();
  }
}

// The installed modules, through the loader cache that lists them with the system's: every
// picture opened by name as planeconv converts it, and a Q picture's comment as the pixbuf's
// "comment" option, as planeconv shows it.
TEST(InstalledModules, OpenEveryPictureWithItsCompanionsAndComment) {
  for (const Picture& p : Stage::all) {
    SCOPED_TRACE(p.name);
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(p.path.c_str(), &error);
    ASSERT_NE(pixbuf, nullptr) << error->message;
    const ReferenceImage reference = Stage::reference(p);
    Bytes rgba;
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y) {
      for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x) {
        const guchar* at = pixels + y * gdk_pixbuf_get_rowstride(pixbuf) + x * 3;
        rgba.insert(rgba.end(), {at[0], at[1], at[2], 255});
      }
    }
    EXPECT_TRUE(rgba == reference.rgba);

    ProgramRun info = runProgram({PLANECONV, "info", p.path.string()});
    const std::size_t at = info.out.find("comment:   \"");
    const char* comment = gdk_pixbuf_get_option(pixbuf, "comment");
    if (at == std::string::npos) {
      EXPECT_EQ(comment, nullptr);
    } else {
      const std::size_t begin = at + 12;
      EXPECT_EQ(comment ? comment : "(none)",
                info.out.substr(begin, info.out.find("\"\n", begin) - begin));
    }
    g_object_unref(pixbuf);
  }
}

// --- The entry and the types ------------------------------------------------------------------

TEST(Entry, NamesTheInstalledThumbnailerForBothTypes) {
  const std::vector<Entry> entries = installedEntries();
  ASSERT_EQ(entries.size(), 1u);
  const std::string program = (Stage::prefix / "bin/planethumb").string();
  EXPECT_EQ(entries[0].tryExec, program);
  EXPECT_EQ(entries[0].exec, program + " -s %s %u %o");
  EXPECT_EQ(entries[0].mimeTypes, (std::vector<std::string>{"image/x-gra", "image/x-q-picture"}));
  EXPECT_EQ(access(program.c_str(), X_OK), 0);
}

// xdg-mime asks GIO (`gio info`) in a GNOME session and File::MimeInfo (`mimetype`) outside
// GNOME and KDE; both must name our types, by contents where the name says nothing or is also
// another type's (*.gra).
TEST(Types, GioAndXdgMimeNameThemByContents) {
  gchar* mimetype = g_find_program_in_path("mimetype");
  const bool found = mimetype != nullptr;
  g_free(mimetype);
  ASSERT_TRUE(found)
      << "no mimetype (libfile-mimeinfo-perl): xdg-mime would fall back to file(1), which "
         "knows no shared-mime-info types";
  std::vector<Picture> pictures = Stage::all;
  fs::copy_file(SAMPLES_DIR "/card.gra", Stage::scratch / "card.bin");
  fs::copy_file(SAMPLES_DIR "/eight.q", Stage::scratch / "eight.dat");
  pictures.push_back({"card.bin", Stage::scratch / "card.bin", "image/x-gra"});
  pictures.push_back({"eight.dat", Stage::scratch / "eight.dat", "image/x-q-picture"});
  for (const Picture& p : pictures) {
    SCOPED_TRACE(p.name);
    ProgramRun gio =
        runProgram({"gio", "info", "--attributes=standard::content-type", p.path.string()});
    EXPECT_NE(gio.out.find("standard::content-type: " + p.type + "\n"), std::string::npos)
        << gio.out << gio.err;
    for (const char* desktop : {"XDG_CURRENT_DESKTOP", "XDG_CURRENT_DESKTOP=GNOME"}) {
      ProgramRun xdg = runProgram({"xdg-mime", "query", "filetype", p.path.string()}, {desktop});
      EXPECT_EQ(xdg.out, p.type + "\n") << desktop << ": " << xdg.err;
    }
  }
}

// The limit docs/desktop.md states: GIO takes a name that one other type claims alone at its
// word, so a GRA picture named card.txt is text/plain to GIO (and to a GNOME session's
// xdg-mime), while `mimetype` looks at the contents first and names it.
TEST(Types, GioTrustsANameAnotherTypeClaims) {
  fs::copy_file(SAMPLES_DIR "/card.gra", Stage::scratch / "card.txt");
  const std::string path = (Stage::scratch / "card.txt").string();
  ProgramRun gio = runProgram({"gio", "info", "--attributes=standard::content-type", path});
  EXPECT_NE(gio.out.find("standard::content-type: text/plain\n"), std::string::npos)
      << gio.out << gio.err;
  ProgramRun gnome =
      runProgram({"xdg-mime", "query", "filetype", path}, {"XDG_CURRENT_DESKTOP=GNOME"});
  EXPECT_EQ(gnome.out, "text/plain\n") << gnome.err;
  ProgramRun plain = runProgram({"xdg-mime", "query", "filetype", path}, {"XDG_CURRENT_DESKTOP"});
  EXPECT_EQ(plain.out, "image/x-gra\n") << plain.err;
}

// --- Failures: a message, a non-zero exit, and nothing written -------------------------------

TEST(Failures, BadInputLeavesNoOutput) {
  const fs::path folder = Stage::scratch / "failures";
  fs::create_directories(folder / "out");
  std::mt19937 random(5);
  Bytes noise(5000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  writeFile(folder / "noise.gra", noise);
  const Bytes q = readFile(SAMPLES_DIR "/gradient.q");
  writeFile(folder / "cut.q", Bytes(q.begin(), q.begin() + static_cast<long>(q.size() / 2)));
  writeFile(folder / "header.q", Bytes(q.begin(), q.begin() + 134));  // the header alone
  fs::create_directories(folder / "folder.gra");
  const std::string program = (Stage::prefix / "bin/planethumb").string();
  const std::string out = (folder / "out/thumb.png").string();
  const struct {
    std::vector<std::string> args;
    std::string said;  // part of the message
  } cases[] = {
      {{"-s", "128", uriOf(folder / "noise.gra"), out}, "not a GRA picture"},
      {{"-s", "128", uriOf(folder / "cut.q"), out}, "cannot decode the Q picture: the file ends"},
      {{"-s", "128", uriOf(folder / "header.q"), out},
       "header.q: not a Q picture: the file ends after 134 bytes"},
      {{"-s", "128", (folder / "missing.gra").string(), out}, "missing.gra: cannot open"},
      {{"-s", "128", (folder / "folder.gra").string(), out}, "not a regular file"},
      {{"-s", "128", "sftp://host/pictures/card.gra", out}, "not a local file"},
      {{"-s", "128", "file://elsewhere/card.gra", out}, "not a local file"},
      {{"-s", "128", "file:///card%2.gra", out}, "not a valid file URI"},
      {{"-s", "0", SAMPLES_DIR "/card.gra", out}, "SIZE"},
      {{"-s", "12x", SAMPLES_DIR "/card.gra", out}, "SIZE"},
      {{"-s", "128", SAMPLES_DIR "/card.gra"}, "one INPUT and one OUTPUT"},
      {{"-s", "128", SAMPLES_DIR "/card.gra", (folder / "folder.gra").string()},
       "not a regular file"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{program};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(args));
    ProgramRun result = runProgram(args);
    EXPECT_FALSE(result.exitedWithZero);
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    // One wording per reason: a reason is not said twice over, nor with a result code's name.
    EXPECT_EQ(result.err.find("picture: not a"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("(BadData)"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(folder / "out"));
  }
}

// A file is read up to the largest file of its format, as every host reads it: what follows
// never counts, however long (here longer than any earlier limit allowed).
TEST(Input, BytesPastTheLargestFileDoNotCount) {
  const fs::path folder = Stage::scratch / "long";
  fs::create_directories(folder);
  const std::string program = (Stage::prefix / "bin/planethumb").string();
  for (const char* sample : {"gradient.q", "plain.gra"}) {
    SCOPED_TRACE(sample);
    Bytes bytes = readFile(fs::path(SAMPLES_DIR) / sample);
    bytes.resize((std::size_t{16} << 20) + 1, 0xA5);
    writeFile(folder / sample, bytes);
    const fs::path whole = folder / "whole.png", long_ = folder / "long.png";
    ProgramRun a =
        runProgram({program, "-s", "640", SAMPLES_DIR "/" + std::string(sample), whole.string()});
    ProgramRun b = runProgram({program, "-s", "640", (folder / sample).string(), long_.string()});
    ASSERT_TRUE(a.exitedWithZero) << a.err;
    ASSERT_TRUE(b.exitedWithZero) << b.err;
    ReferenceImage expected, got;
    ASSERT_EQ(readReferencePng(whole.string(), expected), "");
    ASSERT_EQ(readReferencePng(long_.string(), got), "");
    EXPECT_TRUE(got.rgba == expected.rgba);
  }
}

// The thumbnail cache expects its output path replaced; the picture and its companions are
// never replaced.
TEST(Output, ReplacesAFileButNeverAnInput) {
  const fs::path folder = Stage::scratch / "replace";
  fs::create_directories(folder);
  for (const char* name : {"card.gra", "card.rgb", "card.e1"}) {
    fs::copy_file(fs::path(SAMPLES_DIR) / name, folder / name);
  }
  const std::string program = (Stage::prefix / "bin/planethumb").string();
  writeFile(folder / "old.png", Bytes(10, 1));
  // A URI as another program may spell it: the scheme in capitals, the host "localhost".
  const std::string uri = "FILE://localhost" + uriOf(folder / "card.gra").substr(7);
  ProgramRun replaced = runProgram({program, "-s", "64", uri, (folder / "old.png").string()});
  EXPECT_TRUE(replaced.exitedWithZero) << replaced.err;
  ReferenceImage thumb;
  EXPECT_EQ(readReferencePng((folder / "old.png").string(), thumb), "");
  EXPECT_EQ(thumb.width, 64);

  for (const char* input : {"card.gra", "card.rgb", "card.e1"}) {
    const Bytes before = readFile(folder / input);
    ProgramRun refused = runProgram(
        {program, "-s", "64", (folder / "card.gra").string(), (folder / input).string()});
    EXPECT_FALSE(refused.exitedWithZero) << input;
    EXPECT_NE(refused.err.find("which the thumbnail is made from"), std::string::npos)
        << refused.err;
    EXPECT_EQ(readFile(folder / input), before) << input;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 4);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new Stage);
  return RUN_ALL_TESTS();
}
