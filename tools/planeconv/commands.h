// SPDX-License-Identifier: MIT
// The commands of planeconv and the options they take.
#pragma once

#include <string>
#include <vector>

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
  std::string comment;
  bool hasComment = false;
  bool help = false;
  bool terminal = false;        // standard error is a terminal: show a progress bar
  bool outputTerminal = false;  // standard output is a terminal
};

// Each answers the process exit code: 0 when every file succeeded, 1 when any failed, 2 for a
// usage error or a command line that would lose files (found before any work).
int runInfo(const Options& options);
int runConvert(const Options& options);
int runEncode(const Options& options);

// What every command prints for a file name or a text from a file: printable, control
// characters escaped.
std::string shown(const std::string& text);
