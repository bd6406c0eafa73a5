// SPDX-License-Identifier: MIT
// The native stand-in for a plug-in's string-table resource. A plug-in's native module source
// includes its strings header and then this one, which defines NativeModuleOf<PLUGIN_LOADER>.
#pragma once

#ifndef _WIN32
namespace {
constexpr const char* kNativeModuleStrings[] = {PLUGIN_STRING_1024, PLUGIN_STRING_1025,
                                                PLUGIN_STRING_1026, PLUGIN_STRING_1027};
}
const NativeModule NativeModuleOf<PLUGIN_LOADER>::module{kFirstInfoStringId, kNativeModuleStrings,
                                                         4};
#endif
