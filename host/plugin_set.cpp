// SPDX-License-Identifier: MIT
#include "host/plugin_set.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <type_traits>

#include "gra/gra_format.h"
#include "q/q_format.h"

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "q/q_loader.h"

// PLANES_LINKED_PLUGINS: only the linked decoders on Windows as well (host_linked), for a program
// that must not depend on the plug-in DLLs. Otherwise Windows programs load the DLLs and keep the
// linked decoders for names the DLLs' narrow interface cannot carry.
#if defined(_WIN32) && !defined(PLANES_LINKED_PLUGINS)
#define LOADS_PLUGIN_DLLS 1
#include <windows.h>

#include <filesystem>

#include "framework/little_endian.h"
#include "host/file_names.h"
#include "host/files.h"
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

namespace {

// The word size a Windows module is built for, from its headers: 32 or 64, 0 when the file is
// no Windows program or library.
int moduleBits(const std::string& path) {
  InputFile in;
  std::vector<std::uint8_t> bytes;
  if (!in.open(path) || !in.readUpTo(4096, bytes) || bytes.size() < 64) return 0;
  if (bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  const std::size_t pe = readLe32(bytes.data() + 60);
  if (pe > bytes.size() - 6 || bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 ||
      bytes[pe + 3] != 0)
    return 0;
  const unsigned machine = bytes[pe + 4] | bytes[pe + 5] << 8;
  if (machine == IMAGE_FILE_MACHINE_I386) return 32;
  if (machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_ARM64) return 64;
  return 0;
}

// The program's own folder and its file name.
void ownLocation(std::string& folder, std::string& program) {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length < self.size()) {
      self.resize(length);
      break;
    }
    self.resize(self.size() * 2);
  }
  const std::string path = wideToUtf8(self);
  const std::size_t slash = path.find_last_of("\\/");
  folder = slash == std::string::npos ? "." : path.substr(0, slash);
  program = slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr int kOwnBits = sizeof(void*) * 8;

// Why the plug-in at path did not load (error from LoadLibrary), in words a user can act on.
std::string whyNotLoaded(const std::string& path, const std::string& module, const std::string& dir,
                         bool besideProgram, const std::string& program, DWORD error) {
  const std::string where = besideProgram ? "beside " + program + " (in " + dir + ")" : "in " + dir;
  const std::string width = std::to_string(kOwnBits) + "-bit";
  std::error_code ignored;
  if (!std::filesystem::exists(pathOf(path), ignored)) {
    std::string message = "the plug-in " + module + " is not " + where;
    // The other width's plug-in has the other extension: .spi for 32-bit hosts, .sph for 64-bit.
    const std::string other =
        module.substr(0, module.size() - 4) + (kOwnBits == 64 ? ".spi" : ".sph");
    if (std::filesystem::exists(pathOf(dir + "\\" + other), ignored)) {
      message += "; the folder holds " + other + ", the plug-in for " +
                 (kOwnBits == 64 ? "32" : "64") + "-bit programs, and this " + program + " is " +
                 width + ": use the " + program + " of the folder where " + other + " lies";
    } else {
      message += "; copy " + module + " there from the " + (kOwnBits == 64 ? "x64" : "x86") +
                 " folder of the release, or name its folder with --plugins";
    }
    return message;
  }
  const int bits = moduleBits(path);
  if (error == ERROR_BAD_EXE_FORMAT || (bits != 0 && bits != kOwnBits)) {
    if (bits != 0 && bits != kOwnBits) {
      return path + ": a plug-in for " + std::to_string(bits) + "-bit programs, and this " +
             program + " is " + width + ": put the " + width + " plug-in " + module +
             " in its place (the release's " + (kOwnBits == 64 ? "x64" : "x86") + " folder)";
    }
    return path + ": not a Windows library (the file is damaged or no plug-in)";
  }
  if (error == ERROR_MOD_NOT_FOUND)
    return path + ": cannot be loaded: a library it needs is missing from this Windows";
  if (error == ERROR_ACCESS_DENIED) return path + ": cannot be loaded: access is denied";
  return path + ": cannot be loaded (Windows error " + std::to_string(error) + ")";
}

}  // namespace

PluginSet::PluginSet(const std::string& folder) {
  std::string dir = folder, ownFolder, program;
  ownLocation(ownFolder, program);
  const bool besideProgram = dir.empty();
  if (besideProgram) dir = ownFolder;
  while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/') && dir[dir.size() - 2] != ':')
    dir.pop_back();
  for (const Wanted& w : kPlugins) {
    const std::string path = dir + "\\" + w.module;
    // No message box of the system's when the library cannot be loaded: the reason is said here.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryW(wideName(path).c_str());
    const DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (!module) {
      error_ = whyNotLoaded(path, w.module, dir, besideProgram, program, error);
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
    // The same decoder linked into the program, for pictures whose names the DLL cannot open.
    p.dll = true;
    if (w.format == PictureFormat::Gra) {
      p.linkedPictureInfo = &PluginExports<GraLoader>::linkedPictureInfo;
      p.linkedPicture = &PluginExports<GraLoader>::linkedPicture;
    } else {
      p.linkedPictureInfo = &PluginExports<QLoader>::linkedPictureInfo;
      p.linkedPicture = &PluginExports<QLoader>::linkedPicture;
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
