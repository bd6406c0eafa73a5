// SPDX-License-Identifier: MIT
// A picture as a host gets it from a plug-in, and the calls that get it.
//
//   host::PluginSet plugins;
//   host::PictureFile file{path, bytes};            // bytes: the file as the host read it
//   const host::Plugin* plugin = plugins.recognise(name, bytes);
//   host::Picture picture;
//   if (host::Result r = host::decode(*plugin, file, picture); !r) report(r.reason);
//
// A picture named by a path is read by the plug-in by name, so that a GRA picture's companion
// files count; one without a path (standard input, a browser's file) is handed over in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "host/companions.h"
#include "host/plugin_set.h"
#include "host/result.h"

namespace host {

using Bytes = std::vector<std::uint8_t>;

// A picture file: where it lies (empty when it has no name a plug-in can open) and its bytes.
struct PictureFile {
  std::string path;
  Bytes bytes;
};

// What GetPictureInfo tells of a picture, and what the host knows around it.
struct PictureInfo {
  int width = 0;
  int height = 0;
  int colorDepth = 0;  // bits per pixel of the bitmap handed over
  int colors = 0;      // 8 or 16 colours the picture can show
  std::string comment;
  Companions companions;
};

struct Picture {
  PictureFormat format = PictureFormat::Gra;
  std::string formatName;  // the plug-in's name of the format, e.g. "GRA(4bit)"
  PictureInfo info;
  Palette palette{};  // the 16 colours of the bitmap's colour table
  Bytes indices;      // one colour index a pixel, rows top first
  // The bitmap as the plug-in handed it over: the information block (header and colour table)
  // and the 4-bit rows, bottom row first.
  Bytes infoBlock;
  Bytes pixelBlock;

  int width() const { return info.width; }
  int height() const { return info.height; }
  std::uint8_t index(int x, int y) const {
    return indices[static_cast<std::size_t>(y) * info.width + x];
  }
  // Row y (0 = top) of the bitmap as packed there: two pixels a byte, high nibble left.
  const std::uint8_t* packedRow(int y) const;
  // 3 bytes (red, green, blue) or 4 (and 255) a pixel, rows top first, no padding.
  Bytes rgb() const;
  Bytes rgba() const;
};

// The largest file of the format (its description's): a host reads no more of a file, since
// the plug-in never reads past it.
std::size_t largestFile(PictureFormat format);

// A picture file read as a host reads one, and the plug-in that takes it.
struct OpenedPicture {
  const Plugin* plugin = nullptr;  // set when the file can be read as a picture
  // Its path, empty when it has no name the plug-in can open again (standard input, a pipe, a
  // device): then its bytes are decoded in memory, without companions. Its bytes: no more than
  // the largest file of its format.
  PictureFile file;
  // Ok, or why the file cannot be read as a picture: OpenFailed when it cannot be read,
  // UnknownFormat when no plug-in recognises it, BadData when the chosen plug-in refuses it.
  Result result;
  // On a refusal: the plug-in whose own checks take the bytes whatever the name, if any.
  const Plugin* looksLike = nullptr;
};

// Opens the file at path and reads its first bytes (those IsSupported sees), chooses its
// plug-in, then reads on up to the largest file of that format and no further. The plug-in is
// chosen, when given, provided that its own checks take the bytes; otherwise the one that
// recognises the file's name and bytes as a host asks.
OpenedPicture openPicture(const PluginSet& plugins, const std::string& path,
                          const Plugin* chosen = nullptr);
// The same for standard input, whose plug-in is chosen, or else told by its bytes alone.
OpenedPicture openStandardInput(const PluginSet& plugins, const Plugin* chosen = nullptr);

// Progress of a decode: done of total lines; answering true asks the plug-in to stop.
using Progress = std::function<bool(int done, int total)>;

// GetPictureInfo, with the comment taken over and the companions found.
Result readInfo(const Plugin& plugin, const PictureFile& file, PictureInfo& info);

// GetPictureInfo and GetPicture: the whole picture. When the plug-in cannot open the file by
// its path any more, the bytes in memory are decoded (and no companions count).
Result decode(const Plugin& plugin, const PictureFile& file, Picture& picture,
              const Progress& progress = {});

}  // namespace host
