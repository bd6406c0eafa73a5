// SPDX-License-Identifier: MIT
#include "host/code_page_932.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "host/code_page_932_table.h"
#include "host/file_names.h"
#include "host/reasons.h"

namespace host {

namespace {

// Single bytes: ASCII, and the half-width katakana 0xA1 to 0xDF (U+FF61 to U+FF9F).
constexpr std::uint8_t kFirstKatakana = 0xA1;
constexpr std::uint8_t kLastKatakana = 0xDF;
constexpr char32_t kKatakanaBase = 0xFF61;

// Lead bytes of a double-byte character: 0x81 to 0x9F and 0xE0 to 0xFC; trail bytes 0x40 to
// 0x7E and 0x80 to 0xFC (the table's rows and columns).
int leadRow(std::uint8_t byte) {
  if (byte >= 0x81 && byte <= 0x9F) return byte - 0x81;
  if (byte >= 0xE0 && byte <= 0xFC) return byte - 0xE0 + (0x9F - 0x81 + 1);
  return -1;
}
int trailColumn(std::uint8_t byte) {
  if (byte >= 0x40 && byte <= 0x7E) return byte - 0x40;
  if (byte >= 0x80 && byte <= 0xFC) return byte - 0x80 + (0x7E - 0x40 + 1);
  return -1;
}
std::uint8_t leadByte(int row) {
  return static_cast<std::uint8_t>(row < 0x9F - 0x81 + 1 ? 0x81 + row : 0xE0 + row - 31);
}
std::uint8_t trailByte(int column) {
  return static_cast<std::uint8_t>(column < 0x7E - 0x40 + 1 ? 0x40 + column : 0x80 + column - 63);
}

// The characters the code page holds only as a look-alike, and the look-alike.
constexpr std::pair<char32_t, char32_t> kLookAlikes[] = {
    {0x301C, 0xFF5E}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x2014, 0x2015},
    {0x00A2, 0xFFE0}, {0x00A3, 0xFFE1}, {0x00AC, 0xFFE2},
};

// Lead bytes 0xED and 0xEE repeat the extensions of 0xFA to 0xFC.
bool repeatedExtension(int row) {
  return leadByte(row) == 0xED || leadByte(row) == 0xEE;
}

// Each character of the double-byte table and its pair (lead byte high). Where several pairs
// stand for it, the one Windows writes: the first in byte order outside the repeated
// extensions (the generating script checks the rule against the system's iconv).
const std::unordered_map<char32_t, std::uint16_t>& pairsByCharacter() {
  static const std::unordered_map<char32_t, std::uint16_t> pairs = [] {
    std::unordered_map<char32_t, std::uint16_t> map;
    for (const bool repeated : {false, true}) {
      for (int row = 0; row < cp932::kLeadCount; ++row) {
        if (repeatedExtension(row) != repeated) continue;
        for (int column = 0; column < cp932::kTrailCount; ++column) {
          if (const char32_t c = cp932::kPairs[row][column])
            map.emplace(c, static_cast<std::uint16_t>(leadByte(row) << 8 | trailByte(column)));
        }
      }
    }
    for (const auto& [typed, lookAlike] : kLookAlikes) map.emplace(typed, map.at(lookAlike));
    return map;
  }();
  return pairs;
}

// The UTF-8 character at text[i]: its value and length; length 0 when the bytes there are not
// one (a stray continuation byte, a cut sequence, an overlong form, a surrogate, past U+10FFFF).
std::pair<char32_t, std::size_t> nextCharacter(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return {c, 1};
  const std::size_t length = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return {0, 0};
  char32_t value = c & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return {0, 0};
    value = value << 6 | (next & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
    return {0, 0};
  return {value, length};
}

// The character c in code page 932, into out: 1 or 2 bytes; 0 when the code page has none.
std::size_t encodeCharacter(char32_t c, char out[2]) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c >= kKatakanaBase && c <= kKatakanaBase + (kLastKatakana - kFirstKatakana)) {
    out[0] = static_cast<char>(kFirstKatakana + (c - kKatakanaBase));
    return 1;
  }
  const auto& pairs = pairsByCharacter();
  const auto found = pairs.find(c);
  if (found == pairs.end()) return 0;
  out[0] = static_cast<char>(found->second >> 8);
  out[1] = static_cast<char>(found->second & 0xFF);
  return 2;
}

std::string ordinal(std::size_t n) {
  const std::size_t tens = n % 100, ones = n % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th"
                       : ones == 1              ? "st"
                       : ones == 2              ? "nd"
                       : ones == 3              ? "rd"
                                                : "th";
  return std::to_string(n) + suffix;
}

}  // namespace

std::string showCodePage932(std::string_view bytes) {
  std::string shown;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      shown += printable(bytes.substr(i, 1));  // ASCII, controls and backslash escaped
    } else if (b >= kFirstKatakana && b <= kLastKatakana) {
      appendUtf8(shown, kKatakanaBase + (b - kFirstKatakana));
    } else {
      const int row = leadRow(b);
      const int column =
          i + 1 < bytes.size() ? trailColumn(static_cast<std::uint8_t>(bytes[i + 1])) : -1;
      const char32_t c = row >= 0 && column >= 0 ? cp932::kPairs[row][column] : 0;
      if (c) {
        appendUtf8(shown, c);
        ++i;
      } else {  // the next byte, if any, is read on its own
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
        shown += escaped;
      }
    }
  }
  return shown;
}

bool toCodePage932(std::string_view text, std::string& bytes, std::string& error) {
  bytes.clear();
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto [c, length] = nextCharacter(text, i);
    ++count;
    if (length == 0) {
      char described[64];
      std::snprintf(described, sizeof described, "is not UTF-8 text (byte 0x%02x at offset %zu)",
                    static_cast<unsigned char>(text[i]), i);
      error = described;
      return false;
    }
    char out[2];
    const std::size_t written = encodeCharacter(c, out);
    if (written == 0) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      error = "the " + ordinal(count) + " character, " + printable(text.substr(i, length)) + " (" +
              code + "), is not in code page 932";
      return false;
    }
    bytes.append(out, written);
    i += length;
  }
  error.clear();
  return true;
}

std::string_view prefixFittingCodePage932(std::string_view text, std::size_t maxBytes) {
  std::size_t taken = 0, used = 0;
  while (taken < text.size()) {
    const auto [c, length] = nextCharacter(text, taken);
    char out[2];
    const std::size_t written = length ? encodeCharacter(c, out) : 0;
    if (written == 0 || used + written > maxBytes) break;
    used += written;
    taken += length;
  }
  return text.substr(0, taken);
}

}  // namespace host
