// SPDX-License-Identifier: MIT
// Fuzz target of the GRA plug-in: every export, as a host calls it (see fuzz_host.h).
#include "fuzz/fuzz_host.h"
#include "gra/gra_loader.h"

namespace {

// Planes 0 to 2 come from the picture file; bit 3 only from a fourth-plane file.
int largestPixelValue(const fuzzhost::Bytes&, bool fourthPlaneBeside) {
  return fourthPlaneBeside ? 15 : 7;
}

const fuzzhost::PluginFacts kFacts{"gra", "q", false, largestPixelValue};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzhost::fuzzOneInput<GraLoader>(kFacts, data, size);
}
