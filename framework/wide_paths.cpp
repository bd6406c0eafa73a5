// SPDX-License-Identifier: MIT
#include "framework/wide_paths.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "framework/platform.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define WIDE_PATHS_X86 1
#endif

namespace {

constexpr std::uint32_t kSse2Bit = 1u << 26;     // leaf 1, EDX
constexpr std::uint32_t kOsxsaveBit = 1u << 27;  // leaf 1, ECX: XGETBV may be used
constexpr std::uint32_t kAvxBit = 1u << 28;      // leaf 1, ECX
constexpr std::uint32_t kAvx2Bit = 1u << 5;      // leaf 7, EBX
constexpr std::uint64_t kSseAndAvxState = 0x6;   // XCR0: the system saves XMM and YMM registers

constexpr const char* kVariable = "PLANES_WIDE_PATH";

#if defined(WIDE_PATHS_X86)
ProcessorFacts readProcessorFacts() {
  ProcessorFacts facts;
  unsigned eax, ebx, ecx, edx;
  // __get_cpuid answers 0 when the processor lacks cpuid or the leaf.
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return facts;
  facts.leaf1Ecx = ecx;
  facts.leaf1Edx = edx;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) facts.leaf7Ebx = ebx;
  if (facts.leaf1Ecx & kOsxsaveBit) {
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    facts.xcr0 = static_cast<std::uint64_t>(high) << 32 | low;
  }
  return facts;
}
#endif

WidePath choosePath() {
  WidePath path = processorWidePath();
  char name[16];
  const DWORD length = GetEnvironmentVariableA(kVariable, name, sizeof name);
  if (length > 0 && length < sizeof name) {
    if (const std::optional<WidePath> named = widePathNamed(name)) path = std::min(path, *named);
  }
  return path;
}

}  // namespace

WidePath widestPathOf(const ProcessorFacts& facts) {
  if (!(facts.leaf1Edx & kSse2Bit)) return WidePath::Portable;
  const bool avx2 = (facts.leaf7Ebx & kAvx2Bit) && (facts.leaf1Ecx & kAvxBit) &&
                    (facts.leaf1Ecx & kOsxsaveBit) &&
                    (facts.xcr0 & kSseAndAvxState) == kSseAndAvxState;
  return avx2 ? WidePath::Avx2 : WidePath::Sse2;
}

WidePath processorWidePath() {
#if defined(WIDE_PATHS_X86)
  return widestPathOf(readProcessorFacts());
#elif defined(WIDE_PATHS_SSE2)
  return WidePath::Sse2;
#else
  return WidePath::Portable;
#endif
}

std::atomic<int> wide_paths_detail::chosen{-1};

WidePath wide_paths_detail::choose() {
  const WidePath path = choosePath();
  chosen.store(static_cast<int>(path), std::memory_order_relaxed);
  return path;
}

std::optional<WidePath> widePathNamed(const char* name) {
  for (WidePath path : {WidePath::Portable, WidePath::Sse2, WidePath::Avx2}) {
    if (std::strcmp(name, widePathName(path)) == 0) return path;
  }
  return std::nullopt;
}

const char* widePathName(WidePath path) {
  switch (path) {
    case WidePath::Portable:
      return "portable";
    case WidePath::Sse2:
      return "sse2";
    case WidePath::Avx2:
      return "avx2";
  }
  return "";
}
