// SPDX-License-Identifier: MIT
#include "tools/planeconv/progress.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

int terminalColumns() {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  return 80;
}

std::string progressLine(int columns, std::size_t finished, std::size_t files, double fraction) {
  constexpr int kLongestBar = 30;
  constexpr int kShortestBar = 5;
  const int room = std::max(columns - 1, 0);
  const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
  char counts[96];
  std::snprintf(counts, sizeof counts, "%zu/%zu pictures %3d%%", finished, files, percent);
  const std::string text = counts;
  const int barRoom = room - static_cast<int>(text.size()) - 3;  // "[", "] "
  if (barRoom >= kShortestBar) {
    const int width = std::min(barRoom, kLongestBar);
    const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * width);
    std::string line = "[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(width - filled), '.');
    line += "] ";
    line += text;
    return line;
  }
  if (static_cast<int>(text.size()) <= room) return text;
  std::string shortest = std::to_string(percent) + "%";
  return static_cast<int>(shortest.size()) <= room ? shortest : "";
}
