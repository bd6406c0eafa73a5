// SPDX-License-Identifier: MIT
#include "host/file_names.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point at text[i], advancing i; kReplacement for a byte that starts no whole UTF-8
// sequence. Surrogates encoded as three bytes are taken, as utf16ToUtf8 writes them.
char32_t nextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  const int length = c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
  if (length == 0 || i + length > text.size()) {
    ++i;
    return kReplacement;
  }
  char32_t value = c & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    value = value << 6 | (byte(i + k) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < smallest[length] || value > 0x10FFFF) {
    ++i;
    return kReplacement;
  }
  i += static_cast<std::size_t>(length);
  return value;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = nextCodePoint(text, i);
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    const bool high = c >= 0xD800 && c < 0xDC00;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    appendUtf8(out, c);
  }
  return out;
}

std::filesystem::path pathOf(std::string_view name) {
#ifdef _WIN32
  return std::filesystem::path(wideName(name));
#else
  return std::filesystem::path(name);
#endif
}

std::string nameOfPath(const std::filesystem::path& path) {
#ifdef _WIN32
  return wideToUtf8(path.native());
#else
  return path.native();
#endif
}

#ifdef _WIN32

std::wstring wideName(std::string_view name) {
  const std::u16string wide = utf8ToUtf16(name);
  return std::wstring(wide.begin(), wide.end());
}

std::string wideToUtf8(std::wstring_view name) {
  return utf16ToUtf8(std::u16string(name.begin(), name.end()));
}

bool ansiName(std::string_view name, std::string& ansi) {
  const std::wstring wide = wideName(name);
  ansi.clear();
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  // No best fit: a character the code page lacks must not become a look-alike that names
  // another file.
  BOOL defaulted = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                         0, nullptr, &defaulted);
  if (length <= 0 || defaulted) return false;
  ansi.resize(static_cast<std::size_t>(length));
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), length, nullptr,
                      &defaulted);
  // And back: the code page must give the very same name again.
  const int back =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length, nullptr, 0);
  std::wstring again(static_cast<std::size_t>(back > 0 ? back : 0), L'\0');
  if (back > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, again.data(), back);
  return !defaulted && again == wide;
}

#endif

}  // namespace host
