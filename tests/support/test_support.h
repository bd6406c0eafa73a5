// Helpers shared by the native tests: scratch folders, files, and what the platform stand-in
// still holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/platform.h"

#include "framework/host_interface.h"

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

// Nothing allocated, locked or open in the platform stand-in.
inline void expectNothingHeld() {
  platform::Usage u = platform::usage();
  EXPECT_EQ(u.liveGlobalBlocks, 0);
  EXPECT_EQ(u.lockedGlobalBlocks, 0);
  EXPECT_EQ(u.liveHeapBlocks, 0);
  EXPECT_EQ(u.openFiles, 0);
}

// The contents of a global block the host was handed; checks that it is unlocked.
inline Bytes takeBlock(HGLOBAL handle) {
  Bytes bytes(GlobalSize(handle));
  auto* data = static_cast<const std::uint8_t*>(GlobalLock(handle));
  if (data) bytes.assign(data, data + bytes.size());
  EXPECT_EQ(GlobalUnlock(handle), FALSE) << "the block was handed over locked";
  GlobalFree(handle);
  return bytes;
}
