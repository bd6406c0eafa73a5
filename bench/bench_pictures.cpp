// SPDX-License-Identifier: MIT
#include "bench/bench_pictures.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "tests/support/pictures.h"

namespace fs = std::filesystem;

namespace {

using pictures::Indices;
using pictures::Scene;

// The pixel block a reader shows of colour indices (top row first): bottom-up 4-bit rows.
Bytes blockOf(const Indices& pixels, std::uint8_t mask) {
  Bytes block(kPixelBlockSize, 0);
  for (int y = 0; y < kPictureHeight; ++y) {
    std::uint8_t* row = block.data() + (kPictureHeight - 1 - y) * kRowBytes;
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t value = pixels[static_cast<std::size_t>(y) * kPictureWidth + x] & mask;
      row[x / 2] |= static_cast<std::uint8_t>(x % 2 ? value : value << 4);
    }
  }
  return block;
}

Bytes readWhole(const std::string& path) {
  Bytes bytes;
  if (host::Result r = host::readFile(path, bytes); !r)
    throw std::runtime_error(path + ": " + r.reason);
  return bytes;
}

void writeWhole(const std::string& path, const Bytes& bytes) {
  if (host::Result r = host::writeFileAtomically(path, bytes, true); !r)
    throw std::runtime_error(path + ": " + r.reason);
}

}  // namespace

int WINAPI ignoreProgress(int, int, HostValue) {
  return 0;
}

LoaderResult decodePicture(const BenchPicture& picture, HGLOBAL& info, HGLOBAL& pixels) {
  if (!picture.path.empty()) {
    return picture.getPicture(picture.path.c_str(), 0, kSourceIsFileName, &info, &pixels,
                              ignoreProgress, 0);
  }
  return picture.getPicture(reinterpret_cast<const char*>(picture.file.data()),
                            static_cast<std::int32_t>(picture.file.size()), kSourceIsMemory, &info,
                            &pixels, ignoreProgress, 0);
}

HGLOBAL decodePngToBlock(const Bytes& png) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, kPixelBlockSize);
  auto* pixels = static_cast<std::uint8_t*>(GlobalLock(block));
  png_structp read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(read);
  if (setjmp(png_jmpbuf(read))) {
    png_destroy_read_struct(&read, &info, nullptr);
    GlobalFree(block);
    return 0;
  }
  host::PngMemorySource source{&png, 0};
  png_set_read_fn(read, &source, host::readPngFromMemory);
  png_read_info(read, info);
  if (png_get_image_width(read, info) != kPictureWidth ||
      png_get_image_height(read, info) != kPictureHeight || png_get_bit_depth(read, info) != 4 ||
      png_get_color_type(read, info) != PNG_COLOR_TYPE_PALETTE) {
    png_error(read, "not a 640 x 400 4-bit palette PNG");
  }
  // Packed 4-bit rows as they stand (left pixel in the high nibble), bottom row first.
  for (int y = 0; y < kPictureHeight; ++y)
    png_read_row(read, pixels + (kPictureHeight - 1 - y) * kRowBytes, nullptr);
  png_read_end(read, nullptr);
  png_destroy_read_struct(&read, &info, nullptr);
  GlobalUnlock(block);
  return block;
}

HGLOBAL fillBlock(const Bytes& pixels) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, kPixelBlockSize);
  auto* out = static_cast<std::uint8_t*>(GlobalLock(block));
  std::memset(out, 0, kPixelBlockSize);
  // The zero fill must happen: the compiler may not fold it into the pass that follows.
  benchmark::DoNotOptimize(out);
  benchmark::ClobberMemory();
  std::memcpy(out, pixels.data(), kPixelBlockSize);
  GlobalUnlock(block);
  return block;
}

Bytes takeBlockBytes(HGLOBAL block) {
  Bytes bytes(GlobalSize(block));
  if (const void* data = GlobalLock(block)) {
    std::memcpy(bytes.data(), data, bytes.size());
    GlobalUnlock(block);
  }
  GlobalFree(block);
  return bytes;
}

