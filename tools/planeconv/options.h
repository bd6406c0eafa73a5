// SPDX-License-Identifier: MIT
// What the command line asks of planeconv, as main.cpp parses it and every command reads it.
#pragma once

#include <string>
#include <vector>

#include "host/reasons.h"

struct Options {
  std::vector<std::string> files;  // "-" is standard input
  std::string forcedFormat;        // --as: "gra", "q" or empty: recognise
  std::string pluginFolder;        // Windows: where the .spi files are
  std::string output;              // -o; "-" is standard output
  std::string outputFolder;        // -d
  std::string format;              // --format: "png", "bmp" or empty: from -o, else png
  int threads = 0;                 // -j; 0: the number of cores
  bool force = false;
  bool recursive = false;      // -r: the pictures inside folders given
  bool keepExtension = false;  // foo.gra -> foo.gra.png
  bool quiet = false;          // nothing but errors
  int colors = 16;
  bool nearest = false;  // encode: colours outside an 8-colour Q picture's to the nearest one
  std::string comment;   // UTF-8 text
  bool hasComment = false;
  bool help = false;
  bool terminal = false;        // standard error is a terminal: show a progress bar
  bool outputTerminal = false;  // standard output is a terminal
};

// What every command prints for a file name or a text from a file: printable, control
// characters escaped.
inline std::string shown(const std::string& text) {
  return host::printable(text);
}
