// SPDX-License-Identifier: MIT
#include "host/wildcards.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "host/file_names.h"
#include "host/file_system.h"

namespace host {

namespace {

// The code points of UTF-8 text, each folded to one letter case. The folding covers the
// scripts whose letters have case in pairs at fixed distances: Latin (ASCII, Latin-1 and
// Latin Extended-A), Greek, Cyrillic and the full-width Latin letters; kana and kanji have none.
std::u32string folded(std::string_view text) {
  const std::u16string wide = utf8ToUtf16(text);
  std::u32string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F) ||
        (c >= 0xFF21 && c <= 0xFF3A)) {
      c += 0x20;
    } else if (c >= 0x400 && c <= 0x40F) {
      c += 0x50;
    } else if (c == 0x178) {
      c = 0xFF;  // Y with diaeresis, whose small letter is in Latin-1
    } else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
               c != 0x17F) {
      // Latin Extended-A: pairs of capital and small, the capital even up to U+0137 and from
      // U+014A, odd from U+0139 to U+0148 and from U+0179.
      const bool oddCapitals = (c >= 0x139 && c <= 0x148) || c >= 0x179;
      if ((c % 2 == 1) == oddCapitals) ++c;
    }
    out += c;
  }
  return out;
}

bool matches(std::u32string_view pattern, std::u32string_view name) {
  // Greedy with one step back: on a mismatch the last "*" takes one more character.
  std::size_t p = 0, n = 0, starAt = std::u32string_view::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starAt = p++;
      resumeAt = n;
    } else if (starAt != std::u32string_view::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

}  // namespace

std::string foldCase(std::string_view name) {
  const std::u32string letters = folded(name);
  std::u16string wide;
  for (char32_t c : letters) {
    if (c < 0x10000) {
      wide += static_cast<char16_t>(c);
    } else {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return utf16ToUtf8(wide);
}

bool hasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

bool matchesWildcards(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  return matches(folded(pattern), folded(name));
}

std::vector<std::string> expandWildcards(const std::string& pattern) {
  const std::size_t separator = pattern.find_last_of(os::kSeparators);
  const std::string folder = separator == std::string::npos ? "" : pattern.substr(0, separator + 1);
  const std::string last = pattern.substr(folder.size());
  if (hasWildcards(folder) || last.empty()) return {};

  struct Found {
    std::u32string key;
    std::string name;
  };
  std::vector<Found> found;
  std::error_code error;
  std::filesystem::directory_iterator it(pathOf(folder.empty() ? "." : folder), error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = nameOfPath(it->path().filename());
    if (matchesWildcards(last, name)) found.push_back({folded(name), name});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.key != b.key ? a.key < b.key : a.name < b.name;
  });
  std::vector<std::string> paths;
  for (const Found& f : found) paths.push_back(folder + f.name);
  return paths;
}

}  // namespace host
