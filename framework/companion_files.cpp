// SPDX-License-Identifier: MIT
// Companion files beside a picture opened by name. Only the GRA plug-in uses them; the Q
// plug-in is built without this file.
#include <cstring>

#include "framework/companion_rule.h"
#include "framework/image_loader.h"

HFILE ImageLoader::openCompanion(const char* extension, std::int32_t expectedSize) {
  if (!fileName) return HFILE_ERROR;
  const std::size_t end = std::strlen(fileName);
  const std::size_t stem = companionStemLength(fileName, end);
  if (stem == 0) return HFILE_ERROR;
  // The name copy has room for 5 characters beyond the name, so an extension of up to
  // (end - stem) + 5 characters fits in place of the old one.
  const std::size_t extensionLength = std::strlen(extension);
  if (extensionLength > end - stem + 5) return HFILE_ERROR;
  std::memcpy(fileName + stem, extension, extensionLength + 1);

  HFILE companion = _lopen(fileName, OF_READ);
  if (companion < 0) return HFILE_ERROR;
  if (_llseek(companion, 0, FILE_END) != expectedSize) {
    _lclose(companion);
    return HFILE_ERROR;
  }
  _llseek(companion, 0, FILE_BEGIN);
  return companion;
}

void ImageLoader::closeCompanion(HFILE handle) {
  _lclose(handle);
}
