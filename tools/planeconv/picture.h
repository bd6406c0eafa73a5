// A picture as a plug-in hands it over: the DIB's information block and its 4-bit pixel rows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "tools/planeconv/plugin_host.h"

struct DecodedPicture {
  std::vector<std::uint8_t> infoBlock;   // BITMAPINFOHEADER and 16 colour-table entries
  std::vector<std::uint8_t> pixelBlock;  // 4-bit rows, bottom row first

  int width() const;
  int height() const;
  Palette palette() const;
  // The 4-bit row of picture line y (0 = top), as packed in the DIB: high nibble = left pixel.
  const std::uint8_t* row(int y) const;
  int rowBytes() const { return (width() + 1) / 2; }
  std::uint8_t pixel(int x, int y) const;
};

// Progress of one decode, reported by the plug-in's progress calls.
using ProgressSink = void (*)(int done, int total, void* context);

// Decodes a file by name through a plug-in's GetPicture (so a GRA picture's companion files
// are found beside it). Answers the plug-in's result; picture is filled on Ok.
LoaderResult decodeFile(const Plugin& plugin, const std::string& path, DecodedPicture& picture,
                        ProgressSink sink = nullptr, void* context = nullptr);

// Decodes a whole file held in memory through a plug-in's GetPicture. A GRA picture read this
// way has no name to find companion files by: it gets the default colours and no fourth plane.
LoaderResult decodeMemory(const Plugin& plugin, const std::vector<std::uint8_t>& file,
                          DecodedPicture& picture, ProgressSink sink = nullptr,
                          void* context = nullptr);

// The result code in words, e.g. "data ends early (BadData)".
std::string describeResult(LoaderResult result);

// Why a file is not a picture of a format, in words, read from its first bytes.
std::string whyNotRecognised(PictureFormat format, const std::vector<std::uint8_t>& file);
