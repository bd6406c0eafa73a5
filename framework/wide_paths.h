// SPDX-License-Identifier: MIT
// The wide paths of the decoders' inner loops: the line-pair merge (mergeLinePair) and the
// scan for code bytes (CodeScan) each come as a portable loop over machine words, an SSE2 loop
// over 16-byte blocks and an AVX2 loop over 32-byte blocks. Which one runs is
// chosen at run time, once per process: the widest the processor runs, as cpuid tells it. The
// build itself assumes no more than its target does (the 32-bit Windows DLLs not even SSE2),
// and the wide loops are compiled for their instruction sets alone.
//
// The environment variable PLANES_WIDE_PATH ("portable", "sse2" or "avx2") narrows the choice,
// so that the tests, the fuzz runs and the benchmarks can hold every path against the others
// in any build: a path the processor lacks is never taken, the widest it has below the named
// one is. An unknown name changes nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

enum class WidePath : int { Portable = 0, Sse2 = 1, Avx2 = 2 };

// Which wide steps a build has: SSE2 and AVX2 on x86 processors, each compiled for its
// instruction set alone (WITH_SSE2_STEPS, WITH_AVX2_STEPS); in WebAssembly built with SIMD and
// SSE2's intrinsics mapped onto it (-msimd128 -msse2), the SSE2 steps, compiled as they are.
#if defined(__i386__) || defined(__x86_64__)
#define WIDE_PATHS_SSE2 1
#define WIDE_PATHS_AVX2 1
#define WITH_SSE2_STEPS __attribute__((target("sse2")))
#define WITH_AVX2_STEPS __attribute__((target("avx2")))
#elif defined(__wasm_simd128__) && defined(__SSE2__)
#define WIDE_PATHS_SSE2 1
#define WITH_SSE2_STEPS
#define WITH_AVX2_STEPS
#else
#define WITH_SSE2_STEPS
#define WITH_AVX2_STEPS
#endif

// The path the decoders take in this process: the processor's widest, narrowed by
// PLANES_WIDE_PATH. Chosen at first use; safe to call from any thread, and cheap once chosen.
inline WidePath widePath();

// The widest path this processor runs: on x86 as cpuid tells, in WebAssembly with SIMD the
// SSE2 path, elsewhere the portable one.
WidePath processorWidePath();

// What cpuid (leaves 1 and 7) and XGETBV report, and the widest path that follows from it:
// SSE2 needs its feature flag; AVX2 its flag, AVX, and the system saving the 256-bit
// registers (OSXSAVE, and XCR0 with the SSE and AVX state).
struct ProcessorFacts {
  std::uint32_t leaf1Ecx = 0;
  std::uint32_t leaf1Edx = 0;
  std::uint32_t leaf7Ebx = 0;  // 0 when the processor has no leaf 7
  std::uint64_t xcr0 = 0;      // 0 without OSXSAVE
};
WidePath widestPathOf(const ProcessorFacts& facts);

// The path PLANES_WIDE_PATH names, or nothing for an unknown name.
std::optional<WidePath> widePathNamed(const char* name);
// The name of a path, as PLANES_WIDE_PATH takes it.
const char* widePathName(WidePath path);

// The choice, once made (-1 before): threads that find none each make it, and all make the
// same, so a plain atomic is enough and needs none of the runtime's guarded statics.
namespace wide_paths_detail {
extern std::atomic<int> chosen;
WidePath choose();
}  // namespace wide_paths_detail

inline WidePath widePath() {
  const int path = wide_paths_detail::chosen.load(std::memory_order_relaxed);
  return path >= 0 ? static_cast<WidePath>(path) : wide_paths_detail::choose();
}
