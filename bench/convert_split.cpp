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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_pictures.h"
#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"

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
  return 0;
}
