// SPDX-License-Identifier: MIT
// File names as the host library holds them: UTF-8 text on every system. On Windows, where the
// system's names are UTF-16, each file call converts at the moment it is made, so that any name
// the file system allows can be read, written and shown; a program takes its arguments in
// UTF-16 and converts them once (wideToUtf8).
//
// std::filesystem takes a name through pathOf and gives one back through nameOfPath: on Windows
// its own conversion of a narrow string reads it in the C library's code page, not as UTF-8.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace host {

std::filesystem::path pathOf(std::string_view name);
std::string nameOfPath(const std::filesystem::path& path);

// UTF-16 and UTF-8, both ways. A lone surrogate, which Windows allows in a name, is carried
// over as the three bytes UTF-8 would give it, so that the name comes back the same; bytes that
// are no UTF-8 become U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
// Appends the UTF-8 bytes of the character c.
void appendUtf8(std::string& out, char32_t c);

#ifdef _WIN32
std::wstring wideName(std::string_view name);
std::string wideToUtf8(std::wstring_view name);
// The name in the process's ANSI code page, the one the plug-ins' narrow names are read in;
// false when the code page cannot hold every character of it.
bool ansiName(std::string_view name, std::string& ansi);
#endif

}  // namespace host
