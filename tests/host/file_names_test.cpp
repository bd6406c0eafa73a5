// SPDX-License-Identifier: MIT
// Names as Windows gives them and as a user types them there: UTF-16 and UTF-8 both ways, and
// wildcards matched letter case aside and expanded in a folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/file_names.h"
#include "host/wildcards.h"

namespace fs = std::filesystem;

namespace {

TEST(FileNames, Utf16AndUtf8GiveEachOtherBack) {
  const std::u16string names[] = {
      u"card.gra", u"Ünïcödé.q", u"絵\u3000カード.gra", u"\U0001F5BC.q",
      // A lone surrogate, which a Windows name may hold, comes back the same.
      std::u16string(u"a") + char16_t(0xD800) + u".gra", std::u16string(1, char16_t(0xDFFF))};
  for (const std::u16string& name : names) {
    const std::string utf8 = host::utf16ToUtf8(name);
    EXPECT_EQ(host::utf8ToUtf16(utf8), name);
  }
  EXPECT_EQ(host::utf16ToUtf8(u"é絵\U0001F5BC"), "\xC3\xA9\xE7\xB5\xB5\xF0\x9F\x96\xBC");
}

TEST(FileNames, BytesThatAreNoUtf8BecomeReplacementCharacters) {
  const struct {
    const char* utf8;
    std::u16string utf16;
  } cases[] = {
      {"a\xFF"
       "b",
       u"a\uFFFDb"},
      {"\xC3", u"\uFFFD"},                                // cut short
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\xE7\xB5", u"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(host::utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
}

TEST(Wildcards, MatchAsACommandLineUserExpects) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*.gra", "card.gra", true},
      {"*.gra", "CARD.GRA", true},  // letter case aside
      {"*.GRA", "card.gra", true},
      {"*.gra", "card.gra.png", false},
      {"*.gra", "card.rgb", false},
      {"*.q", "x.qq", false},
      {"*.q", ".q", true},
      {"*", "anything at all", true},
      {"*.*", "no-dot", true},  // every name, as on Windows
      {"*.*", "a.b.c", true},
      {"?.q", "a.q", true},
      {"?.q", "ab.q", false},
      {"?.q", ".q", false},
      {"c*d*.gra", "card.gra", true},
      {"c*d*x.gra", "card.gra", false},
      {"*a*a*a*", "banana", true},
      {"*a*a*a*a*", "banana", false},
      {"", "", true},
      {"", "a", false},
      // One character is one character, however many bytes it takes.
      {"?.gra", "絵.gra", true},
      {"??.q", "\U0001F5BCx.q", true},
      // Letters with case outside ASCII.
      {"ünïcödé.*", "ÜNÏCÖDÉ.Q", true},
      {"łódź.gra", "ŁÓDŹ.GRA", true},
      {"ÿ*", "Ÿx", true},
      {"σ*", "Σ.q", true},
      {"кот.gra", "КОТ.GRA", true},
      {"ёж.q", "ЁЖ.q", true},
      {"ａ.q", "Ａ.q", true},  // full-width Latin
      {"絵*.gra", "絵カード.gra", true},
      {"カード.gra", "かーど.gra", false},  // katakana and hiragana are other letters
      {"i.q", "İ.q", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(host::matchesWildcards(c.pattern, c.name), c.matches)
        << "'" << c.pattern << "' against '" << c.name << "'";
  }
}

TEST(Wildcards, AreToldApart) {
  EXPECT_TRUE(host::hasWildcards("pics/*.gra"));
  EXPECT_TRUE(host::hasWildcards("a?.q"));
  EXPECT_FALSE(host::hasWildcards("pics/card.gra"));
  EXPECT_EQ(host::foldCase("Ünïcödé CARD.GRA"), "ünïcödé card.gra");
  EXPECT_EQ(host::foldCase("絵"), "絵");
}

class WildcardFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("wildcards-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "sub.gra");
    for (const char* name : {"b.gra", "A.GRA", "c.q", "絵.gra", "Ünï.q", "a.rgb"})
      std::ofstream(folder_ / name) << "x";
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string in(const std::string& name) const { return folder_.string() + "/" + name; }

  fs::path folder_;
};

TEST_F(WildcardFolder, ExpandsTheLastPartInNameOrder) {
  const std::vector<std::string> expected = {in("A.GRA"), in("b.gra"), in("sub.gra"), in("絵.gra")};
  EXPECT_EQ(host::expandWildcards(in("*.gra")), expected);
  EXPECT_EQ(host::expandWildcards(in("*.Q")), (std::vector<std::string>{in("c.q"), in("Ünï.q")}));
  EXPECT_EQ(host::expandWildcards(in("?.rgb")), std::vector<std::string>{in("a.rgb")});
}

TEST_F(WildcardFolder, NamesNothingWhereNothingMatches) {
  EXPECT_TRUE(host::expandWildcards(in("*.png")).empty());
  EXPECT_TRUE(host::expandWildcards(in("missing/*.gra")).empty());
  // Wildcards are expanded in the last part only, as the shell's own commands do.
  EXPECT_TRUE(host::expandWildcards(folder_.string() + "/s*/x.gra").empty());
  EXPECT_TRUE(host::expandWildcards(in("")).empty());
}

TEST_F(WildcardFolder, ExpandsInTheWorkingFolderWithoutAFolderPart) {
  const fs::path before = fs::current_path();
  fs::current_path(folder_);
  const std::vector<std::string> found = host::expandWildcards("*.q");
  fs::current_path(before);
  EXPECT_EQ(found, (std::vector<std::string>{"c.q", "Ünï.q"}));
}

}  // namespace
