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
// files beside it count; one without a path (standard input, a browser's file) is handed over in
// memory. A host that holds the companions in memory too hands them over with the picture:
//
//   host::PictureFile file{"", bytes, host::HeldFiles{{"CARD.RGB", palette}, {"CARD.E1", plane}}};
//
// The plug-in then takes them by the same rule as files beside the picture (the extension its
// format asks for, the exact size), and looks for none by name.
//
// What the plug-in used (the colours the picture shows, the companions it took) is what the
// plug-in's loader reported (framework/linked_host.h). A plug-in DLL cannot report; for that
// case see host/dll_reports.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "framework/picture_geometry.h"
#include "host/companions.h"
#include "host/plugin_set.h"
#include "host/result.h"

namespace host {

using Bytes = std::vector<std::uint8_t>;

// A file a host holds in memory: its name (a companion's extension says which companion it is)
// and its bytes.
struct HeldFile {
  std::string name;
  Bytes bytes;
};
using HeldFiles = std::vector<HeldFile>;

// A picture file: where it lies (empty when it has no name a plug-in can open) and its bytes;
// and, when the host holds them, its companions (then none are looked for beside path: an
// empty list means the picture has none).
struct PictureFile {
  PictureFile() = default;
  PictureFile(std::string path, Bytes bytes, std::optional<HeldFiles> companions = std::nullopt)
      : path(std::move(path)), bytes(std::move(bytes)), companions(std::move(companions)) {}

  std::string path;
  Bytes bytes;
  std::optional<HeldFiles> companions;
};

// What GetPictureInfo tells of a picture, and what the plug-in reported using.
struct PictureInfo {
  int width = 0;
  int height = 0;
  int colorDepth = 0;   // bits per pixel of the bitmap handed over
  int colors = 0;       // 8 or 16 colours the picture can show
  std::string comment;  // the bytes as the plug-in handed them over, up to the first 0
  // The companions the plug-in took: a file's path as it lies on disk, a held file's name.
  Companions companions;
  // Files named as companions that the plug-in passed over for their size (it takes only files
  // of the exact size the format gives).
  std::vector<IgnoredCompanion> ignoredCompanions;
};

// A picture's comment as text to show: a Q picture's comment is written in code page 932
// (host/code_page_932.h); bytes that are no character there are shown as \xNN.
std::string commentText(const PictureInfo& info);

// Why a companion was passed over, for a user: "card.rgb ignored: 47 bytes, a palette file is
// 48".
std::string describe(const IgnoredCompanion& ignored);

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

// GetPictureInfo, with the comment taken over, the colours and the companions the plug-in
// took (a GRA picture's fourth plane as GetPicture would take it).
Result readInfo(const Plugin& plugin, const PictureFile& file, PictureInfo& info);

// GetPictureInfo and GetPicture: the whole picture. When the plug-in cannot open the file by
// its path any more, the bytes in memory are decoded (and no companion files count; held ones
// do).
Result decode(const Plugin& plugin, const PictureFile& file, Picture& picture,
              const Progress& progress = {});

}  // namespace host
