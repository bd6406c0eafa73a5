// SPDX-License-Identifier: MIT
#include "host/plugin_set.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <type_traits>

#include "gra/gra_format.h"
#include "q/q_format.h"

// PLANES_LINKED_PLUGINS: the decoders linked in on Windows as well (host_linked), for a program
// that must not depend on the plug-in DLLs.
#if defined(_WIN32) && !defined(PLANES_LINKED_PLUGINS)
#define LOADS_PLUGIN_DLLS 1
#include <windows.h>
#else
#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "q/q_loader.h"
#endif

namespace host {

namespace {

struct Wanted {
  PictureFormat format;
  const FormatDescription* description;
  const char* module;
};
constexpr Wanted kPlugins[] = {{PictureFormat::Gra, &kGraFormat, "gradec" PLUGIN_FILE_EXTENSION},
                               {PictureFormat::Q, &qformat::kFormat, "qdec" PLUGIN_FILE_EXTENSION}};
constexpr const FormatDescription* kDescriptions[] = {kPlugins[0].description,
                                                      kPlugins[1].description};

Plugin plugin(const Wanted& wanted) {
  return Plugin{wanted.format, wanted.description, std::string(wanted.description->name),
                wanted.module};
}

#ifndef LOADS_PLUGIN_DLLS
#ifdef _WIN32
// Linked into a Windows program, a plug-in's string table is no resource of that program: its
// strings come from the table's header instead, as natively.
#include "gra/gradec_strings.h"
constexpr const char* kGraStrings[] = {PLUGIN_STRING_1024, PLUGIN_STRING_1025, PLUGIN_STRING_1026,
                                       PLUGIN_STRING_1027};
#undef PLUGIN_STRING_1024
#undef PLUGIN_STRING_1025
#undef PLUGIN_STRING_1026
#undef PLUGIN_STRING_1027
#include "q/qdec_strings.h"
constexpr const char* kQStrings[] = {PLUGIN_STRING_1024, PLUGIN_STRING_1025, PLUGIN_STRING_1026,
                                     PLUGIN_STRING_1027};
#endif

// The linked exports in the calling convention of the exports' types (stdcall on 32-bit
// Windows, where the entry points a DLL exports are wrapped in it).
template <class Loader>
struct LinkedExports {
  using Exports = PluginExports<Loader>;
  static int PLUGIN_CALL getPluginInfo(int infoNumber, char* buffer, int bufferLength) {
#ifdef _WIN32
    const auto& strings = std::is_same_v<Loader, GraLoader> ? kGraStrings : kQStrings;
    if (infoNumber < 0 || infoNumber >= 4 || !buffer || bufferLength <= 0) return 0;
    const std::string_view text = strings[infoNumber];
    const std::size_t n =
        std::min<std::size_t>(text.size(), static_cast<std::size_t>(bufferLength) - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
    return static_cast<int>(n);
#else
    return Exports::getPluginInfo(infoNumber, buffer, bufferLength);
#endif
  }
  static int PLUGIN_CALL isSupported(const char* fileName, HostValue source) {
    return Exports::isSupported(fileName, source);
  }
  static LoaderResult PLUGIN_CALL getPictureInfo(const char* source, HostLength length,
                                                 std::uint32_t flags, PictureInfoRecord* info) {
    return Exports::getPictureInfo(source, length, flags, info);
  }
  static LoaderResult PLUGIN_CALL getPicture(const char* source, HostLength length,
                                             std::uint32_t flags, BlockHandle* infoOut,
                                             BlockHandle* pixelsOut, ProgressCallback progress,
                                             HostValue userData) {
    return Exports::getPicture(source, length, flags, infoOut, pixelsOut, progress, userData);
  }
  static LoaderResult PLUGIN_CALL getPreview(const char* source, HostLength length,
                                             std::uint32_t flags, BlockHandle* infoOut,
                                             BlockHandle* pixelsOut, ProgressCallback progress,
                                             HostValue userData) {
    return Exports::getPreview(source, length, flags, infoOut, pixelsOut, progress, userData);
  }
};

template <class Loader>
Plugin linkedPlugin(const Wanted& wanted) {
  using Linked = LinkedExports<Loader>;
  Plugin p = plugin(wanted);
  p.getPluginInfo = &Linked::getPluginInfo;
  p.isSupported = &Linked::isSupported;
  p.getPictureInfo = &Linked::getPictureInfo;
  p.getPicture = &Linked::getPicture;
  p.getPreview = &Linked::getPreview;
  p.linkedPictureInfo = &PluginExports<Loader>::linkedPictureInfo;
  p.linkedPicture = &PluginExports<Loader>::linkedPicture;
  return p;
}
#endif

}  // namespace

const FormatDescription& descriptionOf(PictureFormat format) {
  for (const Wanted& w : kPlugins)
    if (w.format == format) return *w.description;
  return *kPlugins[0].description;
}

std::span<const FormatDescription* const> formatDescriptions() {
  return kDescriptions;
}

std::string Plugin::info(int n) const {
  char text[256] = {};
  getPluginInfo(n, text, sizeof text);
  return text;
}

#ifdef LOADS_PLUGIN_DLLS

PluginSet::PluginSet(const std::string& folder) {
  std::string dir = folder;
  if (dir.empty()) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    dir.assign(self, length);
    std::size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  }
  for (const Wanted& w : kPlugins) {
    std::string path = dir + "\\" + w.module;
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
      error_ = path + ": cannot load the plug-in (error " + std::to_string(GetLastError()) + ")";
      plugins_.clear();
      return;
    }
    modules_.push_back(module);
    Plugin p = plugin(w);
    // GetProcAddress answers a generic function pointer; the export's real type is known.
    auto entry = [module](const char* name, auto& into) {
      into = reinterpret_cast<std::remove_reference_t<decltype(into)>>(
          reinterpret_cast<void*>(GetProcAddress(module, name)));
    };
    entry("GetPluginInfo", p.getPluginInfo);
    entry("IsSupported", p.isSupported);
    entry("GetPictureInfo", p.getPictureInfo);
    entry("GetPicture", p.getPicture);
    entry("GetPreview", p.getPreview);
    if (!p.getPluginInfo || !p.isSupported || !p.getPictureInfo || !p.getPicture || !p.getPreview) {
      error_ = path + ": not an import plug-in (exports missing)";
      plugins_.clear();
      return;
    }
    plugins_.push_back(p);
  }
}

