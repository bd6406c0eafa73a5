// SPDX-License-Identifier: MIT
// The Q plug-in DLL: its exports and entry point.
#include "q/q_loader.h"
#define PLUGIN_LOADER QLoader
#include "framework/dll_exports.h"
