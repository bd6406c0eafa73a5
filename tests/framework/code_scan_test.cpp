// SPDX-License-Identifier: MIT
// Finding the next code byte a word at a time must find what a byte-by-byte search finds, and
// XORing up to it must apply what lies before it; runs and copies touch exactly their bytes.
#include "framework/code_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// The first position in [from, to) whose byte is one of the codes, byte by byte.
int plainSearch(const std::vector<std::uint8_t>& bytes, int from, int to,
                const std::vector<std::uint8_t>& codes) {
  for (int at = from; at < to; ++at) {
    for (std::uint8_t code : codes) {
      if (bytes[at] == code) return at;
    }
  }
  return to;
}

// Whether this processor runs the given path.
bool runs(WidePath path) {
  return processorWidePath() >= path;
}

// xorUntilCode stops where find does and XORs in exactly the bytes before it, leaving the room
// after the stretch, which it may use, as it was. The bytes are in an exact-size heap buffer
// that holds the room it may read past to and no more, so that the sanitizer sees any read
// beyond.
template <WidePath kPath>
void checkXorUntilCode(const CodeScan<kPath>& scan, const std::vector<std::uint8_t>& bytes,
                       int from, int to, int want, std::mt19937& random) {
  std::vector<std::uint8_t> readable(bytes.begin(), bytes.begin() + to);
  if (kPath != WidePath::Portable) {
    for (int i = 0; i < kCodeScanRoom; ++i) readable.push_back(static_cast<std::uint8_t>(random()));
  }
  std::vector<std::uint8_t> line(static_cast<std::size_t>(to - from + kCodeScanRoom));
  for (auto& b : line) b = static_cast<std::uint8_t>(random());
  std::vector<std::uint8_t> xored = line;
  for (int i = 0; i < want - from; ++i) xored[i] ^= bytes[from + i];
  ASSERT_EQ(scan.xorUntilCode(readable.data(), from, to, line.data()), want);
  EXPECT_EQ(line, xored);
}

TEST(CodeScan, EveryPathAndWidthFindsTheFirstCodeByte) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    // Code sets of one to four values, repeated to four, some of them 0x00, 0x80 or 0xFF
    // (the edge values of the zero-byte test), in data where codes are rare or common.
    std::vector<std::uint8_t> codes;
    const int distinct = 1 + round % 4;
    for (int k = 0; k < distinct; ++k) {
      const int pick = static_cast<int>(random() % 8);
      codes.push_back(pick == 0 ? 0x00 : pick == 1 ? 0x80 : pick == 2 ? 0xFF : random() & 0xFF);
    }
    const std::uint8_t a = codes[0], b = codes[1 % distinct], c = codes[2 % distinct],
                       d = codes[3 % distinct];
    const CodeScan<WidePath::Portable> portable(a, b, c, d);
    const CodeScan<WidePath::Sse2> wide(a, b, c, d);
    const CodeScan<WidePath::Avx2> wider(a, b, c, d);
    // An exact-size heap buffer, so that the sanitizer sees any read past its end.
    std::vector<std::uint8_t> bytes(1 + random() % 300);
    const unsigned codeEvery = 2 + random() % 60;
    for (auto& byte : bytes) {
      byte = random() % codeEvery == 0 ? codes[random() % codes.size()]
                                       : static_cast<std::uint8_t>(random());
    }
    const int size = static_cast<int>(bytes.size());
    for (int trial = 0; trial < 20; ++trial) {
      SCOPED_TRACE("round " + std::to_string(round));
      const int from = static_cast<int>(random() % (size + 1));
      const int to = from + static_cast<int>(random() % (size - from + 1));
      const int want = plainSearch(bytes, from, to, codes);
      ASSERT_EQ(portable.find(bytes.data(), from, to), want);
      checkXorUntilCode(portable, bytes, from, to, want, random);
      if (runs(WidePath::Sse2)) {
        ASSERT_EQ(wide.find(bytes.data(), from, to), want);
        checkXorUntilCode(wide, bytes, from, to, want, random);
      }
      if (runs(WidePath::Avx2)) {
        ASSERT_EQ(wider.find(bytes.data(), from, to), want);
        checkXorUntilCode(wider, bytes, from, to, want, random);
      }
      // The steps of find: the word steps stop at the word holding the first code byte, or
      // where whole words end.
      ASSERT_EQ(portable.findByBytes(bytes.data(), from, to), want);
      const int by32 = portable.findByWords<std::uint32_t>(bytes.data(), from, to);
      const int by64 = portable.findByWords<std::uint64_t>(bytes.data(), from, to);
      EXPECT_EQ(portable.findByBytes(bytes.data(), by32, to), want);
      EXPECT_EQ(portable.findByBytes(bytes.data(), by64, to), want);
      EXPECT_TRUE(by32 == want || (want > by32 && to - by32 < 4));
      EXPECT_TRUE(by64 == want || (want > by64 && to - by64 < 8));
#if defined(__i386__) || defined(__x86_64__)
      if (runs(WidePath::Sse2)) {
        const int by16 = wide.findBy16(bytes.data(), from, to);
        EXPECT_TRUE(by16 == want || (want > by16 && to - by16 < 16));
      }
#endif
    }
  }
}

