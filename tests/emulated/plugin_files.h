// SPDX-License-Identifier: MIT
// The cross-built plug-in DLLs that the emulated host tests load, from the folder the build
// names in PLUGIN_DLL_DIR.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/emulated/emulated_plugin.h"
#include "tests/support/test_support.h"

inline std::string pluginPath(const std::string& fileName) {
  return std::string(PLUGIN_DLL_DIR) + "/" + fileName;
}

// A test fixture with one plug-in DLL loaded into a fresh emulated process. A missing DLL skips
// the test, saying how to build it (the fast tier runs without a Windows toolchain); with
// PLANES_REQUIRE_DLLS set, as the full gate sets it, a missing DLL fails the test instead. A
// fixture that loads in SetUp ends it when IsSkipped() is true.
class LoadedDll {
 protected:
  void load(const std::string& fileName) {
    const std::string path = pluginPath(fileName);
    if (!std::filesystem::exists(path)) {
      const std::string missing =
          path + " does not exist. These tests run the cross-built DLLs: build them with " +
          "`make win32` (or `cmake --preset win32 && cmake --build --preset win32`), or point " +
          "the CMake cache variable PLUGIN_DLL_DIR at the folder that holds them.";
      if (std::getenv("PLANES_REQUIRE_DLLS") == nullptr) GTEST_SKIP() << missing;
      FAIL() << missing;
    }
    plugin = std::make_unique<EmulatedPlugin>(path);
  }

  std::unique_ptr<EmulatedPlugin> plugin;
};

// The host contract as the emulated host tests check it: over the emulated process.
inline host_contract::Checker<EmulatedBlocks, GtestReport> emulatedContract(
    EmulatedPlugin& plugin) {
  return {plugin.blocks(), GtestReport{}};
}

// Nothing allocated, locked or open in the emulated process.
inline void expectNothingHeld(EmulatedPlugin& plugin, host_contract::Site where = {}) {
  emulatedContract(plugin).nothingHeld("after the calls so far", where);
}
