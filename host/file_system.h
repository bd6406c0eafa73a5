// SPDX-License-Identifier: MIT
// What host/files.cpp builds on, inside the host library only:
//   - the system's own file calls, one file a platform (files_posix.cpp, files_windows.cpp,
//     chosen by the build), so that the rules for reading and writing are written once;
//   - the record of the writes in progress that an interrupt clears (interrupt.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/files.h"

namespace host::os {

// The characters that end a folder's part of a path ("/", and "\\" too on Windows).
extern const char kSeparators[];

// errno in words.
std::string cause(int error);

// What a path names, for deciding whether it may be replaced.
struct Examined {
  int error = 0;     // why the path cannot be examined (errno), 0 when it can
  std::string kind;  // what it is when not a regular file: "a folder", "a device", "a fifo", ...
  // A symbolic link (never on Windows, which follows links itself): then kind is what it leads
  // to, real the path of that, and linkError why it cannot be followed (ENOENT: to nothing).
  bool link = false;
  int linkError = 0;
  std::string real;
};
Examined examine(const std::string& path);

// Opens path for reading, in binary mode: a descriptor, or an error message ("is a folder",
// "cannot open (...)"). regular tells whether it is a regular file.
int openForReading(const std::string& path, bool& regular, std::string& error);
// Puts a descriptor the process was given (standard input or output) in binary mode.
void useBinaryMode(int descriptor);
// Creates a file that does not exist yet, for writing in binary mode: its descriptor, or -1
// and errno.
int createNew(const std::string& path);
// read, write and close of the system, errno on failure.
long readSome(int descriptor, std::uint8_t* data, std::size_t size);
long writeSome(int descriptor, const std::uint8_t* data, std::size_t size);
int closeFile(int descriptor);
// Removes a file; errno on failure.
int removeFile(const std::string& path);
// Renames from to to, replacing an existing to only when replace is set, never a file that
// appeared meanwhile. Answers the cause of a failure (kAlreadyExists when to exists), empty on
// success.
std::string renameFile(const std::string& from, const std::string& to, bool replace);

FileId fileIdOf(const std::string& path);
unsigned long processId();

// A lock of the system's own (the MinGW standard library this builds with has no threads).
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock();
  void unlock();

 private:
  struct Held;
  Held* held_;
};

class Guard {
 public:
  explicit Guard(Lock& lock) : lock_(lock) { lock_.lock(); }
  ~Guard() { lock_.unlock(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  Lock& lock_;
};

// Calls onInterrupt, on a thread that may take locks, when the process is interrupted
// (natively SIGINT, SIGTERM or SIGHUP; on Windows Ctrl-C, Ctrl-Break, the console closing).
void watchForInterrupts(void (*onInterrupt)(int signal));
// Ends the process as signal would: natively by the signal itself, on Windows with exit code
// 128 + its number.
[[noreturn]] void endBySignal(int signal);

}  // namespace host::os

namespace host {

// Everything a write in progress shares with the interrupt (interrupt.cpp): the temporary
// files to remove, and whether the run is interrupted. A write finishes (renames) only under
// the lock, so an interrupt, which takes the lock for good, sees each output either finished
// or still a temporary file. Never destroyed: the interrupt may come while the process ends.
struct WritesInProgress {
  os::Lock lock;
  std::vector<std::string> temporaries;
  std::atomic<int> signal{0};
  std::function<void(int)> report;

  // Under the lock: a temporary file is no longer to be removed by an interrupt.
  void forget(const std::string& temporary);
};
WritesInProgress& writesInProgress();

}  // namespace host
