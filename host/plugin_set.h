// SPDX-License-Identifier: MIT
// The two plug-ins as a host sees them: five exports each, found by name.
//
// Natively the plug-ins' exports are linked in; on Windows the DLLs are loaded with
// LoadLibrary and their exports found with GetProcAddress, as any host does. Either way a host
// reaches the decoders only through these functions.
//
// A linked plug-in also offers its native link (framework/linked_host.h): GetPictureInfo and
// GetPicture that take companions held in memory and report the colours and companions the
// loader used. A DLL's five exports cannot; beside a DLL the native link is the decoder linked
// into the program, kept for names the DLL cannot open.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/format_description.h"
#include "framework/host_interface.h"
#include "framework/linked_host.h"

namespace host {

enum class PictureFormat { Gra, Q };

// The description of a format (gra/gra_format.h, q/q_format.h): its names, extensions, MIME
// type, signature, largest file, header check and companion files.
const FormatDescription& descriptionOf(PictureFormat format);
// Both formats' descriptions, in the order of the plug-ins.
std::span<const FormatDescription* const> formatDescriptions();

struct Plugin {
  PictureFormat format;
  const FormatDescription* description;
  std::string name;        // "gra" or "q", as a user names the format (description->name)
  std::string moduleName;  // the DLL's file name, e.g. "gradec.spi" (".sph" when 64-bit)
  GetPluginInfoFn getPluginInfo = nullptr;
  IsSupportedFn isSupported = nullptr;
  GetPictureInfoFn getPictureInfo = nullptr;
  GetPictureFn getPicture = nullptr;
  GetPreviewFn getPreview = nullptr;
  // The native link. Where the plug-in is a DLL (dll set), the program links the same decoder
  // in as well, and the host library calls it only for a picture whose name the DLL cannot
  // open, handing over the picture and its companions in memory (host/picture.h).
  LinkedPictureInfoFn linkedPictureInfo = nullptr;
  LinkedPictureFn linkedPicture = nullptr;
  bool dll = false;

  // String n of the plug-in's table (GetPluginInfo): 0 the interface version, 1 the
  // description, 2 the file name pattern ("*.gra"), 3 the format name ("GRA(4bit)").
  std::string info(int n) const;
  std::string formatName() const { return info(3); }
  // "GRA picture" or "Q picture", for messages.
  std::string title() const { return std::string(description->title); }
  // The extension of the plug-in's file name pattern, without the dot: "gra".
  std::string extension() const { return std::string(description->extensions.front()); }
};

class PluginSet {
 public:
  // Natively: the linked-in plug-ins. On Windows: loads both DLLs from folder (the program's
  // own folder when empty); error() says why when that fails, and the set is then empty.
  explicit PluginSet(const std::string& folder = "");
  ~PluginSet();
  PluginSet(const PluginSet&) = delete;
  PluginSet& operator=(const PluginSet&) = delete;

  bool ready() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  const std::vector<Plugin>& plugins() const { return plugins_; }
  const Plugin* byName(const std::string& name) const;
  const Plugin* byFormat(PictureFormat format) const;
  // The plug-in whose extension a file name carries, letter case aside; null for none.
  const Plugin* byFileName(const std::string& fileName) const;

  // The plug-in that recognises a file, asked as a host asks: IsSupported with the file's name
  // and its first bytes in a 16 KiB block (zeros after a shorter file). Null when none does.
  const Plugin* recognise(const std::string& fileName, std::span<const std::uint8_t> file) const;
  // The plug-in whose own checks take a file's first bytes whatever its name (see
  // recognisesContent): what the contents look like. Null when none does.
  const Plugin* recogniseContent(std::span<const std::uint8_t> file) const;

 private:
  std::vector<Plugin> plugins_;
  std::vector<void*> modules_;
  std::string error_;
};

// IsSupported of one plug-in on a file's first bytes, under a name that carries the plug-in's
// own extension: for a host that has chosen the format already, so that only the plug-in's
// signature and size checks decide.
bool recognisesContent(const Plugin& plugin, std::span<const std::uint8_t> file);

// The whole 16 KiB block IsSupported reads: the file's first bytes and zeros after them.
std::vector<std::uint8_t> recognitionBlock(std::span<const std::uint8_t> file);

}  // namespace host
