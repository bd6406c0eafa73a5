// SPDX-License-Identifier: MIT
// Writes the seed inputs of the fuzz targets: small pictures stored with each writer path of the
// test-picture library (tests/support/pictures.h), so that every coding path of each format is
// in some seed, each followed by a few steering tails (see
// fuzz_host.h) so that every way of calling the plug-in is in some seed too.
//
//   make_seeds gra|q FOLDER [PICTURE...]      also a seed of each picture file named
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/pictures.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Steering tails: from memory; by name with both companions, progress going on; by name with
// companions of wrong sizes, recognised through a handle, cancelled at the third progress call;
// with the first allocation failing.
const std::uint8_t kTails[][4] = {
    {0x00, 0, 0, 0},
    {0x01 | 1 << 3 | 1 << 5, 1, 0x29, 0},
    {0x01 | 2 << 3 | 3 << 5 | 0x80, 5, 0x13, 0},
    {0x00, 0, 0, 1 << 6},
};

int written = 0;

void save(const std::filesystem::path& folder, const std::string& name, const Bytes& file) {
  for (std::size_t t = 0; t < std::size(kTails); ++t) {
    Bytes input = file;
    input.insert(input.end(), std::begin(kTails[t]), std::end(kTails[t]));
    std::ofstream(folder / (name + "-" + std::to_string(t)), std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    ++written;
  }
}

// Each writer path of the test-picture library over its sparse scene, which keeps the files
// small.
void graSeeds(const std::filesystem::path& folder) {
  const GraPicture picture = pictures::graPicture(pictures::Scene::Sparse, 3);
  for (const auto& [name, options] : pictures::graPaths())
    save(folder, name, writeGra(picture, options).picture);
}

void qSeeds(const std::filesystem::path& folder) {
  for (int colours : {16, 8}) {
    const QPicture picture =
        pictures::qPicture(pictures::Scene::Sparse, 5, colours, colours == 8 ? "" : "Seed picture");
    for (const auto& [name, options] : pictures::qPaths(colours))
      save(folder, name + std::to_string(colours), writeQ(picture, options).picture);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (std::string(argv[1]) != "gra" && std::string(argv[1]) != "q")) {
    std::fprintf(stderr, "usage: make_seeds gra|q FOLDER [PICTURE...]\n");
    return 2;
  }
  const std::filesystem::path folder = argv[2];
  std::filesystem::create_directories(folder);
  if (std::string(argv[1]) == "gra") {
    graSeeds(folder);
  } else {
    qSeeds(folder);
  }
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    save(folder, "sample-" + std::filesystem::path(argv[i]).filename().string(), file);
  }
  std::printf("%d seeds written to %s\n", written, folder.c_str());
  return 0;
}
