// SPDX-License-Identifier: MIT
// The pinned outputs (tests/expected/decoded.sha256): what every picture of pictures::pinnedSet()
// decodes to, as SHA-256 hashes, which every build's tests hold their own decodes to. Each line
// names a picture by its path in the set and gives either its four hashes or its result code:
//
//   NAME  INDICES  PALETTE  COMMENT  RGB     a picture that decodes (asked IsSupported, then
//                                            read by name with its companion files beside it)
//   NAME  result  CODE                       a file refused: Unsupported when IsSupported
//                                            answers 0, else GetPicture's result code as the
//                                            code spells it ("BadData")
//
//   INDICES  one byte a pixel (0 to 15), rows top first: 256000 bytes
//   PALETTE  the 16 colours of the bitmap's colour table as red, green, blue: 48 bytes
//   COMMENT  the comment as a host shows it: the text block up to its first 0 byte, trailing
//            spaces dropped (none: no bytes)
//   RGB      the colours of the pixels as red, green, blue, rows top first: 768000 bytes
//
// Hashes are 64 lower-case hex digits; fields are separated by two spaces; lines starting with
// # are comments. `make pinned` writes the file; the tests only read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace pinned {

std::string sha256(const std::uint8_t* data, std::size_t size);
inline std::string sha256(const Bytes& bytes) {
  return sha256(bytes.data(), bytes.size());
}

struct Entry {
  std::string name;
  std::string result;  // "Ok" for a picture that decodes, else the refusal's code
  std::string indices, palette, comment, rgb;

  bool decoded() const { return result == "Ok"; }
  std::string line() const;
};

// A decoded picture's entry from its indices (one a pixel, top row first), its 16 colours as
// red, green, blue and its comment as a host shows it.
Entry decoded(const std::string& name, const Bytes& indices, const Bytes& paletteRgb,
              const std::string& comment);
// The same from what the plug-in hands over: the information block (a 40-byte header and 16
// RGBQUADs), the pixel block (4-bit rows, bottom row first) and GetPictureInfo's text block
// (empty when there is none).
Entry fromBlocks(const std::string& name, const Bytes& info, const Bytes& pixels,
                 const Bytes& textBlock);
Entry refused(const std::string& name, const std::string& result);

// The comment a host shows of a text block: up to its first 0 byte, trailing spaces dropped.
std::string commentOf(const Bytes& textBlock);

struct File {
  std::vector<Entry> entries;
  std::string error;  // why the file could not be read; empty when it was
  const Entry* find(const std::string& name) const;
};

File read(const std::string& path);

// Where got differs from the file's entry of the same name, in words; empty when they agree.
// A host that sees only colours (no indices, palette or comment) leaves those fields empty, and
// a host that cannot tell result codes apart gives result "refused": they are not compared.
std::string compare(const File& file, const Entry& got);

// The comment lines at the head of the file.
std::string header();

}  // namespace pinned
