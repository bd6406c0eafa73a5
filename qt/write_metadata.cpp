// SPDX-License-Identifier: MIT
// Writes the Qt plug-in's metadata, which Qt reads before it loads the plug-in: the keys and,
// in the same order, the MIME types of the formats (formats.h).
//   write_metadata OUT.json
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "qt/formats.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_metadata OUT.json\n");
    return 2;
  }
  const host::PluginSet plugins;
  std::string keys, mimeTypes;
  for (const qt_plugin::FormatKey& format : qt_plugin::formatKeys(plugins)) {
    const char* comma = keys.empty() ? "" : ", ";
    keys += comma + ("\"" + format.key + "\"");
    mimeTypes += comma + ("\"" + format.mimeType + "\"");
  }
  // Written under a temporary name and renamed, so that a build never sees half a file.
  const std::string part = std::string(argv[1]) + ".part";
  std::ofstream out(part, std::ios::binary | std::ios::trunc);
  out << "{\n  \"Keys\": [" << keys << "],\n  \"MimeTypes\": [" << mimeTypes << "]\n}\n";
  out.close();
  std::error_code error;
  if (out) std::filesystem::rename(part, argv[1], error);
  if (!out || error) {
    std::filesystem::remove(part, error);
    std::fprintf(stderr, "write_metadata: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
