// SPDX-License-Identifier: MIT
// What the differential runs feed each plug-in's native build and its DLL: the loader, the
// extension its pictures carry, and the inputs (random, by name with companions, from the
// writers). Each run adds what it needs to tell the plug-in apart (its DLL's name, say).
#pragma once

#include <cstdint>
#include <vector>

#include "gra/gra_loader.h"
#include "q/q_loader.h"
#include "tests/emulated/picture_inputs.h"

struct GradecInputs {
  using Loader = GraLoader;
  static constexpr const char* kExtension = "gra";
  static std::vector<PictureCase> randomCases(int count, std::uint64_t seed) {
    return randomGraCases(count, seed);
  }
  static std::vector<PictureCase> fileCases(int count, std::uint64_t seed) {
    return randomGraCasesWithCompanions(count, seed);
  }
  static std::vector<PictureCase> writerCases() { return graWriterCases(); }
};

struct QdecInputs {
  using Loader = QLoader;
  static constexpr const char* kExtension = "q";
  static std::vector<PictureCase> randomCases(int count, std::uint64_t seed) {
    return randomQCases(count, seed);
  }
  // Q pictures have no companions: by name they are the random pictures again.
  static std::vector<PictureCase> fileCases(int count, std::uint64_t seed) {
    return randomQCases(count, seed);
  }
  static std::vector<PictureCase> writerCases() { return qWriterCases(); }
};
