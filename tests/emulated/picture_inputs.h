// SPDX-License-Identifier: MIT
// Inputs for comparing the emulated DLLs with the native build: pseudo-random bytes behind
// plausible headers, shaped like the formats' coded data so that decoding goes deep, files cut
// short, and the pictures of the format writers. Every input is
// deterministic: the same seed gives the same bytes on every machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/emulated/host_calls.h"

// A small pseudo-random generator (splitmix64), the same on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint32_t next();
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
  bool percent(int p) { return below(100) < p; }
  std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }
  Bytes bytes(std::size_t count);

 private:
  std::uint64_t state_;
};

struct PictureCase {
  std::string label;  // how the input was made, for failure messages
  Bytes file;
  // Companion files beside a GRA picture opened by name.
  std::optional<Bytes> palette;      // "rgb"
  std::optional<Bytes> fourthPlane;  // "e1"
};

// GRA files: a header with random escape bytes, header blocks, window and mode, then coded
// line pairs of random flag bytes and chunks; some with random bytes instead of line pairs.
std::vector<PictureCase> randomGraCases(int count, std::uint64_t seed);
// The same with random companion files: of the right sizes, of wrong sizes, or none.
std::vector<PictureCase> randomGraCasesWithCompanions(int count, std::uint64_t seed);
// Q files: a header with a random comment, colour mode, chunk lengths and escape records, a
// random table block, then chunks of random tokens; some with a wrong size or signature.
std::vector<PictureCase> randomQCases(int count, std::uint64_t seed);
// Each case cut at a random point.
std::vector<PictureCase> truncated(const std::vector<PictureCase>& cases, std::uint64_t seed);

// The writer pictures of the test-picture library (tests/support/pictures.h), GRA ones with
// their companion files.
std::vector<PictureCase> graWriterCases();
std::vector<PictureCase> qWriterCases();
