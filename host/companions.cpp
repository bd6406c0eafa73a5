#include "host/companions.h"

#include <filesystem>

#include "framework/companion_rule.h"
#include "gra/gra_format.h"

namespace host {

namespace {

std::string existingOfSize(const std::string& name, std::uintmax_t size) {
  if (name.empty()) return "";
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(name, error);
  return regular && std::filesystem::file_size(name, error) == size && !error ? name : "";
}

}  // namespace

Companions companionNamesOf(PictureFormat format, const std::string& path) {
  if (format != PictureFormat::Gra || path.empty()) return {};
  return {companionName(path, kGraPaletteExtension), companionName(path, kGraFourthPlaneExtension)};
}

Companions companionsOf(PictureFormat format, const std::string& path) {
  const Companions names = companionNamesOf(format, path);
  return {existingOfSize(names.palette, kGraPaletteFileSize),
          existingOfSize(names.fourthPlane, kGraFourthPlaneSize)};
}

}  // namespace host
