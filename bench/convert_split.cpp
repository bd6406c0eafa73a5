// SPDX-License-Identifier: MIT
// convert_split: where `planeconv convert` spends its time, stage by stage.
//
//   convert_split [COUNT]                    (default 1000), then the folder below
//   convert_split --folder N [--keep DIR]    the folder alone, of N pictures
//
// Writes a collection of COUNT pictures to a temporary folder (the samples and the busy
// pictures of decode_bench, in turn, GRA pictures with their companion files where they have
// them), then converts each to PNG the way planeconv convert does on one thread, with the same
// host library calls, and times each stage: reading the file, recognising it (IsSupported),
// decoding it (GetPictureInfo and GetPicture by name, the blocks taken over, as planeconv
// calls them), PNG encoding and writing the PNG (through a temporary name). Prints the seconds
// and the share of each.
//
// Then the PNG stage alone, on each of decode_bench's pictures (the samples, the busy and the
// noise pictures): today's writer, host::encodePng (libdeflate), against the one before it,
// libpng at zlib's level 6, on the same rows, after checking that both read back through libpng
// to the same pixels and palette. The median processor time of each, the sizes and their
// ratios; then the totals over the set for encodePng and for each libdeflate level alone,
// which is what chose encodePng's levels (host/png_writer.h).
//
// Last, a folder as users keep them: N pictures (10,000 by default) drawn by the test-picture
// library in one folder, 60 % GRA (one in ten of them with its palette and fourth-plane files,
// the others alone) and 40 % Q, converted as planeconv convert -j 1 does (a folder listing kept
// for the run, each picture read and decoded by name, then its PNG encoded). Prints the time a
// picture of each kind takes to be read and decoded (a GRA picture without companions should
// cost about what a Q picture costs, however large the folder), how often the folder was read,
// and the PNG stage against libpng at zlib level 6 on the same rows. --keep writes the folder
// into DIR and leaves it there, for timing planeconv itself on it.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_pictures.h"
#include "framework/native_names.h"
#include "host/companions.h"
#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/png_writer.h"
#include "tests/support/pictures.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Stage {
  const char* name;
  double seconds = 0;
};

void writeOrDie(const std::string& path, const Bytes& bytes) {
  if (host::Result r = host::writeFileAtomically(path, bytes, true); !r) {
    std::fprintf(stderr, "convert_split: %s: %s\n", path.c_str(), r.reason.c_str());
    std::exit(1);
  }
}

// The collection: copies of the pictures that a user would keep (the noise pictures left out),
// each GRA picture decoded by name beside the companion files it came with.
std::vector<std::string> writeCollection(const BenchPictures& pictures, const std::string& folder,
                                         int count) {
  std::vector<const BenchPicture*> kinds;
  for (const BenchPicture& p : pictures.all()) {
    if (p.name != "noise" && (p.kind != "gra" || p.name != "card")) kinds.push_back(&p);
  }
  std::vector<std::string> files;
  for (int i = 0; i < count; ++i) {
    const BenchPicture& p = *kinds[static_cast<std::size_t>(i) % kinds.size()];
    const std::string stem = folder + "/" + p.name + "-" + std::to_string(i);
    writeOrDie(p.fileName(stem), p.file);
    if (!p.path.empty()) {
      const std::string source = p.path.substr(0, p.path.rfind('.'));
      const std::vector<std::string> from = p.companionNames(source), to = p.companionNames(stem);
      for (std::size_t c = 0; c < from.size(); ++c) {
        Bytes bytes;
        if (host::readFile(from[c], bytes)) writeOrDie(to[c], bytes);
      }
    }
    files.push_back(p.fileName(stem));
  }
  return files;
}

// The PNG writer before libdeflate, kept for the comparison: libpng at zlib's level 6, which
// leaves palette rows unfiltered.
void appendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp) {}
void quietError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

