// SPDX-License-Identifier: MIT
// What a host needs to know of a picture format, stated once beside the format itself
// (kGraFormat in gra/gra_format.h, qformat::kFormat in q/q_format.h). Every host and build reads
// it from there: the host library, the desktop modules and thumbnailer, the browser module, the
// benchmarks and the generated MIME package. None keeps a copy of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// What a companion file gives the picture it lies beside.
enum class CompanionRole {
  Palette,      // the colours
  FourthPlane,  // bit plane 3, which makes 16 colours of 8
};

// A file beside a picture, named by the companion rule (framework/companion_rule.h), which the
// plug-in reads when the picture is opened by name and the file has exactly `size` bytes.
struct CompanionFile {
  std::string_view suffix;  // replaces the picture's extension: "rgb" for "CARD.GRA"
  std::size_t size;
  CompanionRole role;
};

// The bytes that mark a file of the format, and how far a desktop may trust them.
struct FormatSignature {
  std::size_t offset;
  std::string_view bytes;
  // The weight of a match as the desktop's MIME database takes it (0 to 100); from 80 on the
  // contents decide before the file's name.
  int magicPriority;
};

// Why a file whose first `size` bytes are `bytes` is not a picture the plug-in takes, in words;
// empty when its header passes.
using HeaderCheck = std::string (*)(const std::uint8_t* bytes, std::size_t size);

struct FormatDescription {
  std::string_view name;   // as a user names the format: "gra"
  std::string_view title;  // for messages: "GRA picture"
  // Without the dot and in lower case; a name carries one in any letter case. The first is the
  // one the plug-in's file name pattern gives.
  std::span<const std::string_view> extensions;
  std::string_view mimeType;
  FormatSignature signature;
  // The largest file the decoder reads: bytes past it never count, so no host need read them.
  std::size_t largestFile;
  HeaderCheck headerProblem;
  std::span<const CompanionFile> companions;

  // The first word of the title, for lists of formats: "GRA".
  constexpr std::string_view shortTitle() const { return title.substr(0, title.find(' ')); }
};

// Whether name ends in a dot and the extension, letter case aside (ASCII letters only). A null
// name has no extension.
constexpr bool nameHasExtension(const char* name, std::string_view extension) {
  if (!name) return false;
  std::size_t length = 0;
  while (name[length]) ++length;
  if (length < extension.size() + 1) return false;
  const char* dot = name + length - extension.size() - 1;
  if (*dot != '.') return false;
  for (std::size_t i = 0; i < extension.size(); ++i) {
    char c = dot[1 + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}

// Whether name carries one of the format's extensions.
constexpr bool nameHasExtensionOf(const FormatDescription& format, const char* name) {
  for (std::string_view extension : format.extensions) {
    if (nameHasExtension(name, extension)) return true;
  }
  return false;
}
