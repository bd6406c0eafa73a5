// SPDX-License-Identifier: MIT
// The Q plug-in's string table for the native build.
#include "q/q_loader.h"
#include "q/qdec_strings.h"
#define PLUGIN_LOADER QLoader
#include "framework/native_module.h"
