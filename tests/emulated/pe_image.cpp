// SPDX-License-Identifier: MIT
#include "tests/emulated/pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "framework/little_endian.h"
#include "tests/emulated/machine.h"

namespace {

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kOptionalHeaderPe32 = 0x10B;
constexpr std::uint16_t kCharacteristicDll = 0x2000;
constexpr std::uint32_t kSectionExecutable = 0x20000000;
constexpr std::uint32_t kSectionWritable = 0x80000000;
constexpr std::uint32_t kPageSize = 0x1000;

// Data directory entries.
enum Directory { kExports = 0, kImports = 1, kResources = 2, kRelocations = 5, kThreadStorage = 9 };

// Base relocation kinds.
constexpr int kRelocationPadding = 0;
constexpr int kRelocationHighLow = 3;

std::uint32_t pageRound(std::uint32_t size) {
  return (size + kPageSize - 1) & ~(kPageSize - 1);
}

}  // namespace

void PeImage::fail(const std::string& what) const {
  throw EmulationError(path_ + ": " + what);
}

std::uint32_t PeImage::get32(std::uint32_t rva) const {
  if (rva > image_.size() || image_.size() - rva < 4) fail("a field lies outside the image");
  return readLe32(&image_[rva]);
}

std::uint16_t PeImage::get16(std::uint32_t rva) const {
  if (rva > image_.size() || image_.size() - rva < 2) fail("a field lies outside the image");
  return readLe16(&image_[rva]);
}

std::string PeImage::getString(std::uint32_t rva) const {
  std::string text;
  while (rva < image_.size() && image_[rva] != 0) text.push_back(static_cast<char>(image_[rva++]));
  if (rva >= image_.size()) fail("a name runs past the end of the image");
  return text;
}

PeImage::PeImage(const std::string& path, std::uint32_t base) : path_(path), base_(base) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot open the file");
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  auto at16 = [&](std::size_t offset) {
    if (offset + 2 > file.size()) fail("the file ends inside its headers");
    return readLe16(&file[offset]);
  };
  auto at32 = [&](std::size_t offset) -> std::uint32_t {
    if (offset + 4 > file.size()) fail("the file ends inside its headers");
    return readLe32(&file[offset]);
  };

  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') fail("not an executable file");
  const std::size_t pe = at32(0x3C);
  if (at32(pe) != 0x00004550) fail("no PE signature");
  const std::size_t fileHeader = pe + 4;
  if (at16(fileHeader) != kMachineI386) fail("not a 32-bit x86 image");
  const int sectionCount = at16(fileHeader + 2);
  const std::size_t optional = fileHeader + 20;
  const std::size_t sectionTable = optional + at16(fileHeader + 16);
  if (!(at16(fileHeader + 18) & kCharacteristicDll)) fail("not a DLL");
  if (at16(optional) != kOptionalHeaderPe32) fail("not a PE32 image");

  entryPointRva_ = at32(optional + 16);
  preferredBase_ = at32(optional + 28);
  const std::uint32_t imageSize = at32(optional + 56);
  const std::uint32_t headerSize = at32(optional + 60);
  const std::uint32_t directoryCount = at32(optional + 92);
  auto directory = [&](Directory d, std::uint32_t& rva, std::uint32_t& size) {
    rva = size = 0;
    if (static_cast<std::uint32_t>(d) < directoryCount) {
      rva = at32(optional + 96 + 8 * d);
      size = at32(optional + 100 + 8 * d);
    }
  };

  image_.assign(pageRound(imageSize), 0);
  if (headerSize > file.size() || headerSize > image_.size()) fail("headers larger than the file");
  std::copy_n(file.begin(), headerSize, image_.begin());
  for (int i = 0; i < sectionCount; ++i) {
    const std::size_t header = sectionTable + 40 * static_cast<std::size_t>(i);
    char name[9] = {};
    if (header + 40 > file.size()) fail("the section table runs past the end of the file");
    std::memcpy(name, &file[header], 8);
    const std::uint32_t virtualSize = at32(header + 8);
    const std::uint32_t rva = at32(header + 12);
    const std::uint32_t rawSize = at32(header + 16);
    const std::uint32_t rawOffset = at32(header + 20);
    const std::uint32_t characteristics = at32(header + 36);
    const std::uint32_t copied = std::min(rawSize, virtualSize);
    if (rva % kPageSize != 0 || std::uint64_t{rva} + virtualSize > image_.size())
      fail(std::string("section ") + name + " does not fit the image");
    if (std::uint64_t{rawOffset} + copied > file.size())
      fail(std::string("section ") + name + " runs past the end of the file");
    std::copy_n(file.begin() + rawOffset, copied, image_.begin() + rva);
    sections_.push_back({name, rva, pageRound(virtualSize),
                         (characteristics & kSectionWritable) != 0,
                         (characteristics & kSectionExecutable) != 0});
  }

  std::uint32_t rva, size;
  directory(kRelocations, rva, size);
  if (base_ != preferredBase_) {
    if (size == 0) fail("the image cannot be moved: it has no base relocations");
    applyRelocations(rva, size);
  }
  directory(kImports, rva, size);
  if (rva) readImports(rva);
  directory(kExports, rva, size);
  if (rva) readExports(rva, size);
  directory(kThreadStorage, rva, size);
  if (rva) {
    hasTls_ = true;
    tls_ = {get32(rva), get32(rva + 4), get32(rva + 16), get32(rva + 8), get32(rva + 12)};
  }
  directory(kResources, resourceRva_, size);
}

