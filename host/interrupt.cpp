// SPDX-License-Identifier: MIT
// Clean-up on interrupt: the temporary files of the writes in progress are removed, no output is
// finished after that, and the process ends by the signal. The system's part (how an interrupt
// arrives, how the process ends by it) is in files_posix.cpp and files_windows.cpp.
#include <cstdio>
#include <string>
#include <utility>

#include "host/file_system.h"
#include "host/files.h"

namespace host {

void WritesInProgress::forget(const std::string& temporary) {
  for (std::size_t i = 0; i < temporaries.size(); ++i) {
    if (temporaries[i] == temporary) {
      temporaries.erase(temporaries.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

WritesInProgress& writesInProgress() {
  static WritesInProgress* writes = new WritesInProgress;
  return *writes;
}

namespace {

// What an interrupt does, on the thread that handles it: for good, no write finishes.
[[noreturn]] void endByInterrupt(int signal) {
  WritesInProgress& writes = writesInProgress();
  writes.lock.lock();  // never unlocked
  writes.signal = signal;
  for (const std::string& temporary : writes.temporaries) os::removeFile(temporary);
  writes.temporaries.clear();
  if (writes.report) writes.report(signal);
  std::fflush(stderr);
  os::endBySignal(signal);
}

}  // namespace

void cleanUpOnInterrupt(std::function<void(int signal)> report) {
  WritesInProgress& writes = writesInProgress();
  {
    os::Guard guard(writes.lock);
    writes.report = std::move(report);
  }
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  os::watchForInterrupts(endByInterrupt);
}

bool interrupted() {
  return writesInProgress().signal != 0;
}

}  // namespace host
