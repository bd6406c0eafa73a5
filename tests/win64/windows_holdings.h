// SPDX-License-Identifier: MIT
// What a plug-in left held in a real Windows process, as far as its host can see: blocks of the
// process heap, where global memory blocks and the plug-ins' own small blocks live, and files
// still open.
#pragma once

#include <string>

#include "framework/host_interface.h"

// The busy blocks of the process heap. Compared at two points where the host itself holds the
// same blocks, a difference is what the plug-in calls in between left allocated.
inline int busyHeapBlocks() {
  const HANDLE heap = GetProcessHeap();
  int busy = 0;
  PROCESS_HEAP_ENTRY entry{};
  entry.lpData = nullptr;
  HeapLock(heap);
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++busy;
  }
  HeapUnlock(heap);
  return busy;
}

// Whether the file can be opened for reading and writing with no sharing, which fails while
// anyone else (a plug-in that did not close it) has it open. A missing file counts as free.
inline bool fileIsFree(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  CloseHandle(file);
  return true;
}
