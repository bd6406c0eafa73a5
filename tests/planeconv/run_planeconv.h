// SPDX-License-Identifier: MIT
// Runs planeconv as a user does: with arguments (no shell), standard input from bytes or a
// file, standard output and standard error kept apart, or on a pseudo-terminal of a given size.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

struct Outcome {
  int exitCode = -1;  // -1 when ended by a signal
  int signal = 0;     // the signal that ended it, 0 for none
  std::string out;
  std::string err;
  std::string all() const { return out + err; }
};

struct RunSetup {
  Bytes input;            // standard input's bytes (an empty pipe when none)
  std::string inputFile;  // standard input from this file instead
  std::string folder;     // working folder; the test's own when empty
};

inline RunSetup withInput(Bytes input) {
  RunSetup setup;
  setup.input = std::move(input);
  return setup;
}
inline RunSetup inputFrom(const std::string& file) {
  RunSetup setup;
  setup.inputFile = file;
  return setup;
}
inline RunSetup inFolder(const std::string& folder) {
  RunSetup setup;
  setup.folder = folder;
  return setup;
}

Outcome planeconv(const std::vector<std::string>& arguments, const RunSetup& setup = {});

// planeconv on a pseudo-terminal: standard input, output and error are the terminal.
class Terminal {
 public:
  Terminal(const std::vector<std::string>& arguments, int columns, int rows = 24,
           const std::string& folder = "");
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Reads what planeconv shows until text appears in all of it read so far or the terminal
  // closes; answers whether it appeared.
  bool readUntil(const std::string& text);
  // Reads what is shown right now, without waiting for more.
  std::string readAvailable();
  void resize(int columns, int rows = 24);
  void signal(int number);
  // Reads to the end and waits for planeconv to end.
  Outcome finish();
  const std::string& shown() const { return shown_; }

 private:
  bool readSome(bool wait);
  int master_ = -1;
  pid_t child_ = -1;
  std::string shown_;
};

// The lines a terminal shows as drawn: what lies between carriage returns and line feeds,
// with "erase line" sequences taken out.
std::vector<std::string> drawnLines(const std::string& shown);

// No temporary file of a write (".part-") or of a set being replaced (".old-") anywhere below
// folder.
void expectNoTemporaries(const std::string& folder);

// Whole files.
Bytes fileBytes(const std::string& path);