bool encodeWithLibpng(const host::Picture& picture, Bytes& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  out.clear();
  png_set_write_fn(png, &out, appendToVector, flushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()),
               static_cast<png_uint_32>(picture.height()), 4, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color colors[kPaletteEntries];
  for (int i = 0; i < kPaletteEntries; ++i) {
    const RgbQuad& c = picture.palette[i];
    colors[i] = png_color{c.red, c.green, c.blue};
  }
  png_set_PLTE(png, info, colors, kPaletteEntries);
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  for (int y = 0; y < picture.height(); ++y) {
    png_write_row(png, const_cast<png_bytep>(picture.packedRow(y)));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// The time this thread spends on the processor, in microseconds: unlike the time on the clock,
// the same on a machine that other work keeps busy.
double threadMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// The median processor time of encode, in microseconds, over enough runs to take about a tenth
// of a second (at least 5).
template <typename Encode>
double medianMicroseconds(Encode&& encode) {
  std::vector<double> times;
  double spent = 0;
  while (times.size() < 5 || (spent < 1e5 && times.size() < 1000)) {
    const double start = threadMicroseconds();
    encode();
    times.push_back(threadMicroseconds() - start);
    spent += times.back();
  }
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  return times[times.size() / 2];
}

struct Encoded {
  double microseconds = 0;
  std::size_t bytes = 0;
};

// One picture's PNG stage: libpng at level 6, and the new writer at each level compared.
struct PngStage {
  std::string label;
  Encoded libpng;
  Encoded now;                  // encodePng
  std::vector<Encoded> levels;  // in the order of kLevels
};

constexpr int kLevels[] = {1, 4, 6, 7, 8, 9, 12};

// Both writers' PNGs of picture, read back through libpng: the same indices and palette.
bool sameReadBack(const Bytes& a, const Bytes& b) {
  host::IndexedImage first, second;
  return host::readIndexedPng(a, first) && host::readIndexedPng(b, second) &&
         first.indices == second.indices && first.palette == second.palette &&
         first.width == second.width && first.height == second.height;
}

void comparePngStage(const BenchPictures& pictures) {
  std::vector<PngStage> stages;
  host::PluginSet plugins;
  for (const BenchPicture& p : pictures.all()) {
    if (p.kind == "gra+e1") continue;  // the same rows as the "gra" picture of the same name
    const host::Plugin* plugin = plugins.byFormat(
        p.kind.starts_with("gra") ? host::PictureFormat::Gra : host::PictureFormat::Q);
    host::Picture picture;
    if (host::Result r = host::decode(*plugin, {p.path, p.file}, picture); !r) {
      std::fprintf(stderr, "convert_split: %s: %s\n", p.label().c_str(), r.reason.c_str());
      std::exit(1);
    }
    PngStage stage{p.label(), {}, {}, {}};
    Bytes reference;
    if (!encodeWithLibpng(picture, reference)) {
      std::fprintf(stderr, "convert_split: %s: libpng cannot write it\n", p.label().c_str());
      std::exit(1);
    }
    stage.libpng = {medianMicroseconds([&] { encodeWithLibpng(picture, reference); }),
                    reference.size()};
    Bytes png;
    if (!host::encodePng(picture, png) || !sameReadBack(png, reference)) {
      std::fprintf(stderr, "convert_split: %s: encodePng does not read back as libpng's PNG\n",
                   p.label().c_str());
      std::exit(1);
    }
    stage.now = {medianMicroseconds([&] { host::encodePng(picture, png); }), png.size()};
    host::PngImage image;
    image.width = picture.width();
    image.height = picture.height();
    image.bitDepth = 4;
    image.colorType = host::PngColorType::Palette;
    image.palette = picture.palette;
    image.source = &picture;
    image.row = [](const void* source, int y) {
      return static_cast<const host::Picture*>(source)->packedRow(y);
    };
    for (int level : kLevels) {
      if (!host::writePng(image, png, level) || !sameReadBack(png, reference)) {
        std::fprintf(stderr, "convert_split: %s: level %d does not read back as libpng's PNG\n",
                     p.label().c_str(), level);
        std::exit(1);
      }
      stage.levels.push_back(
          {medianMicroseconds([&] { host::writePng(image, png, level); }), png.size()});
    }
    stages.push_back(std::move(stage));
  }
  std::printf(
      "\nThe PNG stage on the same rows: libpng at zlib level 6 (before) against encodePng "
      "(libdeflate level %d; now), median microseconds of processor time\n",
      host::kPngLevel);
  std::printf("  %-16s %9s %9s %8s %9s %9s %8s\n", "picture", "zlib-6 us", "now us", "speed",
              "zlib-6 B", "now B", "size");
  for (const PngStage& s : stages) {
    std::printf("  %-16s %9.0f %9.0f %7.2fx %9zu %9zu %7.3fx\n", s.label.c_str(),
                s.libpng.microseconds, s.now.microseconds,
                s.libpng.microseconds / s.now.microseconds, s.libpng.bytes, s.now.bytes,
                static_cast<double>(s.now.bytes) / static_cast<double>(s.libpng.bytes));
  }
  std::printf(
      "\nThe whole set (%zu pictures) against zlib level 6: encodePng, and each "
      "libdeflate level alone\n",
      stages.size());
  std::printf("  %-10s %10s %8s %10s %8s %14s\n", "writer", "total us", "speed", "total B", "size",
              "largest size");
  double zlibTime = 0;
  std::size_t zlibBytes = 0;
  for (const PngStage& s : stages) {
    zlibTime += s.libpng.microseconds;
    zlibBytes += s.libpng.bytes;
  }
  std::printf("  %-10s %10.0f %8s %10zu %8s %14s\n", "zlib-6", zlibTime, "", zlibBytes, "", "");
  auto total = [&](const char* name, auto&& of) {
    double time = 0;
    std::size_t bytes = 0;
    double largest = 0;
    for (const PngStage& s : stages) {
      const Encoded& e = of(s);
      time += e.microseconds;
      bytes += e.bytes;
      largest =
          std::max(largest, static_cast<double>(e.bytes) / static_cast<double>(s.libpng.bytes));
    }
    std::printf("  %-10s %10.0f %7.2fx %10zu %7.3fx %13.3fx\n", name, time, zlibTime / time, bytes,
                static_cast<double>(bytes) / static_cast<double>(zlibBytes), largest);
  };
  total("encodePng", [](const PngStage& s) -> const Encoded& { return s.now; });
  for (std::size_t i = 0; i < std::size(kLevels); ++i) {
    const std::string name = "level " + std::to_string(kLevels[i]);
    total(name.c_str(), [i](const PngStage& s) -> const Encoded& { return s.levels[i]; });
  }
}

// The kinds of picture in the folder.
enum Kind { GraWithCompanions, GraAlone, Q, kKinds };
constexpr const char* kKindNames[kKinds] = {"GRA with companions", "GRA without companions", "Q"};

// The kind of the i-th picture of the folder: of every ten, six GRA (one GRA picture in ten
// with companions) and four Q.
Kind kindOf(int i) {
  const int tenth = i % 10;
  if (tenth >= 6) return Q;
  return ((i / 10) * 6 + tenth) % 10 == 0 ? GraWithCompanions : GraAlone;
}

// Distinct pictures of each kind, drawn once; the folder holds copies of them under their own
// names, so that no two pictures side by side are the same file.
struct Drawn {
  std::vector<std::vector<pictures::PictureFiles>> byKind{kKinds};
};

Drawn drawPictures() {
  using pictures::Scene;
  const Scene scenes[] = {Scene::Card,    Scene::Gradient, Scene::Busy,   Scene::Bands,
                          Scene::Shapes,  Scene::Mixed,    Scene::Sparse, Scene::Dither,
                          Scene::Flicker, Scene::Eight};
  Drawn drawn;
  unsigned seed = 1;
  for (Scene scene : scenes) {
    for (int variant = 0; variant < 3; ++variant, ++seed) {
      const GraFiles gra = writeGra(pictures::graPicture(scene, seed));
      pictures::PictureFiles alone{"", gra.picture, std::nullopt, std::nullopt, {}, 0};
      drawn.byKind[GraAlone].push_back(alone);
      alone.palette = gra.palette;
      alone.fourthPlane = gra.fourthPlane;
      drawn.byKind[GraWithCompanions].push_back(alone);
      const int colours = scene == Scene::Eight ? 8 : 16;
      drawn.byKind[Q].push_back({"",
                                 writeQ(pictures::qPicture(scene, seed, colours)).picture,
                                 std::nullopt,
                                 std::nullopt,
                                 {},
                                 0});
    }
  }
  return drawn;
}

// Writes the folder of count pictures; answers each picture's path and kind.
std::vector<std::pair<std::string, Kind>> writeFolder(const std::string& folder, int count) {
  const Drawn drawn = drawPictures();
  std::vector<std::pair<std::string, Kind>> files;
  for (int i = 0; i < count; ++i) {
    const Kind kind = kindOf(i);
    const auto& pool = drawn.byKind[kind];
    const pictures::PictureFiles& p = pool[static_cast<std::size_t>(i / 10) % pool.size()];
    char stem[32];
    std::snprintf(stem, sizeof stem, "pic%05d", i);
    const std::string base = folder + "/" + stem;
    const std::string path = base + (kind == Q ? ".q" : ".gra");
    writeOrDie(path, p.picture);
    if (p.palette) writeOrDie(base + ".rgb", *p.palette);
    if (p.fourthPlane) writeOrDie(base + ".e1", *p.fourthPlane);
    files.emplace_back(path, kind);
  }
  return files;
}

void runFolder(int count, const std::string& keep) {
  std::string folder = keep;
  if (folder.empty()) {
    folder = (fs::temp_directory_path() / "planes-folder-XXXXXX").string();
    if (!mkdtemp(folder.data())) {
      std::fprintf(stderr, "convert_split: cannot make a temporary folder\n");
      std::exit(1);
    }
  } else {
    fs::create_directories(folder);
  }
  const std::vector<std::pair<std::string, Kind>> files = writeFolder(folder, count);
  const auto entries = std::distance(fs::directory_iterator(folder), fs::directory_iterator());

  host::PluginSet plugins;
  host::FolderListings listings;  // as planeconv keeps them for its run
  const long readBefore = platform::foldersRead();
  double decodeSeconds[kKinds] = {}, encodeSeconds[kKinds] = {};
  int pictureCount[kKinds] = {};
  double zlibMicroseconds = 0, nowMicroseconds = 0;
  std::size_t zlibBytes = 0, nowBytes = 0;
  double largest = 0;
  std::string largestPath;
  for (const auto& [path, kind] : files) {
    const double start = threadMicroseconds();
    host::OpenedPicture opened = host::openPicture(plugins, path);
    host::Picture picture;
    if (!opened.plugin || !host::decode(*opened.plugin, opened.file, picture)) {
      std::fprintf(stderr, "convert_split: %s: not decoded\n", path.c_str());
      std::exit(1);
    }
    const double decoded = threadMicroseconds();
    Bytes png;
    host::encodePng(picture, png);
    decodeSeconds[kind] += (decoded - start) / 1e6;
    encodeSeconds[kind] += (threadMicroseconds() - decoded) / 1e6;
    ++pictureCount[kind];
    if (kind == GraWithCompanions && picture.info.companions.fourthPlane.empty()) {
      std::fprintf(stderr, "convert_split: %s: its companions were not taken\n", path.c_str());
      std::exit(1);
    }
    // The PNG stage, processor time on the same rows: encodePng against libpng's zlib level 6.
    Bytes reference;
    double at = threadMicroseconds();
    encodeWithLibpng(picture, reference);
    zlibMicroseconds += threadMicroseconds() - at;
    at = threadMicroseconds();
    host::encodePng(picture, png);
    nowMicroseconds += threadMicroseconds() - at;
    zlibBytes += reference.size();
    nowBytes += png.size();
    if (const double ratio = static_cast<double>(png.size()) / reference.size(); ratio > largest) {
      largest = ratio;
      largestPath = path + " (" + std::to_string(png.size()) + " against " +
                    std::to_string(reference.size()) + " bytes)";
    }
  }
  const long folderReadings = platform::foldersRead() - readBefore;

  std::printf(
      "\nA folder of %d pictures (%td files), read and decoded by name and encoded as PNG as "
      "planeconv convert -j 1 does, microseconds of processor time a picture\n",
      count, entries);
  std::printf("  %-24s %9s %14s %10s\n", "kind", "pictures", "read+decode us", "PNG us");
  double perPicture[kKinds] = {};
  for (int k = 0; k < kKinds; ++k) {
    const int n = std::max(pictureCount[k], 1);
    perPicture[k] = 1e6 * decodeSeconds[k] / n;
    std::printf("  %-24s %9d %14.0f %10.0f\n", kKindNames[k], pictureCount[k], perPicture[k],
                1e6 * encodeSeconds[k] / n);
  }
  std::printf(
      "  GRA without companions against Q: %.2f times the time a picture (aim: 1.3 at most)\n",
      perPicture[GraAlone] / perPicture[Q]);
  std::printf("  the folder was read %ld time%s for its companions\n", folderReadings,
              folderReadings == 1 ? "" : "s");
  std::printf(
      "  PNG stage on the same rows, processor time: zlib level 6 %.0f us, encodePng %.0f us "
      "(%.2fx as fast); %zu against %zu bytes (%.3fx, the largest picture %.3fx)\n",
      zlibMicroseconds / count, nowMicroseconds / count, zlibMicroseconds / nowMicroseconds,
      zlibBytes, nowBytes, static_cast<double>(nowBytes) / zlibBytes, largest);
  std::printf("  the largest against zlib: %s\n", largestPath.c_str());
  if (keep.empty()) {
    fs::remove_all(folder);
  } else {
    std::printf("  the folder is kept in %s\n", folder.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1000, folderCount = 10000;
  bool folderOnly = false;
  std::string keep;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--folder" && i + 1 < argc) {
      folderOnly = true;
      folderCount = std::atoi(argv[++i]);
    } else if (a == "--keep" && i + 1 < argc) {
      keep = argv[++i];
    } else {
      count = std::atoi(argv[i]);
    }
  }
  if (count <= 0 || folderCount <= 0) {
    std::fprintf(stderr, "usage: convert_split [COUNT] | convert_split --folder N [--keep DIR]\n");
    return 2;
  }
  if (folderOnly) {
    runFolder(folderCount, keep);
    return 0;
  }
  std::unique_ptr<BenchPictures> pictures;
  try {
    pictures = std::make_unique<BenchPictures>(BENCH_SAMPLES_FOLDER);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "convert_split: %s\n", error.what());
    return 1;
  }
  std::string folder = (fs::temp_directory_path() / "planes-split-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 1;
  const std::vector<std::string> files = writeCollection(*pictures, folder, count);
  fs::create_directory(folder + "/out");

  host::PluginSet plugins;
  Stage read{"read the file"}, recognise{"recognise (IsSupported)"},
      decode{"decode by name, take over"}, encode{"encode the PNG"}, write{"write the PNG"};
  std::size_t pngBytes = 0;
  const auto start = Clock::now();
  for (const std::string& path : files) {
    auto at = Clock::now();
    auto lap = [&](Stage& stage) {
      const auto now = Clock::now();
      stage.seconds += std::chrono::duration<double>(now - at).count();
      at = now;
    };
    host::PictureFile file{path, {}};
    host::readFile(path, file.bytes);
    lap(read);
    const host::Plugin* plugin = plugins.recognise(fs::path(path).filename().string(), file.bytes);
    lap(recognise);
    host::Picture picture;
    if (!plugin || !host::decode(*plugin, file, picture)) {
      std::fprintf(stderr, "convert_split: %s: not decoded\n", path.c_str());
      return 1;
    }
    lap(decode);
    Bytes png;
    host::encodePng(picture, png);
    pngBytes += png.size();
    lap(encode);
    writeOrDie(folder + "/out/" + fs::path(path).stem().string() + ".png", png);
    lap(write);
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();

  std::printf("%d pictures converted to PNG on one thread in %.3f s (%.0f bytes of PNG each)\n",
              count, total, static_cast<double>(pngBytes) / count);
  for (const Stage* stage : {&read, &recognise, &decode, &encode, &write}) {
    std::printf("  %-30s %8.3f s %6.1f %%\n", stage->name, stage->seconds,
                100 * stage->seconds / total);
  }
  fs::remove_all(folder);
  comparePngStage(*pictures);
  runFolder(folderCount, keep);
  return 0;
}
