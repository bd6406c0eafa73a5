// SPDX-License-Identifier: MIT
// samplegen: writes the bundled sample pictures, drawn by the test-picture library
// (tests/support/pictures.h) and stored with the project's writers.
//
//   samplegen DIR
//
// writes into DIR:
//   card.gra, card.rgb, card.e1   a 16-colour test card with its palette and fourth plane
//   plain.gra                     8 colours, default palette, no companion files
//   window.gra, window.e1         only a window of the picture coded (window layout)
//   gradient.q                    a dithered 16-colour gradient with shapes and a comment
//   eight.q                       an 8-colour picture in the fixed colours, with a comment
#include <cstdio>
#include <string>

#include "host/files.h"
#include "host/picture.h"
#include "host/reasons.h"
#include "tests/support/pictures.h"

namespace {

bool save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (host::Result r = host::writeFileAtomically(path, bytes, true); !r) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), r.reason.c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  return true;
}

// Reads a written sample back as a host does, with its companions beside it, and compares its
// colour indices with the drawing (masked to the planes the sample stores).
bool check(const host::PluginSet& plugins, const std::string& path,
           const pictures::PictureFiles& sample) {
  host::PictureFile file{path, {}};
  std::string error = host::readFile(path, file.bytes).reason;
  const host::Plugin* plugin = plugins.recognise(path, file.bytes);
  if (error.empty() && !plugin) error = host::whyNotRecognised(plugins, path, file.bytes);
  host::Picture picture;
  if (error.empty()) {
    if (host::Result r = host::decode(*plugin, file, picture); !r) error = r.reason;
  }
  for (std::size_t i = 0; i < sample.drawn.size() && error.empty(); ++i) {
    if (picture.indices[i] != (sample.drawn[i] & sample.mask)) {
      error = "reads back differently at pixel " + std::to_string(i % kPictureWidth) + ", " +
              std::to_string(i / kPictureWidth);
    }
  }
  if (!error.empty()) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
  return error.empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: samplegen DIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const std::vector<pictures::PictureFiles> samples = pictures::samples();
  bool ok = true;
  for (const pictures::PictureFiles& sample : samples) {
    for (const auto& [name, bytes] : sample.files())
      ok = ok && save(dir + name.substr(name.find('/') + 1), bytes);
  }
  host::PluginSet plugins;
  for (const pictures::PictureFiles& sample : samples) {
    const std::string name = sample.name.substr(sample.name.find('/') + 1);
    if (ok && sample.mask != 0) ok = check(plugins, dir + name, sample);
  }
  return ok ? 0 : 1;
}
