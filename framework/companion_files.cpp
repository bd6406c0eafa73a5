// SPDX-License-Identifier: MIT
// Companions: files beside a picture opened by name, or the companions a linked host holds in
// memory. Only the GRA plug-in uses them; the Q plug-in is built without this file.
#include <cstring>

#include "framework/companion_rule.h"
#include "framework/image_loader.h"

namespace {

bool sameIgnoringAsciiCase(const char* a, const char* b) {
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (; *a && *b; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

// The held companion whose name carries extension (letter case aside, as a file system that
// ignores it finds a file by name); null when none does.
const HeldCompanion* heldWithExtension(const HeldCompanions& held, const char* extension) {
  for (std::int32_t i = 0; i < held.count; ++i) {
    const char* name = held.items[i].name;
    if (!name) continue;
    const std::size_t stem = companionStemLength(name, std::strlen(name));
    if (stem != 0 && sameIgnoringAsciiCase(name + stem, extension)) return &held.items[i];
  }
  return nullptr;
}

}  // namespace

UINT Companion::read(void* destination, UINT count) {
  if (file >= 0) return _lread(file, destination, count);
  const auto left = static_cast<UINT>(held->size - position);
  const UINT copied = count < left ? count : left;
  if (copied > 0) std::memcpy(destination, held->bytes + position, copied);
  position += static_cast<std::int32_t>(copied);
  return copied;
}

bool Companion::seek(LONG offset) {
  if (file >= 0) return _llseek(file, offset, FILE_BEGIN) == offset;
  if (offset < 0 || offset > held->size) return false;
  position = offset;
  return true;
}

Companion ImageLoader::openCompanion(const char* extension, std::int32_t expectedSize) {
  Companion companion;
  std::int32_t size = 0;
  if (heldCompanions) {
    companion.held = heldWithExtension(*heldCompanions, extension);
    if (!companion.held) return {};
    size = companion.held->size;
  } else {
    if (!fileName) return {};
    const std::size_t end = std::strlen(fileName);
    const std::size_t stem = companionStemLength(fileName, end);
    if (stem == 0) return {};
    // The name copy has room for 5 characters beyond the name, so an extension of up to
    // (end - stem) + 5 characters fits in place of the old one.
    const std::size_t extensionLength = std::strlen(extension);
    if (extensionLength > end - stem + 5) return {};
    std::memcpy(fileName + stem, extension, extensionLength + 1);
    companion.file = _lopen(fileName, OF_READ);
    if (companion.file < 0) return {};
    size = _llseek(companion.file, 0, FILE_END);
  }
  // The one rule for both: a companion counts only at exactly the size asked for.
  if (size != expectedSize) {
    closeCompanion(companion);
    return {};
  }
  companion.seek(0);
  return companion;
}

void ImageLoader::closeCompanion(Companion& companion) {
  if (companion.file >= 0) _lclose(companion.file);
  companion = Companion{};
}

void ImageLoader::reportCompanion(const Companion& companion, CompanionUse use) const {
  if (!report || !companion) return;
  // A file is named as the loader opened it: by the name copy, which holds the companion's
  // name until the next companion is looked for.
  report->companionTaken(companion.held ? companion.held->name : fileName, use);
}
