// SPDX-License-Identifier: MIT
// The commands of planeconv: info, convert (commands.cpp) and encode (encode.cpp).
#pragma once

#include "tools/planeconv/options.h"

// Each answers the process exit code: 0 when every file succeeded, 1 when any failed, 2 for a
// usage error or a command line that would lose files (found before any work).
int runInfo(const Options& options);
int runConvert(const Options& options);
int runEncode(const Options& options);
