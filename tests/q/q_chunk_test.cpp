// SPDX-License-Identifier: MIT
// The chunk decoder: tokens, lines, the history of earlier lines, progress and cancelling.
#include <gtest/gtest.h>

#include <utility>

#include "tests/q/q_test_support.h"

namespace {

// A 16-colour file whose chunk 0 is chunk, decoded; the result must be Ok.
Bytes decodeChunk0(const EscapeRecord& codes, const Bytes& chunk) {
  HandMadeQ q;
  q.codes[0] = codes;
  q.chunks[0] = chunk;
  Decoded d = decode(q.build());
  EXPECT_EQ(d.result, LoaderResult::Ok);
  return d.pixels;
}

// A line that starts with the given bytes and is zero after them.
Line lineStarting(std::initializer_list<int> bytes) {
  Line line{};
  int i = 0;
  for (int b : bytes) line[i++] = static_cast<std::uint8_t>(b);
  return line;
}

TEST(Tokens, RunsEndOfLineAndCountZero) {
  Bytes c;
  add(c, {0x41, kZ, 3, kF, 2, kR, 0x77, 4, 0x42, kE});  // line 0
  add(c, {kR, 0xFF, 3, kE});                            // line 1: 255 is a plain fill value
  add(c, {kZ, 255});                                    // line 2: 160 zeros, 95 dropped
  add(c, {0x55, kE});                                   // line 3
  add(c, {kZ, 0, kF, 0, kR, 9, 0, 0x66, kE});           // line 4: empty runs
  add(c, {kE});                                         // line 5: an empty line ended
  add(c, {0x67, kE});                                   // line 6
  Bytes p = decodeChunk0(kCodes, c);
  EXPECT_EQ(lineOf(p, 0), lineStarting({0x41, 0, 0, 0, 0xFF, 0xFF, 0x77, 0x77, 0x77, 0x77, 0x42}));
  EXPECT_EQ(lineOf(p, 1), lineStarting({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(lineOf(p, 2), zeroLine());
  EXPECT_EQ(lineOf(p, 3), lineStarting({0x55})) << "the dropped zeros do not carry over";
  EXPECT_EQ(lineOf(p, 4), lineStarting({0x66}));
  EXPECT_EQ(lineOf(p, 5), zeroLine());
  EXPECT_EQ(lineOf(p, 6), lineStarting({0x67}));
  EXPECT_EQ(lineOf(p, 7), zeroLine());
}

TEST(Tokens, LiteralModeTurnsCodesIntoBytes) {
  Bytes c;
  // Each code byte as itself; the end-of-line code is a plain byte; 254 is a count.
  add(c, {kZ, 255, kF, 255, kR, 255, kE, kZ, 2, kF, 1, kR, 0x10, 2, kZ, 254});
  add(c, {kR, 0xFF, 3, kZ, 160});  // the 3 after the literal fill code is a token of its own
  add(c, {kR, 0x11, 255});         // a fill count of 255 is an ordinary count
  Bytes p = decodeChunk0(kLiteralCodes, c);
  EXPECT_EQ(lineOf(p, 0), lineStarting({kZ, kF, kR, kE, 0, 0, 0xFF, 0x10, 0x10}));
  EXPECT_EQ(lineOf(p, 1), lineStarting({kR, 3}));
  Line fill;
  fill.fill(0x11);
  EXPECT_EQ(lineOf(p, 2), fill);
}

TEST(Tokens, EqualCodesTheEarlierTestWins) {
  // Zero run, ff run and end of line share one byte: it always starts a zero run.
  const EscapeRecord shared{0, 0xE0, 0xE0, 0xE2, 0xE0};
  Bytes c;
  add(c, {0xE0, 3, 0x11, 0xE0, 160});
  add(c, {0xE2, 0xE0, 2, 0x20, 0xE0, 200});
  Bytes p = decodeChunk0(shared, c);
  EXPECT_EQ(lineOf(p, 0), lineStarting({0, 0, 0, 0x11}));
  EXPECT_EQ(lineOf(p, 1), lineStarting({0xE0, 0xE0, 0x20}));

  // ff run and fill run share a byte: it is an ff run.
  const EscapeRecord ffFill{0, 0xE0, 0xE1, 0xE1, 0xE2};
  Bytes d;
  add(d, {0xE1, 3, 0xE2, 0xE1, 1, 0xE2});
  p = decodeChunk0(ffFill, d);
  EXPECT_EQ(lineOf(p, 0), lineStarting({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(lineOf(p, 1), lineStarting({0xFF}));

  // In literal mode, the shared byte followed by 255 is that byte.
  const EscapeRecord literalShared{1, 0xE0, 0xE0, 0xE2, 0xE0};
  Bytes e;
  add(e, {0xE0, 255, 0xE0, 159});
  p = decodeChunk0(literalShared, e);
  EXPECT_EQ(lineOf(p, 0), lineStarting({0xE0}));
}

TEST(Lines, RunsPastTheLineEndAreCutThere) {
  Bytes c;
  Line counting = countingLine();
  c.insert(c.end(), counting.begin(), counting.begin() + 100);
  add(c, {kF, 100, 0x33, kE});
  c.insert(c.end(), counting.begin(), counting.begin() + 150);
  add(c, {kR, 0x44, 200, 0x34, kE});
  Bytes p = decodeChunk0(kCodes, c);
  Line first = counting;
  std::fill(first.begin() + 100, first.end(), 0xFF);
  EXPECT_EQ(lineOf(p, 0), first);
  EXPECT_EQ(lineOf(p, 1), lineStarting({0x33}));
  Line third = counting;
  std::fill(third.begin() + 150, third.end(), 0x44);
  EXPECT_EQ(lineOf(p, 2), third);
  EXPECT_EQ(lineOf(p, 3), lineStarting({0x34}));
}

TEST(Lines, AnUnfinishedLineAtAChunksEndIsDropped) {
  HandMadeQ q;
  addLine(q.chunks[0], countingLine());
  addRepeated(q.chunks[0], 0x5A, 10);  // unfinished
  add(q.chunks[1], {0x21, kE});
  addRepeated(q.chunks[3], 0x5B, 30);  // unfinished, alone in its chunk
  add(q.chunks[4], {0x22, kE});
  // Line 34 names slot 2: had the bytes dropped from chunk 3 reached it, they would show.
  addRepeated(q.chunks[5], kE, 32);
  q.indices[34] = 2;
  Decoded d = decode(q.build());
  ASSERT_EQ(d.result, LoaderResult::Ok);
  EXPECT_EQ(lineOf(d.pixels, 0), countingLine());
  EXPECT_EQ(lineOf(d.pixels, 1), lineStarting({0x21}));
  EXPECT_EQ(lineOf(d.pixels, 2), lineStarting({0x22}));
  EXPECT_EQ(lineOf(d.pixels, 3), zeroLine());
  EXPECT_EQ(lineOf(d.pixels, 34), lineStarting({0x22}));
}

// From memory the last chunk is decoded where it lies, in a host block that ends with it: a
// stretch of plain bytes up to the block's last byte is read no further (the sanitizer run
// sees a read past the exact-size block), and gives what it gives with room after the block.
TEST(Lines, AStretchThatEndsTheBlockIsReadNoFurther) {
  const Line counting = countingLine();
  for (int tail = 1; tail <= 70; ++tail) {
    HandMadeQ q;
    add(q.chunks[9], {kR, 0x44, qformat::kLineBytes - tail});
    q.chunks[9].insert(q.chunks[9].end(), counting.end() - tail, counting.end());
    Bytes file = q.build();
    Line expected = counting;
    std::fill(expected.begin(), expected.end() - tail, 0x44);
    const Bytes exact(file.begin(), file.end());  // no capacity past its size
    const Decoded tight = decode(exact);
    ASSERT_EQ(tight.result, LoaderResult::Ok);
    EXPECT_EQ(lineOf(tight.pixels, 0), expected) << tail << " plain bytes at the end";
    file.insert(file.end(), 64, kE);
    EXPECT_EQ(decode(file).pixels, tight.pixels) << tail << " plain bytes at the end";
  }
}

TEST(Lines, TokensCutShortByTheChunksEndAppendNothing) {
  const Line counting = countingLine();
  struct Case {
    const char* what;
    EscapeRecord codes;
    std::initializer_list<int> tail;  // after 159 plain bytes
  } cases[] = {
      {"zero run code last", kCodes, {kZ}},
      {"ff run code last, literal mode", kLiteralCodes, {kF}},
      {"fill run code second to last", kCodes, {kR, 0x99}},
      {"fill run code last", kCodes, {kR}},
      {"fill run code last, literal mode", kLiteralCodes, {kR}},
  };
  for (const Case& k : cases) {
    HandMadeQ q;
    // Chunk 0 leaves non-zero bytes in the chunk buffer just past where chunk 1 ends.
    addLine(q.chunks[0], counting);
    add(q.chunks[0], {0x05, 0x05, 0x05, kE});
    q.codes[1] = k.codes;
    q.chunks[1].assign(counting.begin(), counting.begin() + 159);
    add(q.chunks[1], k.tail);
    add(q.chunks[2], {0x77, kE});
    Decoded d = decode(q.build());
    ASSERT_EQ(d.result, LoaderResult::Ok) << k.what;
    EXPECT_EQ(lineOf(d.pixels, 1), lineStarting({5, 5, 5})) << k.what;
    EXPECT_EQ(lineOf(d.pixels, 2), lineStarting({0x77})) << k.what << ": chunk 1 made no line";
  }
}

TEST(History, SlotsHoldTheLatestLineOfTheirNumberAndMayBeTheLinesOwn) {
  const Line a = countingLine(1), b = countingLine(20), c = countingLine(40), d = countingLine(60);
  HandMadeQ q;
  q.indices[0] = 5;  // still empty: line 0 is output as decoded
  q.indices[1] = 9;
  q.indices[32] = 0;  // line 0
  q.indices[33] = 1;  // its own slot, holding line 1
  q.indices[34] = 1;  // now holding line 33
  q.indices[35] = 3;  // line 3: zeros
  addLine(q.chunks[0], a);
  addLine(q.chunks[0], b);
  addRepeated(q.chunks[0], kE, 30);
  addLine(q.chunks[1], c);
  addLine(q.chunks[1], d);
  add(q.chunks[1], {kE, kE});
  Decoded r = decode(q.build());
  ASSERT_EQ(r.result, LoaderResult::Ok);
  EXPECT_EQ(lineOf(r.pixels, 0), a);
  EXPECT_EQ(lineOf(r.pixels, 1), b);
  EXPECT_EQ(lineOf(r.pixels, 31), zeroLine());
  EXPECT_EQ(lineOf(r.pixels, 32), xorOf(c, a));
  EXPECT_EQ(lineOf(r.pixels, 33), xorOf(d, b));
  EXPECT_EQ(lineOf(r.pixels, 34), xorOf(d, b)) << "an end-of-line line repeats its slot";
  EXPECT_EQ(lineOf(r.pixels, 35), zeroLine());
}

TEST(History, EightColourLinesAreThreePlanesOfAPair) {
  HandMadeQ q;
  q.eightColors = true;
  q.indices[3] = 0;                        // line 3: plane 0 of pair 1, against line 0
  addLine(q.chunks[0], countingLine(1));   // pair 0 plane 0
  add(q.chunks[0], {0x10, kE, 0x20, kE});  // planes 1 and 2
  add(q.chunks[0], {0x01, kE, 0x02, kE});  // pair 1, planes 0 and 1
  Decoded r = decode(q.build());
  ASSERT_EQ(r.result, LoaderResult::Ok);
  EXPECT_EQ(lineOf(r.pixels, 0, 3), countingLine(1));
  EXPECT_EQ(lineOf(r.pixels, 2, 3), lineStarting({0x20}));
  EXPECT_EQ(lineOf(r.pixels, 3, 3), xorOf(lineStarting({0x01}), countingLine(1)));
  EXPECT_EQ(lineOf(r.pixels, 4, 3), lineStarting({0x02}));
  // Plane 3 is never written in an 8-colour picture.
  for (std::uint8_t b : r.pixels) ASSERT_EQ(b & 0x88, 0);
}

TEST(Lines, LinesBeyondThePictureAreDroppedWithoutEffect) {
  for (bool eightColors : {false, true}) {
    const int lines = eightColors ? 600 : 800;
    HandMadeQ q;
    q.eightColors = eightColors;
    for (int k = 0; k < 10; ++k) addRepeated(q.chunks[k], kE, lines / 10);
    q.chunks[9].pop_back();
    addLine(q.chunks[9], countingLine(3));  // the picture's last line
    q.indices[lines - 1] = 1;
    Bytes plain = q.build();
    // Further lines, full ones and runs, some naming the slots of earlier lines.
    for (int extra = 0; extra < 100; ++extra) {
      add(q.chunks[9], {kF, 160, 0x12, kR, 0x34, 80, kE});
      addLine(q.chunks[9], countingLine(extra));
    }
    Decoded without = decode(plain);
    Decoded with = decode(q.build());
    ASSERT_EQ(without.result, LoaderResult::Ok);
    ASSERT_EQ(with.result, LoaderResult::Ok);
    EXPECT_EQ(lineOf(with.pixels, lines - 1, eightColors ? 3 : 4), countingLine(3));
    EXPECT_EQ(with.pixels, without.pixels) << (eightColors ? "8" : "16") << " colours";
  }
}

TEST(Chunks, AllEmptyGiveAPictureOfIndexZero) {
  Decoded d = decode(HandMadeQ{}.build());
  ASSERT_EQ(d.result, LoaderResult::Ok);
  EXPECT_EQ(d.pixels, Bytes(kPixelBlockSize, 0));
  expectNothingHeld();
}

TEST(Chunks, AShortChunkIsBadDataAndHandsNothingOver) {
  HandMadeQ q;
  add(q.chunks[0], {0x11, kE});
  addRepeated(q.chunks[5], kE, 40);
  Bytes file = q.build();
  file.resize(file.size() - 1);
  EXPECT_EQ(decode(file).result, LoaderResult::BadData);
  expectNothingHeld();
}

// From memory the chunks are decoded where they lie, except those with fewer than 15 bytes of
// the block after them, which go through a buffer. Whatever follows the last chunk (nothing,
// a few bytes, more) and however short the last chunks are, the picture is the same; the
// blocks are exact-size heap buffers, so that the sanitizers see any read past them.
TEST(Chunks, DecodedAlikeWhereverTheyLieInMemory) {
  HandMadeQ q;
  for (int k = 0; k < 8; ++k) {  // lines 0 to 23
    addLine(q.chunks[k], countingLine(2 * k));
    addLine(q.chunks[k], countingLine(2 * k + 1));
    add(q.chunks[k], {0x31, kZ, 9, 0x32, kF, 3, kE});
  }
  add(q.chunks[8], {0x21, 0x22, kE});  // short chunks at the end: chunk 8 has 2 bytes after it
  add(q.chunks[9], {0x23, kE});
  const Bytes file = q.build();
  const Bytes expected = decode(file).pixels;
  ASSERT_EQ(lineOf(expected, 23),
            lineStarting({0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x32, 255, 255, 255}));
  ASSERT_EQ(lineOf(expected, 24), lineStarting({0x21, 0x22}));
  ASSERT_EQ(lineOf(expected, 25), lineStarting({0x23}));
  for (std::size_t extra : {1, 2, 14, 15, 16, 40}) {
    Bytes longer = file;
    longer.insert(longer.end(), extra, kZ);  // codes that would change the picture if read
    Decoded d = decode(longer);
    ASSERT_EQ(d.result, LoaderResult::Ok) << extra << " bytes more";
    EXPECT_TRUE(d.pixels == expected) << extra << " bytes more";
  }
  expectNothingHeld();
}

// Progress calls as the host sees them; answers non-zero at the done value in cancelAt.
struct ProgressLog {
  std::vector<std::pair<int, int>> calls;
  int cancelAt = -1;
  bool alwaysCancel = false;
  HostValue seenUser = 0;

  static int WINAPI record(int done, int total, HostValue user) {
    auto* log = reinterpret_cast<ProgressLog*>(user);
    log->calls.emplace_back(done, total);
    log->seenUser = user;
    return log->alwaysCancel || done == log->cancelAt ? 1 : 0;
  }
  LoaderResult run(const Bytes& file) {
    return decode(file, record, reinterpret_cast<HostValue>(this)).result;
  }
};

std::vector<std::pair<int, int>> wholePictureCalls() {
  std::vector<std::pair<int, int>> calls{{0, 400}};
  for (int done = 32; done < 400; done += 32) calls.emplace_back(done, 400);
  calls.emplace_back(400, 400);
  return calls;
}

// A picture of lines empty lines, spread over the chunks.
Bytes emptyLines(bool eightColors, int lines) {
  HandMadeQ q;
  q.eightColors = eightColors;
  for (int k = 0; k < 10; ++k) addRepeated(q.chunks[k], kE, lines / 10 + (k < lines % 10));
  return q.build();
}

TEST(Progress, EveryThirtyTwoLinesInBothColourModes) {
  for (bool eightColors : {false, true}) {
    ProgressLog log;
    EXPECT_EQ(log.run(emptyLines(eightColors, eightColors ? 600 : 800)), LoaderResult::Ok);
    EXPECT_EQ(log.calls, wholePictureCalls()) << (eightColors ? 8 : 16) << " colours";
    EXPECT_EQ(log.seenUser, reinterpret_cast<HostValue>(&log));
  }
  // Lines beyond the picture add no calls.
  ProgressLog log;
  EXPECT_EQ(log.run(emptyLines(false, 2000)), LoaderResult::Ok);
  EXPECT_EQ(log.calls, wholePictureCalls());
}

TEST(Progress, CancelAtThirtyTwoStopsReadingAndStillCloses) {
  HandMadeQ q;
  addRepeated(q.chunks[0], kE, 100);
  addRepeated(q.chunks[1], kE, 100);
  Bytes file = q.build();
  file.resize(file.size() - 50);  // chunk 1 is short, but it is never read
  ProgressLog log;
  log.cancelAt = 32;
  EXPECT_EQ(log.run(file), LoaderResult::Cancelled);
  EXPECT_EQ(log.calls, (std::vector<std::pair<int, int>>{{0, 400}, {32, 400}, {400, 400}}));
  expectNothingHeld();
}

TEST(Progress, TheFirstAndClosingCallsNeverCancel) {
  ProgressLog first;
  first.cancelAt = 0;
  EXPECT_EQ(first.run(emptyLines(false, 800)), LoaderResult::Ok);
  ProgressLog closing;
  closing.cancelAt = 400;
  EXPECT_EQ(closing.run(emptyLines(true, 600)), LoaderResult::Ok);

  // Always refusing: too few lines for a periodic call, then just enough.
  ProgressLog few;
  few.alwaysCancel = true;
  EXPECT_EQ(few.run(emptyLines(false, 63)), LoaderResult::Ok);
  EXPECT_EQ(few.calls, (std::vector<std::pair<int, int>>{{0, 400}, {400, 400}}));
  ProgressLog enough;
  enough.alwaysCancel = true;
  EXPECT_EQ(enough.run(emptyLines(true, 48)), LoaderResult::Cancelled);
  EXPECT_EQ(enough.calls.size(), 3u);
  expectNothingHeld();
}

TEST(Progress, BadDataStillGetsTheClosingCall) {
  Bytes file = emptyLines(false, 800);
  file.resize(file.size() - 1);
  ProgressLog log;
  EXPECT_EQ(log.run(file), LoaderResult::BadData);
  std::vector<std::pair<int, int>> expected = wholePictureCalls();
  expected.erase(expected.end() - 2);  // the last chunk held lines 720 to 799: no 384
  EXPECT_EQ(log.calls, expected);
}

}  // namespace
