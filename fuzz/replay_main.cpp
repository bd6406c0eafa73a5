// SPDX-License-Identifier: MIT
// Replays inputs through a fuzz target without the fuzzer: every file named, and every file in
// every folder named (but hidden ones), once each. A failed check aborts, naming the input last
// started.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  // Exactly the file's bytes, so that the sanitizer sees a read past their end.
  std::vector<std::uint8_t> input{std::istreambuf_iterator<char>(in), {}};
  std::fprintf(stderr, "replaying %s\n", path.c_str());
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0, replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path = argv[i];
    if (std::filesystem::is_directory(path)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
          files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) failures += replay(file), ++replayed;
    } else {
      failures += replay(path), ++replayed;
    }
  }
  std::printf("%d inputs replayed, %d unreadable\n", replayed, failures);
  return failures == 0 && replayed > 0 ? 0 : 1;
}
