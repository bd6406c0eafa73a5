// SPDX-License-Identifier: MIT
// convert_split: where `planeconv convert` spends its time, stage by stage.
//
//   convert_split [COUNT]        (default 1000)
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
#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/png_writer.h"

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

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (count <= 0) {
    std::fprintf(stderr, "usage: convert_split [COUNT]\n");
    return 2;
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
  return 0;
}
