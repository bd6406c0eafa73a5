// SPDX-License-Identifier: MIT
// What a plug-in DLL used, which its five exports cannot tell.
//
// A linked plug-in reports the colours a picture shows and the companions its loader took
// (framework/linked_host.h); the host library hands that on. The Windows build of the host
// library loads the DLLs, as the host they are made for does, and their exports answer only a
// result: there, and only there, the host works it out from the files the DLL read, repeating
// the plug-ins' rules:
//   - a GRA picture read by name takes the companion files that lie beside it (the companion
//     rule, the name found whatever its letter case) at exactly the size its format asks for,
//     and shows 16 colours with a fourth plane, 8 without;
//   - a Q picture shows the colours its header's colour mode names.
// The tests hold this against what the linked plug-ins report, case by case.
#pragma once

#include "host/picture.h"

namespace host {

// Fills info.colors and info.companions for a picture the plug-in DLL read from file, by name
// when byName (else from file.bytes in memory).
void reportForDll(const Plugin& plugin, const PictureFile& file, bool byName, PictureInfo& info);

}  // namespace host
