#include "tools/planeconv/plugin_host.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#else
#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "q/q_loader.h"
#endif

std::string Plugin::formatName() const {
  char text[80] = {};
  getPluginInfo(3, text, sizeof text);
  return text;
}

namespace {

#ifndef _WIN32
template <class Loader>
Plugin linkedPlugin(PictureFormat format, const char* name, const char* moduleName) {
  using Exports = PluginExports<Loader>;
  return Plugin{format,
                name,
                moduleName,
                &Exports::getPluginInfo,
                &Exports::isSupported,
                &Exports::getPictureInfo,
                &Exports::getPicture};
}
#endif

}  // namespace

#ifdef _WIN32

PluginSet::PluginSet(const std::string& folder) {
  std::string dir = folder;
  if (dir.empty()) {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    dir.assign(self, length);
    std::size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  }
  const struct {
    PictureFormat format;
    const char* name;
    const char* module;
  } wanted[] = {{PictureFormat::Gra, "gra", "gradec" PLUGIN_FILE_EXTENSION},
                {PictureFormat::Q, "q", "qdec" PLUGIN_FILE_EXTENSION}};
  for (const auto& w : wanted) {
    std::string path = dir + "\\" + w.module;
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
      error_ = path + ": cannot load the plug-in (error " + std::to_string(GetLastError()) + ")";
      return;
    }
    modules_.push_back(module);
    Plugin p{w.format, w.name, w.module};
    // GetProcAddress answers a generic function pointer; the export's real type is known.
    auto entry = [module](const char* name, auto& into) {
      into = reinterpret_cast<std::remove_reference_t<decltype(into)>>(
          reinterpret_cast<void*>(GetProcAddress(module, name)));
    };
    entry("GetPluginInfo", p.getPluginInfo);
    entry("IsSupported", p.isSupported);
    entry("GetPictureInfo", p.getPictureInfo);
    entry("GetPicture", p.getPicture);
    if (!p.getPluginInfo || !p.isSupported || !p.getPictureInfo || !p.getPicture) {
      error_ = path + ": not an import plug-in (exports missing)";
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
  plugins_.push_back(
      linkedPlugin<GraLoader>(PictureFormat::Gra, "gra", "gradec" PLUGIN_FILE_EXTENSION));
  plugins_.push_back(linkedPlugin<QLoader>(PictureFormat::Q, "q", "qdec" PLUGIN_FILE_EXTENSION));
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

const Plugin* PluginSet::recognise(const std::string& fileName,
                                   const std::vector<std::uint8_t>& file) const {
  std::vector<std::uint8_t> block(kRecognitionBlockSize, 0);
  std::copy_n(file.begin(), std::min<std::size_t>(file.size(), block.size()), block.begin());
  for (const Plugin& p : plugins_) {
    if (p.isSupported(fileName.c_str(), reinterpret_cast<HostValue>(block.data()))) return &p;
  }
  return nullptr;
}