// Runs are XORed into exactly their bytes, on both paths.
template <WidePath kPath>
void checkRuns() {
  std::mt19937 random(11);
  const CodeScan<kPath> scan(1, 2, 3, 4);
  for (int count = 0; count <= 40; ++count) {
    std::vector<std::uint8_t> line(static_cast<std::size_t>(count + kCodeScanRoom));
    for (auto& b : line) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> expected = line;
    const auto value = static_cast<std::uint8_t>(random());
    for (int i = 0; i < count; ++i) expected[i] ^= value;
    scan.xorRun(line.data(), value, count);
    ASSERT_EQ(line, expected) << widePathName(kPath) << ", run of " << count;
  }
}

TEST(CodeScan, RunsTouchExactlyTheirBytes) {
  checkRuns<WidePath::Portable>();
  if (runs(WidePath::Sse2)) checkRuns<WidePath::Sse2>();
  if (runs(WidePath::Avx2)) checkRuns<WidePath::Avx2>();
}

// The steps that write a line anew from a reference: a line built token by token from
// stretches and runs (each step overwriting what the one before wrote past its own bytes)
// must be the reference XORed with the tokens' bytes, and the steps must stop where find
// does. The buffers are exact-size heap buffers with the room the steps may use and no more.
template <WidePath kPath>
void checkLinesBuiltAnew() {
  std::mt19937 random(13);
  const CodeScan<kPath> scan(0x00, 0x80, 0xFF, 0x17);
  constexpr int kLine = 160;
  for (int round = 0; round < 400; ++round) {
    std::vector<std::uint8_t> reference(kLine + kCodeScanRoom), line(kLine + kCodeScanRoom);
    for (auto& b : reference) b = static_cast<std::uint8_t>(random());
    for (auto& b : line) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> expected(reference.begin(), reference.begin() + kLine);
    const std::uint8_t* ref = reference.data();
    int fill = 0;
    while (fill < kLine) {
      const int room = kLine - fill;
      if (random() % 2 == 0) {
        const int count = std::min<int>(room, static_cast<int>(random() % 40));
        const auto value = static_cast<std::uint8_t>(random());
        for (int i = 0; i < count; ++i) expected[fill + i] ^= value;
        scan.xorRunFrom(ref + fill, value, count, line.data() + fill);
        fill += count;
      } else {
        // Plain bytes, now and then a code among them, then the room the steps may read.
        std::vector<std::uint8_t> bytes(1 + random() % 60);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(0x20 + random() % 0x40);
        if (random() % 3 == 0) bytes[random() % bytes.size()] = 0x80;
        const int to = std::min<int>(room, static_cast<int>(bytes.size()));
        const int want = plainSearch(bytes, 0, to, {0x00, 0x80, 0xFF, 0x17});
        for (int i = 0; i < want; ++i) expected[fill + i] ^= bytes[i];
        bytes.resize(static_cast<std::size_t>(to + kCodeScanRoom));
        ASSERT_EQ(scan.xorUntilCodeFrom(bytes.data(), 0, to, ref + fill, line.data() + fill), want);
        fill += want;
      }
    }
    ASSERT_EQ(std::vector<std::uint8_t>(line.begin(), line.begin() + kLine), expected)
        << widePathName(kPath) << ", round " << round;
  }
}

TEST(CodeScan, LinesBuiltAnewAreTheReferenceXoredWithTheirTokens) {
  checkLinesBuiltAnew<WidePath::Portable>();
  if (runs(WidePath::Sse2)) checkLinesBuiltAnew<WidePath::Sse2>();
  if (runs(WidePath::Avx2)) checkLinesBuiltAnew<WidePath::Avx2>();
}

}  // namespace
