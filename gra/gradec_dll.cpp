// SPDX-License-Identifier: MIT
// The GRA plug-in DLL: its exports and entry point.
#include "gra/gra_loader.h"
#define PLUGIN_LOADER GraLoader
#include "framework/dll_exports.h"
