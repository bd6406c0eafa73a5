// SPDX-License-Identifier: MIT
// The platform layer: the only code that knows whether it runs on Windows.
//
// On Windows this is <windows.h> itself: global memory, the _l* file calls and the
// string-table resource calls are the real kernel and user library functions.
//
// Natively a small stand-in provides the same names with the same behaviour for what the
// loaders use:
//   - global memory: movable blocks behind 32-bit handles (a handle table), with lock counts;
//   - files: _lopen/_lread/_llseek/_lclose over POSIX descriptors; _lopen finds a name
//     whatever its letter case, as on Windows (framework/native_names.h);
//   - a private heap (HeapAlloc/HeapFree) for small plain blocks;
//   - string tables: LoadStringA/FindResourceA/SizeofResource over a module descriptor that
//     each plug-in defines (see NativeModule);
//   - GetEnvironmentVariableA over the process environment.
// The stand-in counts live blocks, locked blocks and open files, and can be told to fail the
// N-th allocation, lock or open (see platform::FaultPlan), so that tests can prove that every
// path frees what it took.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/interface_types.h"

#ifndef _WIN32  // native stand-in

#define WINAPI PLUGIN_CALL
#define CALLBACK PLUGIN_CALL

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using SIZE_T = std::size_t;
using LPVOID = void*;
using LPCSTR = const char*;
using LPSTR = char*;
using HFILE = int;
using HANDLE = void*;

using HGLOBAL = BlockHandle;

// A module of the stand-in: the string table that a plug-in's resource script carries on
// Windows. Identifiers are consecutive from firstStringId.
struct NativeModule {
  unsigned firstStringId;
  const char* const* strings;
  unsigned stringCount;
};
using HINSTANCE = const NativeModule*;
using HMODULE = HINSTANCE;

// A found resource: which module, which 16-string block.
struct NativeResource {
  HMODULE module;
  unsigned block;
};
using HRSRC = const NativeResource*;

constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr int OF_READ = 0;
constexpr HFILE HFILE_ERROR = -1;
constexpr int FILE_BEGIN = 0;
constexpr int FILE_CURRENT = 1;
constexpr int FILE_END = 2;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

#define MAKEINTRESOURCEA(i) \
  (reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<std::uintptr_t>(r) >> 16) == 0)
#define RT_STRING MAKEINTRESOURCEA(6)

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block);
SIZE_T GlobalSize(HGLOBAL block);

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

HFILE _lopen(LPCSTR path, int mode);
UINT _lread(HFILE file, LPVOID buffer, UINT bytes);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax);
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// The value's length when it fits with its terminator, else the size it needs; 0 when the
// variable is not set.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

// Natively no system loads the plug-ins and calls their entry points: each plug-in defines its
// stand-in module (its string table) as NativeModuleOf<its loader class>::module.
template <class Loader>
struct NativeModuleOf;

namespace platform {

// What the stand-in holds right now.
struct Usage {
  int liveGlobalBlocks = 0;    // allocated and not freed
  int lockedGlobalBlocks = 0;  // blocks whose lock count is above 0
  int liveHeapBlocks = 0;
  int openFiles = 0;
};
Usage usage();

// Counts of operations since the last reset, and the fault plan: when failAllocation is N > 0,
// the N-th allocation (GlobalAlloc or HeapAlloc) from the reset on fails; likewise for locks
// (GlobalLock) and opens (_lopen). 0 fails nothing.
struct FaultPlan {
  int failAllocation = 0;
  int failLock = 0;
  int failOpen = 0;
};
struct OperationCounts {
  int allocations = 0;
  int locks = 0;
  int opens = 0;
};
void setFaultPlan(const FaultPlan& plan);  // also resets the counts
OperationCounts operationCounts();

// A new GlobalAlloc block holds no defined bytes, as on Windows without GMEM_ZEROINIT: the
// stand-in fills each with 0xA5, so that a decoder that counts on zeros shows it. The
// benchmarks turn the fill off, which no Windows heap does either.
void fillNewBlocks(bool fill);

// Sets a fault plan for the lifetime of a scope and clears it afterwards.
class ScopedFaultPlan {
 public:
  explicit ScopedFaultPlan(const FaultPlan& plan) { setFaultPlan(plan); }
  ~ScopedFaultPlan() { setFaultPlan({}); }
  ScopedFaultPlan(const ScopedFaultPlan&) = delete;
  ScopedFaultPlan& operator=(const ScopedFaultPlan&) = delete;
};

}  // namespace platform

#endif  // _WIN32
