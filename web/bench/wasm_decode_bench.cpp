// SPDX-License-Identifier: MIT
// wasm_decode_bench: how fast the plug-ins decode as WebAssembly, timed as decode_bench times
// them natively, so that the two can be set side by side (scripts/bench-web.sh does).
//
//   node wasm_decode_bench.js /ABSOLUTE/FILE...    (built by the web preset, run under node)
//
// For every picture file: the plug-in's GetPicture as a host calls it, a progress function
// given and both blocks freed afterwards; from memory, or by name when the picture has a
// fourth-plane file beside it (decode_bench's gra+e1). By name, the picture and its companions
// are read from the in-memory file system, as in the viewer page. Each of 9 repetitions runs
// the decode for at least 0.1 s of CPU time; the line of a picture gives the median of the
// repetitions' mean CPU times in microseconds, as decode_bench gives them natively.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/platform.h"
#include "host/companions.h"
#include "host/files.h"
#include "host/picture.h"
#include "host/plugin_set.h"
#include "host/reasons.h"

namespace {

constexpr int kRepetitions = 9;
constexpr double kMinSeconds = 0.1;

int PLUGIN_CALL keepGoing(int, int, HostValue) {
  return 0;
}

struct Subject {
  const host::Plugin* plugin;
  std::vector<std::uint8_t> file;
  std::string path;  // set when decoded by name
};

bool decodeOnce(const Subject& s) {
  HGLOBAL info = 0, pixels = 0;
  const LoaderResult r = s.path.empty()
                             ? s.plugin->getPicture(reinterpret_cast<const char*>(s.file.data()),
                                                    static_cast<std::int32_t>(s.file.size()),
                                                    kSourceIsMemory, &info, &pixels, keepGoing, 0)
                             : s.plugin->getPicture(s.path.c_str(), 0, kSourceIsFileName, &info,
                                                    &pixels, keepGoing, 0);
  if (r != LoaderResult::Ok) return false;
  GlobalFree(info);
  GlobalFree(pixels);
  return true;
}

// The process's CPU time in microseconds, as node counts it (WebAssembly has no clock of its
// own for it). Background threads of the engine count too; after the first decodes they idle.
double cpuMicroseconds() {
  return EM_ASM_DOUBLE({
    const used = process.cpuUsage();
    return used.user + used.system;
  });
}

// The mean CPU time of one decode over a stretch of at least kMinSeconds, in microseconds.
double meanMicroseconds(const Subject& s) {
  long iterations = 0;
  const double start = cpuMicroseconds();
  double elapsed = 0;
  do {
    for (int i = 0; i < 16; ++i) decodeOnce(s);
    iterations += 16;
    elapsed = cpuMicroseconds() - start;
  } while (elapsed < kMinSeconds * 1e6);
  return elapsed / iterations;
}

// The picture and its companions into the in-memory folder /memory, under their own names.
std::string copyToMemory(const host::Companions& companions, const Subject& s) {
  host::Result r = host::writeFileAtomically(s.path, s.file, true);
  for (const std::string& from : {companions.palette, companions.fourthPlane}) {
    if (from.empty() || !r) continue;
    std::vector<std::uint8_t> bytes;
    r = host::readFile(from, bytes);
    if (r)
      r = host::writeFileAtomically("/memory/" + from.substr(from.rfind('/') + 1), bytes, true);
  }
  return r.reason;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: node wasm_decode_bench.js FILE...\n");
    return 2;
  }
  // The machine's files under /host; the in-memory file system everywhere else.
  EM_ASM({
    FS.mkdir('/host');
    FS.mount(NODEFS, {root : '/'}, '/host');
  });
  const host::PluginSet plugins;
  std::printf("%-24s %12s\n", "picture", "decode (us)");
  int failed = 0;
  for (int a = 1; a < argc; ++a) {
    const std::string path = argv[a];
    Subject s{nullptr, {}, ""};
    if (path.empty() || path[0] != '/') {
      std::fprintf(stderr, "%s: not an absolute path\n", path.c_str());
      ++failed;
      continue;
    }
    if (host::Result r = host::readFile("/host" + path, s.file); !r) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), r.reason.c_str());
      ++failed;
      continue;
    }
    const std::string name = path.substr(path.rfind('/') + 1);
    s.plugin = plugins.recognise(name, s.file);
    if (!s.plugin) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(),
                   host::whyNotRecognised(plugins, name, s.file).c_str());
      ++failed;
      continue;
    }
    // The companions that the plug-in takes beside the picture, as it reports them.
    host::PictureInfo info;
    host::readInfo(*s.plugin, {"/host" + path, s.file}, info);
    const host::Companions& companions = info.companions;
    EM_ASM(FS.mkdirTree('/memory'));
    if (!companions.fourthPlane.empty()) {
      s.path = "/memory/" + name;
      if (std::string error = copyToMemory(companions, s); !error.empty()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        ++failed;
        continue;
      }
    }
    if (!decodeOnce(s)) {
      std::fprintf(stderr, "%s: GetPicture failed\n", path.c_str());
      ++failed;
      continue;
    }
    std::vector<double> times;
    for (int r = 0; r < kRepetitions; ++r) times.push_back(meanMicroseconds(s));
    std::nth_element(times.begin(), times.begin() + kRepetitions / 2, times.end());
    std::printf("%-24s %12.1f\n", name.substr(0, name.rfind('.')).c_str(), times[kRepetitions / 2]);
  }
  return failed ? 1 : 0;
}
