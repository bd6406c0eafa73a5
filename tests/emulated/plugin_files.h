// SPDX-License-Identifier: MIT
// The cross-built plug-in DLLs that the emulated host tests load, from the folder the build
// names in PLUGIN_DLL_DIR.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/emulated/emulated_plugin.h"
#include "tests/support/test_support.h"

inline std::string pluginPath(const std::string& fileName) {
  return std::string(PLUGIN_DLL_DIR) + "/" + fileName;
}

// A test fixture with one plug-in DLL loaded into a fresh emulated process. A missing DLL fails
// the test with the way to build it.
class LoadedDll {
 protected:
  void load(const std::string& fileName) {
    const std::string path = pluginPath(fileName);
    ASSERT_TRUE(std::filesystem::exists(path))
        << path << " does not exist. These tests run the cross-built DLLs: build them with "
        << "`make win32` (or `cmake --preset win32 && cmake --build --preset win32`), or point "
        << "the CMake cache variable PLUGIN_DLL_DIR at the folder that holds them.";
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
