// Companion files beside a picture opened by name. Only the GRA plug-in uses them; the Q
// plug-in is built without this file.
#include <cstring>

#include "framework/image_loader.h"

HFILE ImageLoader::openCompanion(const char* extension, std::int32_t expectedSize) {
  if (!fileName) return HFILE_ERROR;
  std::size_t end = std::strlen(fileName);
  // The dot of a 1-, 2- or 3-letter extension lies 2, 3 or 4 characters before the end.
  std::size_t back = 2;
  while (back <= 4 && !(back <= end && fileName[end - back] == '.')) ++back;
  if (back > 4) return HFILE_ERROR;
  // The name copy has room for 5 characters beyond the name, so an extension of up to
  // back + 4 characters fits in place of the old one.
  std::size_t extensionLength = std::strlen(extension);
  if (extensionLength > back + 4) return HFILE_ERROR;
  std::memcpy(fileName + end - back + 1, extension, extensionLength + 1);

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
