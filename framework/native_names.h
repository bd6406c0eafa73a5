// SPDX-License-Identifier: MIT
// How the native stand-in finds a file by name as Windows does, whose file system ignores the
// letter case of names: _lopen opens the exact name when it exists, otherwise the entry of the
// same folder whose name matches it ignoring the case of ASCII letters. Hosts that report which
// file a plug-in opened (a GRA picture's companions) ask the same question here.
//
// Only the last component of the path is matched this way; the folders must be named exactly.
// When several entries match (possible only where names differ in case alone, which Windows
// does not allow in one folder), the first of them in byte order of their names is taken:
// "CARD.RGB" before "Card.rgb" before "card.RGB". Bytes outside ASCII are compared as they are.
//
// A folder is read whole for such a lookup. While a KeptListings lives (on any thread), each
// folder is read once and its listing answers every later lookup in it: a batch over a folder
// of 100,000 files then costs one reading of it instead of one per missing name. The listing
// is a snapshot: a file that appears or goes while it is kept is not seen by the lookups (an
// open of a name that went still fails). Exact names never go through it.
#pragma once

#ifndef _WIN32

#include <string>
#include <vector>

namespace platform {

// The path of the folder entry that matches path's last component ignoring ASCII letter case,
// the first in byte order of several; empty when there is none or the folder cannot be read.
std::string nameIgnoringCase(const std::string& path);

// Every entry of path's folder whose name matches path's last component ignoring ASCII letter
// case, path's own included, in byte order.
std::vector<std::string> namesIgnoringCase(const std::string& path);

// The name _lopen opens for path: path itself unless nothing is found there, else
// nameIgnoringCase(path) (empty when that finds nothing either).
std::string nameToOpen(const std::string& path);

// Keeps the folder listings that lookups make from its construction until the last one alive
// is destroyed; then they are dropped. Any number may live at once, on any threads.
class KeptListings {
 public:
  KeptListings();
  ~KeptListings();
  KeptListings(const KeptListings&) = delete;
  KeptListings& operator=(const KeptListings&) = delete;
};

// How many times a folder has been read for a lookup since the process started.
long foldersRead();

}  // namespace platform

#endif
