// SPDX-License-Identifier: MIT
// The companion files a plug-in may open beside a picture opened by name: their names, and the
// files that must never be replaced while the picture is an input. Which companions a decode
// took is not worked out here: the plug-in reports it (host/picture.h).
//
// A companion is named as the plug-in names it: by the companion rule (framework/
// companion_rule.h), and, where the exact name does not exist, whatever the letter case of its
// name, as Windows' file system finds it (framework/native_names.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin_set.h"

#ifndef _WIN32
#include "framework/native_names.h"
#endif

namespace host {

// While one lives, a companion whose exact name does not exist is found (by this library and
// by the plug-ins) in a listing of its folder read once and kept, not by reading the folder
// again for every name: a program converting a folder makes one for the run, and every decode
// makes one for its own calls. Files that appear in the folder meanwhile are not seen. On
// Windows, whose file system itself ignores letter case, it does nothing.
class FolderListings {
 public:
  FolderListings() {}  // user-provided: a local of it is never "unused"
  FolderListings(const FolderListings&) = delete;
  FolderListings& operator=(const FolderListings&) = delete;

 private:
#ifndef _WIN32
  platform::KeptListings kept_;
#endif
};

// Companions of a picture by what they give it; empty where it has none.
struct Companions {
  std::string palette;      // a GRA picture's colours
  std::string fourthPlane;  // a GRA picture's plane 3
};

// The names of the companions the plug-in of format looks for beside a picture at path (the
// companion rule), whether or not they exist: for a host that gathers them itself, as a browser
// page does with the files a user dropped. Empty where the format uses none.
Companions companionNamesOf(PictureFormat format, const std::string& path);

// Every file the plug-in of format would open as a companion of the picture at path, whatever
// its size: the files a host must never replace while the picture is its input.
std::vector<std::string> companionFiles(PictureFormat format, const std::string& path);

// The file the plug-ins would open for the name path: path itself when it exists, else the name
// that differs from it in letter case only (the first in byte order of several); empty when
// there is neither.
std::string fileToOpen(const std::string& path);

// Every file whose name differs from path's in letter case only, path's own included: those the
// plug-ins could open for the name path, one after the other as each is removed.
std::vector<std::string> filesNamedLike(const std::string& path);

// When path names a companion file of a GRA picture lying beside it (the picture's name with
// the extension "gra" in any letter case, of which path is the palette or fourth-plane file):
// that picture's path and what the companion is to it ("palette file", "fourth-plane file").
// Empty when path is no picture's companion.
struct CompanionOwner {
  std::string picture;
  std::string role;
};
CompanionOwner ownerOfCompanion(const std::string& path);

// A file named as a companion whose size is not the one its format gives, which the plug-in
// therefore passes over: its path as it lies on disk (a held file's name), its size and what it
// would have been.
struct IgnoredCompanion {
  std::string name;
  std::uintmax_t size = 0;
  const CompanionFile* companion = nullptr;  // the format's description of it
};

// What a companion is to its picture, in words: "palette file", "fourth-plane file".
const char* roleName(CompanionRole role);

}  // namespace host
