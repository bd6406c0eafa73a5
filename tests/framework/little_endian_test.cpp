// SPDX-License-Identifier: MIT
// The little-endian helpers: low byte first, every byte in its place, no sign from the top
// byte, and nothing written past the number's width.
#include "framework/little_endian.h"

#include <gtest/gtest.h>

namespace {

TEST(LittleEndian, ReadsLowByteFirst) {
  const std::uint8_t bytes[] = {0x78, 0x56, 0x34, 0x92};
  EXPECT_EQ(readLe16(bytes), 0x5678);
  EXPECT_EQ(readLe24(bytes), 0x345678u);
  EXPECT_EQ(readLe32(bytes), 0x92345678u);
  const std::uint8_t top[] = {0x00, 0x00, 0x80, 0xFF};
  EXPECT_EQ(readLe24(top), 0x800000u);
  EXPECT_EQ(readLe32(top), 0xFF800000u);
}

TEST(LittleEndian, WritesLowByteFirstAndOnlyItsWidth) {
  std::uint8_t bytes[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  writeLe16(bytes, 0x1234);
  EXPECT_EQ(bytes[0], 0x34);
  EXPECT_EQ(bytes[1], 0x12);
  EXPECT_EQ(bytes[2], 0xEE);
  writeLe24(bytes, 0xAB563412u);
  EXPECT_EQ(bytes[2], 0x56);
  EXPECT_EQ(bytes[3], 0xEE) << "the top byte of a 24-bit number is dropped";
  writeLe32(bytes, 0x89ABCDEFu);
  const std::uint8_t expected[5] = {0xEF, 0xCD, 0xAB, 0x89, 0xEE};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(bytes[i], expected[i]) << i;
  EXPECT_EQ(readLe32(bytes), 0x89ABCDEFu);
}

}  // namespace
