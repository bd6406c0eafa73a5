// SPDX-License-Identifier: MIT
#include "host/dll_reports.h"

#include <filesystem>

#include "framework/companion_rule.h"
#include "gra/gra_format.h"
#include "host/file_names.h"
#include "host/files.h"
#include "q/q_format.h"

namespace host {

namespace {

// The file the DLL opens for a companion's name, when it has exactly the size asked for.
std::string existingOfSize(const std::string& companion, std::uintmax_t size) {
  const std::string name = companion.empty() ? "" : fileToOpen(companion);
  if (name.empty()) return "";
  std::error_code error;
  const std::filesystem::path file = pathOf(name);
  const bool regular = std::filesystem::is_regular_file(file, error);
  return regular && std::filesystem::file_size(file, error) == size && !error ? name : "";
}

}  // namespace

void reportForDll(const Plugin& plugin, const PictureFile& file, bool byName, PictureInfo& info) {
  info.companions = {};
  if (plugin.format == PictureFormat::Gra) {
    if (byName) {
      info.companions.palette =
          existingOfSize(companionName(file.path, kGraPaletteExtension), kGraPaletteFileSize);
      info.companions.fourthPlane =
          existingOfSize(companionName(file.path, kGraFourthPlaneExtension), kGraFourthPlaneSize);
    }
    info.colors = info.companions.fourthPlane.empty() ? 8 : 16;
    return;
  }
  Bytes header = file.bytes;
  if (header.size() <= qformat::kColorModeOffset && byName) {
    InputFile in;
    if (in.open(file.path)) in.readUpTo(qformat::kHeaderSize, header);
  }
  info.colors =
      header.size() > qformat::kColorModeOffset && qformat::isEightColor(header.data()) ? 8 : 16;
}

}  // namespace host
