// SPDX-License-Identifier: MIT
// Helpers shared by the native tests: scratch folders, files, and the host contract over the
// platform stand-in.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "framework/host_interface.h"
#include "framework/platform.h"
#include "tests/support/host_contract.h"
#include "tests/support/stand_in_blocks.h"

using Bytes = std::vector<std::uint8_t>;

inline void PrintTo(LoaderResult r, std::ostream* out) {
  *out << resultName(r);
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "planes-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, const Bytes& bytes) const {
    std::string path = file(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

 private:
  std::filesystem::path path_;
};

// The host contract's failures, as GoogleTest failures at the host's line.
struct GtestReport {
  void operator()(std::string_view message, host_contract::Site where) const {
    ADD_FAILURE_AT(where.file, where.line) << message;
  }
};

// The host contract as the native tests check it: over the platform stand-in.
inline host_contract::Checker<StandInBlocks, GtestReport> standInContract() {
  return {StandInBlocks{}, GtestReport{}};
}

// Nothing allocated, locked or open in the platform stand-in.
inline void expectNothingHeld(host_contract::Site where = {}) {
  standInContract().nothingHeld("after the calls so far", where);
}

// The contents of a global block the host was handed, which it then frees; checks that it is
// unlocked.
inline Bytes takeBlock(HGLOBAL handle, host_contract::Site where = {}) {
  return standInContract().take(handle, "handed-over", where);
}
