// SPDX-License-Identifier: MIT
// dll_bench: how fast the plug-in DLLs decode on Windows, against the floor in the same process
// and against the native build.
//
//   dll_bench FOLDER [SAMPLES]
//
// FOLDER holds what `decode_bench --export=FOLDER` wrote: the benchmark's pictures decoded from
// memory with the pixels each must give (pictures.txt), and the medians of that native run
// (native.txt). The DLLs are loaded from the program's own folder, as a host loads them. For
// every picture it times GetPicture as a host calls it (the file in memory, a progress function
// given, both blocks freed afterwards), and beside it the floor: allocating, locking and
// zero-filling a 128000-byte movable block, writing one pass of pixels over it and freeing it.
// Each picture is first checked to give its pixels. It prints the medians of SAMPLES samples
// (9 by default) of each, a sample being the mean of enough calls to last about 5 ms, timed
// with QueryPerformanceCounter; and, picture by picture, the time past the floor here against
// the time past the floor natively.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "host/files.h"
#include "host/plugin_set.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
  std::string label;  // "gra/card", "q16/noise", ...
  Bytes file;
  Bytes pixels;
  const host::Plugin* plugin = nullptr;
};

int WINAPI goOn(int, int, HostValue) {
  return 0;
}

// GetPicture from memory as a host calls it; the blocks are freed, the pixels kept on request.
bool decode(const Picture& picture, Bytes* pixels) {
  HGLOBAL info = 0, block = 0;
  if (picture.plugin->getPicture(reinterpret_cast<const char*>(picture.file.data()),
                                 static_cast<std::int32_t>(picture.file.size()), kSourceIsMemory,
                                 &info, &block, goOn, 0) != LoaderResult::Ok)
    return false;
  if (pixels) {
    const void* at = GlobalLock(block);
    pixels->assign(static_cast<const std::uint8_t*>(at),
                   static_cast<const std::uint8_t*>(at) + GlobalSize(block));
    GlobalUnlock(block);
  }
  GlobalFree(info);
  GlobalFree(block);
  return true;
}

// The floor, as the native benchmark has it.
void floorPass(const Bytes& pixels) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, kPixelBlockSize);
  auto* out = static_cast<std::uint8_t*>(GlobalLock(block));
  std::memset(out, 0, kPixelBlockSize);
  // The zero fill must happen: the compiler may not fold it into the pass that follows.
  asm volatile("" : : "r"(out) : "memory");
  std::memcpy(out, pixels.data(), kPixelBlockSize);
  GlobalUnlock(block);
  GlobalFree(block);
}

double seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) / frequency;
}

// How many calls of call take about 5 ms.
long batchFor(const std::function<void()>& call) {
  for (long batch = 1;; batch *= 2) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < batch; ++i) call();
    QueryPerformanceCounter(&end);
    if (seconds(start, end) >= 0.005) return batch;
  }
}

// The mean time of one call over a batch, in microseconds.
double sample(const std::function<void()>& call, long batch) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (long i = 0; i < batch; ++i) call();
  QueryPerformanceCounter(&end);
  return seconds(start, end) * 1e6 / static_cast<double>(batch);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The medians of samples of a decode and of the floor, taken in turns, so that whatever else
// the machine does weighs on both alike.
struct Timing {
  double decode;
  double floor;
};
Timing timeBeside(const std::function<void()>& decode, const std::function<void()>& floor,
                  int samples) {
  const long decodeBatch = batchFor(decode), floorBatch = batchFor(floor);
  std::vector<double> decodes, floors;
  for (int s = 0; s < samples; ++s) {
    floors.push_back(sample(floor, floorBatch));
    decodes.push_back(sample(decode, decodeBatch));
  }
  return {median(decodes), median(floors)};
}

Bytes readOrExit(const std::string& path) {
  Bytes bytes;
  if (host::Result r = host::readFile(path, bytes); !r) {
    std::fprintf(stderr, "dll_bench: %s: %s\n", path.c_str(), r.reason.c_str());
    std::exit(1);
  }
  return bytes;
}

// native.txt: a benchmark name and its median per line. Empty when there is none.
std::map<std::string, double> nativeMedians(const std::string& folder) {
  std::map<std::string, double> medians;
  std::ifstream in(folder + "/native.txt");
  std::string name;
  double median;
  while (in >> name >> median) medians[name] = median;
  return medians;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr,
                 "usage: dll_bench FOLDER [SAMPLES]\n"
                 "FOLDER: as written by decode_bench --export=FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int samples = argc == 3 ? std::max(1, std::atoi(argv[2])) : 9;

  const host::PluginSet plugins;
  if (!plugins.ready()) {
    std::fprintf(stderr, "dll_bench: %s\n", plugins.error().c_str());
    return 1;
  }

  std::vector<Picture> pictures;
  {
    const Bytes index = readOrExit(folder + "/pictures.txt");
    std::istringstream lines(std::string(index.begin(), index.end()));
    std::string label, file, pixels;
    while (lines >> label >> file >> pixels) {
      Picture p{label, readOrExit(folder + "/" + file), readOrExit(folder + "/" + pixels)};
      p.plugin = plugins.byFileName(file);
      Bytes decoded;
      if (!p.plugin || !decode(p, &decoded) || decoded != p.pixels) {
        std::fprintf(stderr, "dll_bench: %s: the DLL does not give the pixels of the native run\n",
                     label.c_str());
        return 1;
      }
      pictures.push_back(std::move(p));
    }
  }
  if (pictures.empty()) {
    std::fprintf(stderr, "dll_bench: %s/pictures.txt lists no pictures\n", folder.c_str());
    return 1;
  }

  const std::map<std::string, double> native = nativeMedians(folder);
  auto nativeMedian = [&](const std::string& name) {
    const auto found = native.find(name);
    return found == native.end() ? 0.0 : found->second;
  };
  const double nativeFloor = nativeMedian("Floor");

  auto cell = [](double value, const char* format) {
    char text[32] = "-";
    if (value > 0) std::snprintf(text, sizeof text, format, value);
    return std::string(text);
  };
  std::printf(
      "Medians of %d samples in microseconds, each picture's beside the floor's; \"past\"\n"
      "is decode - floor, here and in the native run, and the ratio here / native:\n",
      samples);
  std::printf("%-14s %8s %7s %7s %7s %8s %7s %7s %7s\n", "picture", "decode", "floor", "/floor",
              "past", "native", "floor", "past", "ratio");
  for (const Picture& p : pictures) {
    const Timing t = timeBeside([&] { decode(p, nullptr); }, [&] { floorPass(p.pixels); }, samples);
    const double nativeTime = nativeMedian("GetPicture/" + p.label);
    const double past = t.decode - t.floor;
    const double nativePast = nativeTime > 0 && nativeFloor > 0 ? nativeTime - nativeFloor : 0;
    std::printf("%-14s %8.1f %7.1f %7.2f %7.1f %8s %7s %7s %7s\n", p.label.c_str(), t.decode,
                t.floor, t.decode / t.floor, past, cell(nativeTime, "%.1f").c_str(),
                cell(nativeFloor, "%.1f").c_str(), cell(nativePast, "%.1f").c_str(),
                cell(nativePast > 0 ? past / nativePast : 0, "%.2f").c_str());
  }
  return 0;
}
