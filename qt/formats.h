// SPDX-License-Identifier: MIT
// What the Qt plug-in tells Qt of each format: its key, the name applications give it (the host
// library's name of the format's plug-in: "gra", "q"), and its MIME type, from the format's own
// description. The plug-in itself and the metadata Qt reads before loading it
// (planes_image_plugin.json, written at build time by write_metadata.cpp) both take them from
// here.
#pragma once

#include <string>
#include <vector>

#include "host/plugin_set.h"

namespace qt_plugin {

struct FormatKey {
  host::PictureFormat format;
  std::string key;
  std::string mimeType;
};

// Every format of the plug-in set, in its order.
inline std::vector<FormatKey> formatKeys(const host::PluginSet& plugins) {
  std::vector<FormatKey> keys;
  for (const host::Plugin& plugin : plugins.plugins()) {
    keys.push_back({plugin.format, plugin.name, std::string(plugin.description->mimeType)});
  }
  return keys;
}

}  // namespace qt_plugin
