// SPDX-License-Identifier: MIT
// The companion-file rule, stated once for the plug-in that opens companions (GraLoader, through
// ImageLoader::openCompanion) and for the hosts that report which companions a picture used.
//
// A companion file lies beside a picture opened by name: it has the picture's name with the
// picture's 1- to 3-letter extension replaced ("CARD.GRA" -> "CARD.rgb"). A name without such
// an extension has no companions. A picture handed over in memory has none either, unless a
// host that links the plug-in in hands its companions over in memory too (their names'
// extensions say which is which: framework/linked_host.h).
#pragma once

#include <cstddef>
#include <string>

// The length of the part of a name that a companion's name keeps: everything up to and
// including the dot of a 1-, 2- or 3-letter extension. 0 when the name has no such extension.
// Names come in bytes, or in wide characters where a host holds them so.
template <class Char>
constexpr std::size_t companionStemLength(const Char* name, std::size_t length) {
  // The dot of a 1-, 2- or 3-letter extension lies 2, 3 or 4 characters before the end.
  for (std::size_t back = 2; back <= 4 && back <= length; ++back) {
    if (name[length - back] == Char('.')) return length - back + 1;
  }
  return 0;
}

// The name of a picture's companion with the given extension; empty when the picture's name
// has no 1- to 3-letter extension.
inline std::string companionName(const std::string& picture, const char* extension) {
  const std::size_t stem = companionStemLength(picture.data(), picture.size());
  return stem ? picture.substr(0, stem) + extension : std::string();
}
