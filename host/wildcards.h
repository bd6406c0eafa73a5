// SPDX-License-Identifier: MIT
// Wildcards in file names, as a Windows command line gives them to the program to expand: the
// shell there passes "*.gra" on as it stands. "*" stands for any run of characters, "?" for one;
// letters match whatever their case, as the file system finds names; "*.*" is every name, with
// or without a dot.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// A name with its letters in one case, as the file system compares names letter case aside: for
// telling whether two names are one file's there.
std::string foldCase(std::string_view name);

// Whether text holds "*" or "?", which no Windows file name holds.
bool hasWildcards(std::string_view text);

// Whether the file name name (UTF-8) matches pattern (UTF-8, no folder part).
bool matchesWildcards(std::string_view pattern, std::string_view name);

// The files and folders that pattern names, in the order of their names letter case aside: the
// pattern's folder part as written (in which wildcards are not expanded) followed by each name
// in that folder that its last part matches. Empty when nothing matches or the folder cannot be
// read.
std::vector<std::string> expandWildcards(const std::string& pattern);

}  // namespace host
