// SPDX-License-Identifier: MIT
// Fuzz target of the Q plug-in: every export, as a host calls it (see fuzz_host.h).
#include "fuzz/fuzz_host.h"
#include "q/q_loader.h"

namespace {

// An 8-colour picture has three planes.
int largestPixelValue(const fuzzhost::Bytes& file, bool) {
  const bool eightColors = file.size() > qformat::kColorModeOffset &&
                           file[qformat::kColorModeOffset] == qformat::kEightColorMode;
  return eightColors ? 7 : 15;
}

const fuzzhost::PluginFacts kFacts{"q", "gra", true, largestPixelValue};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzhost::fuzzOneInput<QLoader>(kFacts, data, size);
}