PluginSet::~PluginSet() {
  for (void* module : modules_) FreeLibrary(static_cast<HMODULE>(module));
}

#else

PluginSet::PluginSet(const std::string&) {
  plugins_.push_back(linkedPlugin<GraLoader>(kPlugins[0]));
  plugins_.push_back(linkedPlugin<QLoader>(kPlugins[1]));
}

PluginSet::~PluginSet() = default;

#endif

const Plugin* PluginSet::byName(const std::string& name) const {
  for (const Plugin& p : plugins_)
    if (p.name == name) return &p;
  return nullptr;
}

const Plugin* PluginSet::byFormat(PictureFormat format) const {
  for (const Plugin& p : plugins_)
    if (p.format == format) return &p;
  return nullptr;
}

const Plugin* PluginSet::byFileName(const std::string& fileName) const {
  const auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return nullptr;
  const std::string extension = lower(fileName.substr(dot + 1));
  for (const Plugin& p : plugins_) {
    if (lower(p.extension()) == extension) return &p;
  }
  return nullptr;
}

std::vector<std::uint8_t> recognitionBlock(std::span<const std::uint8_t> file) {
  std::vector<std::uint8_t> block(kRecognitionBlockSize, 0);
  std::copy_n(file.begin(), std::min(file.size(), block.size()), block.begin());
  return block;
}

const Plugin* PluginSet::recognise(const std::string& fileName,
                                   std::span<const std::uint8_t> file) const {
  const std::vector<std::uint8_t> block = recognitionBlock(file);
  for (const Plugin& p : plugins_) {
    if (p.isSupported(fileName.c_str(), reinterpret_cast<HostValue>(block.data()))) return &p;
  }
  return nullptr;
}

const Plugin* PluginSet::recogniseContent(std::span<const std::uint8_t> file) const {
  for (const Plugin& p : plugins_) {
    if (recognisesContent(p, file)) return &p;
  }
  return nullptr;
}

bool recognisesContent(const Plugin& plugin, std::span<const std::uint8_t> file) {
  const std::vector<std::uint8_t> block = recognitionBlock(file);
  const std::string name = "picture." + plugin.extension();
  return plugin.isSupported(name.c_str(), reinterpret_cast<HostValue>(block.data())) != 0;
}

}  // namespace host
