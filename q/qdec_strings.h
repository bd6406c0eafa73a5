// SPDX-License-Identifier: MIT
// The string table of the Q plug-in, read by its resource script and by the native build.
#pragma once
#define PLUGIN_STRING_1024 "00IN"
#define PLUGIN_STRING_1025 "Q to DIB filter"
#define PLUGIN_STRING_1026 "*.q"
#define PLUGIN_STRING_1027 "Q(4bit)"
