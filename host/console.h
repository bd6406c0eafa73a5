// SPDX-License-Identifier: MIT
// Text a program writes to standard output and standard error: UTF-8, like every name and text
// of the host library. On Windows a console shows text in its code page, which holds few of the
// characters names and comments carry; so there, while a program runs, what it writes to a
// console goes through a relay that shows it with the console's own UTF-16 call
// (WriteConsoleW), in the order written. Text for a file or a pipe stays UTF-8 bytes. Elsewhere
// the terminal takes UTF-8 as it is, and these calls change nothing.
//
//   int main(...) {
//     host::ConsoleText console;  // before anything is written
//     ...
//   }
#pragma once

namespace host {

// Whether standard output (1) or standard error (2) is a terminal (on Windows a console), as it
// was when the program started.
bool isTerminal(int descriptor);

// Starts the relay; the destructor writes what is still on its way and ends it, as does an
// interrupt before it ends the process (host/files.h).
class ConsoleText {
 public:
  ConsoleText();
  ~ConsoleText();
  ConsoleText(const ConsoleText&) = delete;
  ConsoleText& operator=(const ConsoleText&) = delete;
};

// Writes what is on its way to the console and ends the relay; safe to call more than once.
void finishConsoleText();

}  // namespace host
