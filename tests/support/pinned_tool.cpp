// SPDX-License-Identifier: MIT
// pinned: the pinned outputs of the native build (see pinned.h).
//
//   pinned write FILE     decodes the test-picture set and writes its hashes to FILE
//   pinned check FILE     decodes it and compares with FILE (the native build's test)
//   pinned files FOLDER   writes the set's files under FOLDER, for the tests of other builds
//   pinned samples DIR    compares the set's samples with the files in DIR (samples/)
//
// Each picture is written to a scratch folder with its companions and, when the plug-in's
// IsSupported takes it, decoded by name through the host library, as planeconv decodes it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "framework/platform.h"
#include "host/files.h"
#include "host/picture.h"
#include "host/plugin_set.h"
#include "tests/support/pictures.h"
#include "tests/support/pinned.h"

namespace fs = std::filesystem;

namespace {

pinned::Entry decodeByName(const host::PluginSet& plugins, const std::string& folder,
                           const pictures::PictureFiles& p) {
  const host::Plugin* plugin = plugins.byFileName(p.name);
  const std::string path = folder + "/" + p.name;
  if (!host::recognisesContent(*plugin, p.picture)) return pinned::refused(p.name, "Unsupported");
  host::Picture picture;
  if (host::Result r = host::decode(*plugin, {path, p.picture}, picture); r) {
    Bytes palette;
    for (const RgbQuad& c : picture.palette)
      palette.insert(palette.end(), {c.red, c.green, c.blue});
    return pinned::decoded(p.name, picture.indices, palette, picture.info.comment);
  }
  // The code GetPicture itself answers, by name, as the hosts of the other builds call it.
  HGLOBAL info = 0, pixels = 0;
  const LoaderResult code =
      plugin->getPicture(path.c_str(), 0, kSourceIsFileName, &info, &pixels, nullptr, 0);
  return pinned::refused(p.name,
                         code == LoaderResult::Ok ? "Ok-by-GetPicture-alone" : resultName(code));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command != "write" && command != "check" && command != "files" && command != "samples") {
    std::fprintf(stderr,
                 "usage: pinned write|check FILE, pinned files FOLDER, pinned samples DIR\n");
    return 2;
  }
  const std::string target = argv[2];
  if (command == "samples") {
    // The pinned hashes of the samples are those of the library's drawings: they must be the
    // files the tree holds.
    int differ = 0;
    for (const pictures::PictureFiles& sample : pictures::samples()) {
      for (const auto& [name, bytes] : sample.files()) {
        const std::string path = target + "/" + name.substr(name.find('/') + 1);
        Bytes held;
        if (host::Result read = host::readFile(path, held); !read || held != bytes) {
          std::fprintf(
              stderr, "%s: %s\n", path.c_str(),
              read ? "not what samplegen writes (samples/regenerate.sh)" : read.reason.c_str());
          ++differ;
        }
      }
    }
    return differ == 0 ? 0 : 1;
  }
  const std::vector<pictures::PictureFiles> set = pictures::pinnedSet();
  if (command == "files") {
    const std::string error = pictures::writeAll(target, set);
    if (!error.empty()) std::fprintf(stderr, "pinned: %s\n", error.c_str());
    return error.empty() ? 0 : 1;
  }

  std::string scratch = (fs::temp_directory_path() / "planes-pinned-XXXXXX").string();
  if (!mkdtemp(scratch.data())) {
    std::fprintf(stderr, "pinned: cannot make a scratch folder\n");
    return 1;
  }
  std::string error = pictures::writeAll(scratch, set);
  host::PluginSet plugins;
  std::vector<pinned::Entry> entries;
  if (error.empty()) {
    for (const pictures::PictureFiles& p : set)
      entries.push_back(decodeByName(plugins, scratch, p));
  }
  fs::remove_all(scratch);
  if (!error.empty()) {
    std::fprintf(stderr, "pinned: %s\n", error.c_str());
    return 1;
  }

  if (command == "write") {
    std::string text = pinned::header();
    for (const pinned::Entry& e : entries) text += e.line() + "\n";
    if (host::Result written =
            host::writeFileAtomically(target, Bytes(text.begin(), text.end()), true);
        !written) {
      std::fprintf(stderr, "pinned: %s: %s\n", target.c_str(), written.reason.c_str());
      return 1;
    }
    std::printf("%s: %zu pictures\n", target.c_str(), entries.size());
    return 0;
  }

  const pinned::File file = pinned::read(target);
  if (!file.error.empty()) {
    std::fprintf(stderr, "%s\n", file.error.c_str());
    return 1;
  }
  int failures = 0;
  for (const pinned::Entry& e : entries) {
    if (std::string difference = pinned::compare(file, e); !difference.empty()) {
      std::fprintf(stderr, "%s\n", difference.c_str());
      ++failures;
    }
  }
  if (file.entries.size() != entries.size()) {
    std::fprintf(stderr, "%s: %zu pictures pinned, %zu in the set\n", target.c_str(),
                 file.entries.size(), entries.size());
    ++failures;
  }
  std::printf("%zu pictures checked, %d differ from %s\n", entries.size(), failures,
              target.c_str());
  return failures == 0 ? 0 : 1;
}
