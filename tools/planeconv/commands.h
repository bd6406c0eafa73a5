// The commands of planeconv.
#pragma once

#include <string>
#include <vector>

struct Options {
  std::vector<std::string> files;
  std::string forcedFormat;  // "gra", "q" or empty: recognise
  std::string pluginFolder;  // Windows: where the .spi files are
  std::string output;        // -o
  std::string outputFolder;  // -d
  std::string format = "png";
  int threads = 0;  // 0: the number of cores
  bool force = false;
  int colors = 16;
  std::string comment;
  bool hasComment = false;
  bool help = false;
  bool terminal = false;  // standard error is a terminal: show a progress bar
};

// Each answers the process exit code: 0 when every file succeeded, 1 when any failed, 2 for a
// usage error.
int runInfo(const Options& options);
int runConvert(const Options& options);
int runEncode(const Options& options);
