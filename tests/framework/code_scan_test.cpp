// Finding the next code byte a word at a time must find what a byte-by-byte search finds, and
// copying or XORing up to it must apply what lies before it.
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

// Every path this processor runs, the portable one first.
std::vector<WidePath> runnablePaths() {
  std::vector<WidePath> paths;
  for (WidePath path : {WidePath::Portable, WidePath::Sse2, WidePath::Avx2}) {
    if (path <= processorWidePath()) paths.push_back(path);
  }
  return paths;
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
    // An exact-size heap buffer, so that the sanitizer sees any read past its end.
    std::vector<std::uint8_t> bytes(1 + random() % 300);
    const unsigned codeEvery = 2 + random() % 60;
    for (auto& b : bytes) {
      b = random() % codeEvery == 0 ? codes[random() % codes.size()]
                                    : static_cast<std::uint8_t>(random());
    }
    const int size = static_cast<int>(bytes.size());
    for (int trial = 0; trial < 20; ++trial) {
      const int from = static_cast<int>(random() % (size + 1));
      const int to = from + static_cast<int>(random() % (size - from + 1));
      // How far the bytes may be read: to itself, the end of the buffer, or in between.
      const int pick = static_cast<int>(random() % 3);
      const int end = pick == 0   ? to
                      : pick == 1 ? size
                                  : to + static_cast<int>(random() % (size - to + 1));
      const std::vector<std::uint8_t> readable(bytes.begin(), bytes.begin() + end);
      const int want = plainSearch(bytes, from, to, codes);
      for (WidePath path : runnablePaths()) {
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", path " +
                     widePathName(path));
        const CodeScan scan(codes[0], codes[1 % distinct], codes[2 % distinct], codes[3 % distinct],
                            path);
        ASSERT_EQ(scan.find(bytes.data(), from, to), want);
        // applyUntilCode stops where find does and copies, or XORs in, exactly the bytes
        // before it, leaving the bytes after a XORed stretch alone; out carries the 15 bytes of
        // room it may use, and nothing past end is read.
        const std::size_t stretch = static_cast<std::size_t>(to - from);
        std::vector<std::uint8_t> out(stretch + 15, 0xA5);
        ASSERT_EQ(
            scan.applyUntilCode<CodeScan::Apply::Copy>(readable.data(), from, to, end, out.data()),
            want);
        EXPECT_TRUE(std::equal(bytes.begin() + from, bytes.begin() + want, out.begin()));
        std::vector<std::uint8_t> line(stretch + 15);
        for (auto& b : line) b = static_cast<std::uint8_t>(random());
        std::vector<std::uint8_t> xored = line;
        for (int i = 0; i < want - from; ++i) xored[i] ^= bytes[from + i];
        ASSERT_EQ(
            scan.applyUntilCode<CodeScan::Apply::Xor>(readable.data(), from, to, end, line.data()),
            want);
        EXPECT_EQ(line, xored);
      }
      // The steps of find: the word steps stop at the word holding the first code byte, or
      // where whole words end.
      const CodeScan scan(codes[0], codes[1 % distinct], codes[2 % distinct], codes[3 % distinct]);
      ASSERT_EQ(scan.findByBytes(bytes.data(), from, to), want);
      const int by32 = scan.findByWords<std::uint32_t>(bytes.data(), from, to);
      const int by64 = scan.findByWords<std::uint64_t>(bytes.data(), from, to);
      EXPECT_EQ(scan.findByBytes(bytes.data(), by32, to), want);
      EXPECT_EQ(scan.findByBytes(bytes.data(), by64, to), want);
      EXPECT_TRUE(by32 == want || (want > by32 && to - by32 < 4));
      EXPECT_TRUE(by64 == want || (want > by64 && to - by64 < 8));
#if defined(__i386__) || defined(__x86_64__)
      if (processorWidePath() >= WidePath::Sse2) {
        const int by16 = scan.findBy16(bytes.data(), from, to);
        EXPECT_TRUE(by16 == want || (want > by16 && to - by16 < 16));
      }
#endif
    }
  }
}

}  // namespace
