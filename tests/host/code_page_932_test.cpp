// SPDX-License-Identifier: MIT
// Code page 932 text, as Q pictures carry their comments: bytes shown as text (what is no
// character escaped), text written as bytes (what the code page cannot hold refused by name).
#include <gtest/gtest.h>

#include <string>

#include "host/code_page_932.h"
#include "host/code_page_932_table.h"

namespace {

struct Shown {
  const char* bytes;
  const char* text;
};

TEST(CodePage932, BytesAreShownAsTheirCharactersAndTheRestEscaped) {
  const Shown cases[] = {
      {"Plain ASCII ~", "Plain ASCII ~"},
      {"\x93\xfa\x96\x7b\x8c\xea", "日本語"},                 // kanji, trail bytes below 0x80
      {"\x82\xa0\x83\x41\x81\x60", "あア～"},                 // hiragana, katakana, 0x8160
      {"\xb1\xb2\xdf", "ｱｲﾟ"},                                // half-width katakana, single bytes
      {"\x87\x40\xfa\x40\xed\x40", "①ⅰ纊"},                   // NEC and IBM extensions
      {"C:\\dir", "C:\\x5cdir"},                              // a backslash stays unambiguous
      {"\x1b[31m\x07", "\\x1b[31m\\x07"},                     // controls are never passed on
      {"\x80\xa0\xfd\xfe\xff", "\\x80\\xa0\\xfd\\xfe\\xff"},  // no character at all
      {"end\x82", "end\\x82"},                                // a lead byte cut off at the end
      {"\x82 ok", "\\x82 ok"},                                // a lead byte before an ASCII space
      {"\x85\x40!", "\\x85@!"},                               // an empty cell: the trail read alone
      {"\xf0\x40", "\\xf0@"},                                 // user-defined: drawn by no font here
      {"\x82\xa0\x82", "あ\\x82"},
  };
  for (const Shown& c : cases) EXPECT_EQ(host::showCodePage932(c.bytes), c.text) << c.text;
}

struct Written {
  const char* text;
  const char* bytes;
};

TEST(CodePage932, TextIsWrittenAsWindowsWritesIt) {
  const Written cases[] = {
      {"Hello", "Hello"},
      {"日本語のコメント", "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x52\x83\x81\x83\x93\x83\x67"},
      {"ｱｲ", "\xb1\xb2"},
      // Characters that several pairs stand for: the pair Windows writes.
      {"∵", "\x81\xe6"},   // also 0x879A and 0xFA5B
      {"ⅰ", "\xfa\x40"},   // also 0xEEEF
      {"纊", "\xfa\x5c"},  // also 0xED40
      {"￢", "\x81\xca"},  // also 0xEEF9 and 0xFA54
      // What input methods type where the code page has a full-width look-alike.
      {"〜", "\x81\x60"},
      {"−", "\x81\x7c"},
      {"—", "\x81\x5c"},
      {"¢£¬‖", "\x81\x91\x81\x92\x81\xca\x81\x61"},
  };
  for (const Written& c : cases) {
    std::string bytes, error;
    ASSERT_TRUE(host::toCodePage932(c.text, bytes, error)) << c.text << ": " << error;
    EXPECT_EQ(bytes, c.bytes) << c.text;
  }
}

TEST(CodePage932, WhatTheCodePageCannotHoldIsRefusedByName) {
  const Written cases[] = {
      {"café", "the 4th character, é (U+00E9), is not in code page 932"},
      {"¥100", "the 1st character, ¥ (U+00A5), is not in code page 932"},
      {"絵文字😀", "the 4th character, 😀 (U+1F600), is not in code page 932"},
      {"한글", "the 1st character, 한 (U+D55C), is not in code page 932"},
      {"\xee\x80\x80", "the 1st character, \xee\x80\x80 (U+E000), is not in code page 932"},
      {"ab\xff", "is not UTF-8 text (byte 0xff at offset 2)"},
      {"\xc0\xaf", "is not UTF-8 text (byte 0xc0 at offset 0)"},       // overlong
      {"x\xed\xa0\x80", "is not UTF-8 text (byte 0xed at offset 1)"},  // a surrogate
      {"\xe6\x97", "is not UTF-8 text (byte 0xe6 at offset 0)"},       // cut short
  };
  for (const Written& c : cases) {
    std::string bytes, error;
    EXPECT_FALSE(host::toCodePage932(c.text, bytes, error)) << c.text;
    EXPECT_EQ(error, c.bytes) << c.text;
  }
}

// Every character of the table reads back as itself once written, as the pair it was read
// from or one before it in byte order; one read from the repeated extensions (lead bytes 0xED
// and 0xEE) is written as the same character's pair outside them, where it has one.
TEST(CodePage932, EveryCharacterOfTheTableRoundTrips) {
  int characters = 0;
  for (int row = 0; row < host::cp932::kLeadCount; ++row) {
    for (int column = 0; column < host::cp932::kTrailCount; ++column) {
      if (!host::cp932::kPairs[row][column]) continue;
      const char lead = static_cast<char>(row < 31 ? 0x81 + row : 0xE0 + row - 31);
      const char trail = static_cast<char>(column < 63 ? 0x40 + column : 0x80 + column - 63);
      const std::string pair{lead, trail};
      const std::string text = host::showCodePage932(pair);
      ASSERT_EQ(text.find("\\x"), std::string::npos) << std::hex << int(lead & 0xff);
      std::string bytes, error;
      ASSERT_TRUE(host::toCodePage932(text, bytes, error)) << text << ": " << error;
      ASSERT_EQ(host::showCodePage932(bytes), text);
      const bool repeated = lead == '\xed' || lead == '\xee';
      const auto byteOrder = [](const std::string& s) {
        return static_cast<unsigned char>(s[0]) << 8 | static_cast<unsigned char>(s[1]);
      };
      ASSERT_EQ(bytes.size(), 2u) << text;
      if (repeated) {
        ASSERT_TRUE(bytes == pair || (bytes[0] != '\xed' && bytes[0] != '\xee')) << text;
      } else {
        ASSERT_LE(byteOrder(bytes), byteOrder(pair)) << text;
      }
      ++characters;
    }
  }
  EXPECT_EQ(characters, 7724);  // the double-byte characters of the code page, user rows aside
}

TEST(CodePage932, APrefixIsCutBetweenCharacters) {
  EXPECT_EQ(host::prefixFittingCodePage932("日本語", 5), "日本");
  EXPECT_EQ(host::prefixFittingCodePage932("日本語", 6), "日本語");
  EXPECT_EQ(host::prefixFittingCodePage932("aｱ日", 3), "aｱ");
  EXPECT_EQ(host::prefixFittingCodePage932("", 32), "");
}

}  // namespace
