// planeconv's side of the plug-in interface: the two plug-ins as a host sees them.
//
// Natively the plug-ins' export functions are linked in; on Windows they are loaded from
// gradec.spi and qdec.spi (gradec.sph and qdec.sph in 64-bit builds) with LoadLibrary and
// found with GetProcAddress, as any host does. Either way planeconv reaches the decoders only
// through these five functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/host_interface.h"

enum class PictureFormat { Gra, Q };

struct Plugin {
  PictureFormat format;
  std::string name;        // "gra" or "q", as --as takes it
  std::string moduleName;  // the DLL's file name
  GetPluginInfoFn getPluginInfo = nullptr;
  IsSupportedFn isSupported = nullptr;
  GetPictureInfoFn getPictureInfo = nullptr;
  GetPictureFn getPicture = nullptr;

  // The display name of the format (string 3 of the plug-in's table), e.g. "GRA(4bit)".
  std::string formatName() const;
};

class PluginSet {
 public:
  // Natively: the linked-in plug-ins. On Windows: loads both DLLs from folder (the
  // program's own folder when empty); fills error and leaves the set empty on failure.
  explicit PluginSet(const std::string& folder = "");
  ~PluginSet();
  PluginSet(const PluginSet&) = delete;
  PluginSet& operator=(const PluginSet&) = delete;

  bool ready() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  const Plugin* byName(const std::string& name) const;
  const Plugin* byFormat(PictureFormat format) const;
  // The plug-in that recognises a file, asked as a host asks: its name and its first bytes in a
  // 16 KiB block. Null when none does.
  const Plugin* recognise(const std::string& fileName, const std::vector<std::uint8_t>& file) const;

 private:
  std::vector<Plugin> plugins_;
  std::vector<void*> modules_;
  std::string error_;
};
