// SPDX-License-Identifier: MIT
// The platform types the host interface is made of, and nothing else of the platform layer.
//
// Hosts see the plug-in interface through host_interface.h, which includes only this header:
// natively the stand-in's Windows names (BOOL, TRUE, DWORD, _lopen, ...) stay out of a host's
// global namespace, where they would meet other libraries' own. Plug-in code includes
// framework/platform.h, which builds on these.
#pragma once

#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The calling convention of the exports and of the host's progress function.
#define PLUGIN_CALL WINAPI
// A movable global memory block, as the exports hand it to the host.
using BlockHandle = HGLOBAL;

#else  // native

#define PLUGIN_CALL
// Natively global blocks live behind 32-bit handles (see the platform stand-in), so that the
// records which carry them keep their wire layout.
using BlockHandle = std::uint32_t;

#endif

// The widths of the host interface. Handles (BlockHandle) and pointer-or-handle values
// (HostValue) are pointer-sized on Windows; the length of a memory source (HostLength) is
// pointer-sized and signed in 64-bit Windows builds, where it is the size of a memory block, and
// 32-bit elsewhere. Every other value of the interface (flags, line counts, results, the
// record's fields) is 32-bit or narrower on every build.

// A pointer-or-handle value of the host interface (IsSupported's source, the user value of the
// progress function): pointer-sized.
using HostValue = std::uintptr_t;

// The length of a memory source of GetPictureInfo, GetPicture and GetPreview.
#ifdef _WIN64
using HostLength = std::intptr_t;
#else
using HostLength = std::int32_t;
#endif
