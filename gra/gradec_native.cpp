// SPDX-License-Identifier: MIT
// The GRA plug-in's string table for the native build.
#include "gra/gra_loader.h"
#include "gra/gradec_strings.h"
#define PLUGIN_LOADER GraLoader
#include "framework/native_module.h"
