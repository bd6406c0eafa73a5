// SPDX-License-Identifier: MIT
// The string table of the GRA plug-in, read by its resource script and by the native build.
#pragma once
#define PLUGIN_STRING_1024 "00IN"
#define PLUGIN_STRING_1025 "GRA to DIB filter"
#define PLUGIN_STRING_1026 "*.gra"
#define PLUGIN_STRING_1027 "GRA(4bit)"
