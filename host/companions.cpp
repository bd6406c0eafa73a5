#include "host/companions.h"

#include <filesystem>

#include "framework/companion_rule.h"
#include "gra/gra_format.h"

namespace host {

namespace {

std::string companionOfSize(const std::string& path, const char* extension, std::uintmax_t size) {
  const std::string name = companionName(path, extension);
  if (name.empty()) return "";
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(name, error);
  return regular && std::filesystem::file_size(name, error) == size && !error ? name : "";
}

}  // namespace

Companions companionsOf(PictureFormat format, const std::string& path) {
  if (format != PictureFormat::Gra || path.empty()) return {};
  return {companionOfSize(path, kGraPaletteExtension, kGraPaletteFileSize),
          companionOfSize(path, kGraFourthPlaneExtension, kGraFourthPlaneSize)};
}

}  // namespace host