BenchPictures::BenchPictures(const std::string& samples) {
  std::string pattern = (fs::temp_directory_path() / "planes-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  folder_ = pattern;
  const host::Plugin* gra = plugins_.byFormat(host::PictureFormat::Gra);
  const host::Plugin* q = plugins_.byFormat(host::PictureFormat::Q);
  const FormatDescription& graFormat = *gra->description;
  const FormatDescription& qFormat = *q->description;
  // A companion's name beside stem: "card" -> "card.rgb".
  const auto companion = [&](const std::string& stem, CompanionRole role) {
    for (const CompanionFile& c : graFormat.companions)
      if (c.role == role) return stem + "." + std::string(c.suffix);
    throw std::runtime_error("GRA pictures have no such companion");
  };

  // The samples. What they show is known only from decoding them, so the decoder's own output
  // is what libpng and the floor must match.
  for (const char* name : {"card", "plain", "window"}) {
    add("gra", name, gra, readWhole(BenchPicture::withExtension(graFormat, samples + "/" + name)));
  }
  std::vector<std::string> card = {BenchPicture::withExtension(graFormat, "card")};
  for (const CompanionFile& c : graFormat.companions)
    card.push_back("card." + std::string(c.suffix));
  for (const std::string& name : card) {
    writeWhole(folder_ + "/" + name, readWhole(samples + "/" + name));
  }
  add("gra+e1", "card", gra, readWhole(samples + "/" + card[0]), folder_ + "/" + card[0]);
  add("q16", "gradient", q, readWhole(BenchPicture::withExtension(qFormat, samples + "/gradient")));
  add("q8", "eight", q, readWhole(BenchPicture::withExtension(qFormat, samples + "/eight")));

  // Busy pictures, drawn by the test-picture library: the decoder must show exactly what was
  // drawn.
  for (const char* name : {"busy", "noise"}) {
    const Scene scene = std::string(name) == "busy" ? Scene::Busy : Scene::Noise;
    const GraPicture graPicture = pictures::graPicture(scene, 1);
    GraFiles files = writeGra(graPicture);
    add("gra", name, gra, files.picture, "", blockOf(graPicture.pixels, 7));
    std::string stem = folder_ + "/" + name;
    const std::string file = BenchPicture::withExtension(graFormat, stem);
    writeWhole(file, files.picture);
    writeWhole(companion(stem, CompanionRole::Palette), files.palette);
    writeWhole(companion(stem, CompanionRole::FourthPlane), files.fourthPlane);
    add("gra+e1", name, gra, files.picture, file, blockOf(graPicture.pixels, 15));

    for (bool eight : {false, true}) {
      const QPicture qPicture = pictures::qPicture(scene, 2, eight ? 8 : 16);
      add(eight ? "q8" : "q16", name, q, writeQ(qPicture).picture, "",
          blockOf(qPicture.pixels, 15));
    }
  }
}

std::vector<std::string> BenchPicture::companionNames(const std::string& stem) const {
  std::vector<std::string> names;
  for (const CompanionFile& c : format->companions)
    names.push_back(stem + "." + std::string(c.suffix));
  return names;
}

BenchPictures::~BenchPictures() {
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void BenchPictures::add(std::string kind, std::string name, const host::Plugin* plugin, Bytes file,
                        std::string path, Bytes expected) {
  const bool expectedIsKnown = !expected.empty();
  BenchPicture picture{std::move(kind),    std::move(name),     plugin->description,
                       plugin->getPicture, std::move(file),     std::move(path),
                       std::move(expected), {},                 {}};
  const std::string label = picture.label();
  host::Picture decoded;
  if (host::Result r = host::decode(*plugin, {picture.path, picture.file}, decoded); !r) {
    throw std::runtime_error(label + ": " + r.reason);
  }
  if (!expectedIsKnown) picture.expected = decoded.pixelBlock;
  picture.companions = decoded.info.companions;
  if (decoded.pixelBlock != picture.expected)
    throw std::runtime_error(label + ": the decoder does not show what was drawn");
  if (host::Result r = host::encodePng(decoded, picture.png); !r)
    throw std::runtime_error(label + ": " + r.reason);
  if (takeBlockBytes(decodePngToBlock(picture.png)) != picture.expected)
    throw std::runtime_error(label + ": libpng does not give the decoder's pixels");
  if (takeBlockBytes(fillBlock(picture.expected)) != picture.expected)
    throw std::runtime_error(label + ": the floor does not give the decoder's pixels");
  pictures_.push_back(std::move(picture));
}
