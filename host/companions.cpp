// SPDX-License-Identifier: MIT
#include "host/companions.h"

#include <filesystem>

#include "framework/companion_rule.h"
#include "gra/gra_format.h"
#include "host/file_names.h"
#include "host/files.h"

#ifndef _WIN32
#include "framework/native_names.h"
#endif

namespace host {

namespace {

bool sameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The companion the plug-in opens for picture and extension, if that file is there.
std::string companionFile(const std::string& picture, const char* extension) {
  const std::string name = companionName(picture, extension);
  return name.empty() ? "" : fileToOpen(name);
}

}  // namespace

std::string fileToOpen(const std::string& path) {
#ifdef _WIN32
  // The file system itself ignores letter case.
  std::error_code error;
  return std::filesystem::exists(pathOf(path), error) ? path : "";
#else
  return platform::nameToOpen(path);
#endif
}

std::vector<std::string> filesNamedLike(const std::string& path) {
#ifdef _WIN32
  std::string file = fileToOpen(path);
  return file.empty() ? std::vector<std::string>{} : std::vector<std::string>{file};
#else
  return platform::namesIgnoringCase(path);
#endif
}

Companions companionNamesOf(PictureFormat format, const std::string& path) {
  if (format != PictureFormat::Gra || path.empty()) return {};
  return {companionName(path, kGraPaletteExtension), companionName(path, kGraFourthPlaneExtension)};
}

std::vector<std::string> companionFiles(PictureFormat format, const std::string& path) {
  std::vector<std::string> files;
  if (format != PictureFormat::Gra || path.empty()) return files;
  for (const char* extension : {kGraPaletteExtension, kGraFourthPlaneExtension}) {
    if (std::string file = companionFile(path, extension); !file.empty()) files.push_back(file);
  }
  return files;
}

CompanionOwner ownerOfCompanion(const std::string& path) {
  const std::size_t stem = companionStemLength(path.data(), path.size());
  if (stem == 0) return {};
  const std::string extension = path.substr(stem);
  const char* role = sameLetters(extension, kGraPaletteExtension)       ? "palette file"
                     : sameLetters(extension, kGraFourthPlaneExtension) ? "fourth-plane file"
                                                                        : nullptr;
  if (!role) return {};
  const std::string picture = fileToOpen(path.substr(0, stem) + kGraExtension);
  if (picture.empty()) return {};
  const FileId self = fileIdOf(path);
  for (const std::string& companion : companionFiles(PictureFormat::Gra, picture)) {
    if (self.exists && fileIdOf(companion) == self) return {picture, role};
  }
  return {};
}

const char* roleName(CompanionRole role) {
  switch (role) {
    case CompanionRole::Palette:
      return "palette file";
    case CompanionRole::FourthPlane:
      return "fourth-plane file";
  }
  return "companion file";
}

}  // namespace host
