// SPDX-License-Identifier: MIT
// The pictures the decoding benchmark runs on, and the three ways it produces their pixel block:
// the plug-ins' GetPicture as a host calls it, libpng on the same picture kept as a 4-bit
// palette PNG, and the floor that any decoder of this output must pay.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/platform.h"
#include "host/companions.h"
#include "host/plugin_set.h"

using Bytes = std::vector<std::uint8_t>;

struct BenchPicture {
  std::string kind;  // "gra", "gra+e1" (by name), "q16" or "q8"
  std::string name;  // "card", "noise", ...
  const FormatDescription* format = nullptr;
  GetPictureFn getPicture = nullptr;  // the plug-in's export, timed as a host calls it
  Bytes file;                         // the picture file, handed over in memory
  std::string path;  // set when the picture is decoded by name, its companions beside it
  Bytes expected;    // the pixel block every side must produce: 4-bit rows, bottom row first
  Bytes png;         // the same rows and colours as a 4-bit palette PNG
  host::Companions companions;  // those the decode by name took

  std::string label() const { return kind + "/" + name; }
  // stem with the format's extension: "card" -> "card.gra".
  std::string fileName(const std::string& stem) const { return withExtension(*format, stem); }
  // The companions of a picture decoded by name, in the order of its format's description.
  std::vector<std::string> companionNames(const std::string& stem) const;

  static std::string withExtension(const FormatDescription& format, const std::string& stem) {
    return stem + "." + std::string(format.extensions.front());
  }
};

// The samples and the busy pictures of the test-picture library, stored with the writers, each
// checked (decoder against the drawing, libpng against the decoder) before anything is timed. Files
// for the by-name decodes are written to a temporary folder that lives as long as the set.
// Throws std::runtime_error, naming the picture, when a check fails.
class BenchPictures {
 public:
  explicit BenchPictures(const std::string& samplesFolder);
  ~BenchPictures();
  BenchPictures(const BenchPictures&) = delete;
  BenchPictures& operator=(const BenchPictures&) = delete;

  const std::vector<BenchPicture>& all() const { return pictures_; }

 private:
  // Checks a picture and adds it. An empty expected block means that only the decoder can say
  // what the picture shows; path set decodes by name.
  void add(std::string kind, std::string name, const host::Plugin* plugin, Bytes file,
           std::string path = "", Bytes expected = {});
  host::PluginSet plugins_;
  std::string folder_;
  std::vector<BenchPicture> pictures_;
};

// A host's progress function that never cancels.
int WINAPI ignoreProgress(int done, int total, HostValue userData);

// GetPicture as a host calls it (from memory, or by name when the picture has a path). The
// caller owns and frees both blocks on Ok.
LoaderResult decodePicture(const BenchPicture& picture, HGLOBAL& info, HGLOBAL& pixels);

// libpng reading a 4-bit palette PNG of 640 x 400 pixels into a movable block of the same
// bottom-up 4-bit rows (unlocked; the caller frees it). 0 when the PNG is not such a picture.
HGLOBAL decodePngToBlock(const Bytes& png);

// The floor: allocates, locks and zero-fills a movable pixel block, writes one pass of
// pixels into it and unlocks it (the caller frees it).
HGLOBAL fillBlock(const Bytes& pixels);

// The contents of a block, which is then freed.
Bytes takeBlockBytes(HGLOBAL block);
