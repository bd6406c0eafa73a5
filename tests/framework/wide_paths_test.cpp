// SPDX-License-Identifier: MIT
// The choice of the decoders' wide paths: from what the processor reports, and narrowed by
// PLANES_WIDE_PATH.
#include "framework/wide_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::uint32_t kSse2 = 1u << 26;     // leaf 1, EDX
constexpr std::uint32_t kOsxsave = 1u << 27;  // leaf 1, ECX
constexpr std::uint32_t kAvx = 1u << 28;      // leaf 1, ECX
constexpr std::uint32_t kAvx2 = 1u << 5;      // leaf 7, EBX

TEST(WidePath, AvxTwoNeedsItsFlagAvxAndTheSystemSavingTheRegisters) {
  const ProcessorFacts full{kOsxsave | kAvx, kSse2, kAvx2, 0x7};
  EXPECT_EQ(widestPathOf(full), WidePath::Avx2);
  ProcessorFacts f = full;
  f.leaf7Ebx = 0;
  EXPECT_EQ(widestPathOf(f), WidePath::Sse2) << "no AVX2 flag";
  f = full;
  f.leaf1Ecx = kOsxsave;
  EXPECT_EQ(widestPathOf(f), WidePath::Sse2) << "no AVX flag";
  f = full;
  f.leaf1Ecx = kAvx;
  EXPECT_EQ(widestPathOf(f), WidePath::Sse2) << "no OSXSAVE: XCR0 cannot be trusted";
  f = full;
  f.xcr0 = 0x3;
  EXPECT_EQ(widestPathOf(f), WidePath::Sse2) << "the system does not save the YMM registers";
  f = full;
  f.xcr0 = 0x4;
  EXPECT_EQ(widestPathOf(f), WidePath::Sse2) << "the system does not save the XMM registers";
  f = full;
  f.leaf1Edx = 0;
  EXPECT_EQ(widestPathOf(f), WidePath::Portable) << "no SSE2: nothing wider is taken either";
  EXPECT_EQ(widestPathOf({}), WidePath::Portable);
  EXPECT_EQ(widestPathOf({0, kSse2, 0, 0}), WidePath::Sse2);
}

TEST(WidePath, NamesAndUnknownNames) {
  for (WidePath path : {WidePath::Portable, WidePath::Sse2, WidePath::Avx2}) {
    EXPECT_EQ(widePathNamed(widePathName(path)), path);
  }
  for (const char* name : {"", "SSE2", "avx", "avx2 ", "wide"}) {
    EXPECT_FALSE(widePathNamed(name).has_value()) << name;
  }
}

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
// The cpuid reading against the compiler's own.
TEST(WidePath, TheProcessorsWidestAsTheCompilerSeesIt) {
  __builtin_cpu_init();
  const WidePath expected = __builtin_cpu_supports("avx2")   ? WidePath::Avx2
                            : __builtin_cpu_supports("sse2") ? WidePath::Sse2
                                                             : WidePath::Portable;
  EXPECT_EQ(processorWidePath(), expected);
#if defined(__x86_64__)
  EXPECT_GE(processorWidePath(), WidePath::Sse2) << "every x86-64 processor has SSE2";
#endif
}
#endif

// The path in force is the one PLANES_WIDE_PATH names, when the processor runs it: the tests
// registered once per path run with it set, and a misspelt name must not let them pass on the
// widest path unnoticed.
TEST(WidePath, TheVariableNarrowsThePathInForce) {
  const char* name = std::getenv("PLANES_WIDE_PATH");
  if (!name) {
    EXPECT_EQ(widePath(), processorWidePath());
    return;
  }
  const std::optional<WidePath> named = widePathNamed(name);
  ASSERT_TRUE(named.has_value()) << "PLANES_WIDE_PATH=" << name << " names no path";
  EXPECT_EQ(widePath(), std::min(*named, processorWidePath()));
}

}  // namespace
