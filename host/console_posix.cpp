// SPDX-License-Identifier: MIT
// A terminal here takes UTF-8 as written: nothing to relay (host/console.h).
#include <unistd.h>

#include "host/console.h"

namespace host {

bool isTerminal(int descriptor) {
  return isatty(descriptor) != 0;
}

ConsoleText::ConsoleText() = default;
ConsoleText::~ConsoleText() = default;

void finishConsoleText() {}

}  // namespace host