void PeImage::applyRelocations(std::uint32_t rva, std::uint32_t size) {
  const std::uint32_t delta = base_ - preferredBase_;
  for (std::uint32_t block = rva; block + 8 <= rva + size;) {
    const std::uint32_t page = get32(block);
    const std::uint32_t blockSize = get32(block + 4);
    if (blockSize < 8) fail("a base relocation block is too short");
    for (std::uint32_t entry = block + 8; entry + 2 <= block + blockSize; entry += 2) {
      const std::uint16_t value = get16(entry);
      const int kind = value >> 12;
      if (kind == kRelocationPadding) continue;
      if (kind != kRelocationHighLow) fail("base relocation kind " + std::to_string(kind));
      const std::uint32_t target = page + (value & 0xFFF);
      writeLe32(&image_[target], get32(target) + delta);
      ++relocationsApplied_;
    }
    block += blockSize;
  }
}

void PeImage::readImports(std::uint32_t rva) {
  for (std::uint32_t descriptor = rva;; descriptor += 20) {
    const std::uint32_t lookup = get32(descriptor);
    const std::uint32_t nameRva = get32(descriptor + 12);
    const std::uint32_t slots = get32(descriptor + 16);
    if (nameRva == 0 && slots == 0) break;
    const std::string dll = getString(nameRva);
    for (std::uint32_t i = 0;; ++i) {
      const std::uint32_t entry = get32((lookup ? lookup : slots) + 4 * i);
      if (entry == 0) break;
      if (entry & 0x80000000) fail(dll + " is imported by ordinal");
      imports_.push_back({dll, getString(entry + 2), slots + 4 * i});
    }
  }
}

void PeImage::readExports(std::uint32_t rva, std::uint32_t size) {
  const std::uint32_t nameCount = get32(rva + 24);
  const std::uint32_t functions = get32(rva + 28);
  const std::uint32_t names = get32(rva + 32);
  const std::uint32_t ordinals = get32(rva + 36);
  for (std::uint32_t i = 0; i < nameCount; ++i) {
    const std::string name = getString(get32(names + 4 * i));
    const std::uint32_t function = get32(functions + 4 * get16(ordinals + 2 * i));
    if (function >= rva && function < rva + size) fail("export " + name + " is forwarded");
    exports_[name] = function;
  }
}

void PeImage::bind(const Import& import, std::uint32_t address) {
  writeLe32(&image_[import.slotRva], address);
}
