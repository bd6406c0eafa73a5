// SPDX-License-Identifier: MIT
// The Q writer. The file layout and the token codes are described at the top of
// q/q_loader.cpp; the writer produces exactly what the loader reads.
#include "q/writer/q_writer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "framework/little_endian.h"

using namespace qformat;

namespace {

using Line = std::array<std::uint8_t, kLineBytes>;
using Bytes = std::vector<std::uint8_t>;

constexpr int kMaxChunkLength = 0xFFFF;
constexpr int kMaxCount = 255;             // a run's count byte
constexpr int kMaxLiteralModeCount = 254;  // 255 is the literal operand for zero and 0xFF runs
constexpr std::uint8_t kSixteenColorMode = 1;

int planeCount(const QPicture& picture) {
  return picture.eightColors ? kEightColorPlanes : kSixteenColorPlanes;
}

// Line L of the picture: plane L mod P of line pair L / P as plane bytes.
Line pictureLine(const QPicture& picture, int number) {
  const int planes = planeCount(picture);
  const int upper = 2 * (number / planes);
  Line line;
  packPlaneLine(number % planes, kLineBytes, picture.pixels.data() + upper * kPictureWidth,
                line.data());
  return line;
}

int nonZeroBytes(const Line& a, const Line& b) {
  int count = 0;
  for (int i = 0; i < kLineBytes; ++i) count += a[i] != b[i];
  return count;
}

// The slot line number is XORed with; history holds what the reader's slots hold then.
int chooseReference(QWriteOptions::Reference rule, const Line& line, int number,
                    const std::array<Line, kHistorySlots>& history) {
  switch (rule) {
    case QWriteOptions::Reference::OwnSlot:
      return number % kHistorySlots;
    case QWriteOptions::Reference::Scattered:
      return (number * 13 + number / kHistorySlots + 7) % kHistorySlots;
    case QWriteOptions::Reference::FewestNonZero:
      break;
  }
  int best = number % kHistorySlots;
  int bestCount = nonZeroBytes(line, history[best]);
  for (int slot = 0; slot < kHistorySlots && bestCount > 0; ++slot) {
    int count = nonZeroBytes(line, history[slot]);
    if (count < bestCount) {
      best = slot;
      bestCount = count;
    }
  }
  return best;
}

// Which of a record's codes act as codes: an equal code byte earlier in the order wins.
struct ActiveCodes {
  EscapeRecord record;
  bool literalMode;
  bool ffRun;
  bool fillRun;
  bool endOfLine;

  explicit ActiveCodes(const EscapeRecord& r)
      : record(r),
        literalMode(r.literalMode != 0),
        ffRun(r.ffRunCode != r.zeroRunCode),
        fillRun(r.fillRunCode != r.zeroRunCode && r.fillRunCode != r.ffRunCode),
        endOfLine(!literalMode && r.endOfLineCode != r.zeroRunCode &&
                  r.endOfLineCode != r.ffRunCode && r.endOfLineCode != r.fillRunCode) {}

  bool isCode(std::uint8_t b) const {
    return b == record.zeroRunCode || b == record.ffRunCode || b == record.fillRunCode ||
           (!literalMode && b == record.endOfLineCode);
  }
};

// Writes the tokens of one chunk.
class ChunkEncoder {
 public:
  ChunkEncoder(const EscapeRecord& record, bool overrunLineEnds)
      : codes_(record), overrun_(overrunLineEnds) {}

  void encodeLine(const Line& data) {
    int at = 0;
    while (at < kLineBytes) at = encodeToken(data, at);
  }

  // A few plain bytes that do not finish a line.
  void encodePartialLine() {
    std::uint8_t plain = 0x5A;
    while (codes_.isCode(plain)) ++plain;
    for (int i = 0; i < 5; ++i) literal(plain);
  }

  const Bytes& bytes() const { return out_; }
  const EscapeRecord& record() const { return codes_.record; }
  const QTokenCounts& counts() const { return counts_; }

 private:
  // Encodes the token starting at data[at]; answers the position after what it covers.
  int encodeToken(const Line& data, int at) {
    const std::uint8_t b = data[at];
    int run = 1;
    while (at + run < kLineBytes && data[at + run] == b) ++run;
    const bool toLineEnd = at + run == kLineBytes;

    if (b == 0x00 && toLineEnd && codes_.endOfLine && !overrun_) {
      out_.push_back(codes_.record.endOfLineCode);
      ++counts_.endOfLine;
      return kLineBytes;
    }
    const int runLimit = codes_.literalMode ? kMaxLiteralModeCount : kMaxCount;
    const int count = toLineEnd && overrun_ ? runLimit : std::min(run, runLimit);
    if (b == 0x00 && run >= 2) {
      runToken(codes_.record.zeroRunCode, count, counts_.zeroRun);
      return at + std::min(run, count);
    }
    if (b == 0xFF && run >= 2 && codes_.ffRun) {
      runToken(codes_.record.ffRunCode, count, counts_.ffRun);
      return at + std::min(run, count);
    }
    if (run >= 3 && codes_.fillRun && !(codes_.literalMode && b == kLiteralOperand)) {
      const int fillCount = toLineEnd && overrun_ ? kMaxCount : std::min(run, kMaxCount);
      fillToken(b, fillCount);
      return at + std::min(run, fillCount);
    }
    literal(b);
    return at + 1;
  }

  // One byte, escaped when it is a code byte.
  void literal(std::uint8_t b) {
    const EscapeRecord& r = codes_.record;
    if (!codes_.isCode(b)) {
      out_.push_back(b);
      ++counts_.literal;
    } else if (codes_.literalMode) {
      // The first matching code is the one the reader sees.
      out_.push_back(b);
      out_.push_back(kLiteralOperand);
      ++counts_.escapedCode;
    } else if (b == 0x00) {
      runToken(r.zeroRunCode, 1, counts_.zeroRun);
    } else if (b == 0xFF && codes_.ffRun) {
      runToken(r.ffRunCode, 1, counts_.ffRun);
    } else if (codes_.fillRun) {
      fillToken(b, 1);
    } else {
      throw WriteError("these escape codes cannot express every byte of the chunk");
    }
  }

  void runToken(std::uint8_t code, int count, int& counter) {
    out_.push_back(code);
    out_.push_back(static_cast<std::uint8_t>(count));
    ++counter;
  }

  void fillToken(std::uint8_t value, int count) {
    out_.push_back(codes_.record.fillRunCode);
    out_.push_back(value);
    out_.push_back(static_cast<std::uint8_t>(count));
    ++counts_.fillRun;
  }

  ActiveCodes codes_;
  bool overrun_;
  Bytes out_;
  QTokenCounts counts_;
};

// Four distinct code bytes picked from how often each value occurs in the chunk's lines.
EscapeRecord pickCodes(QWriteOptions::Codes rule, const std::vector<Line>& lines, int first,
                       int count, bool literalMode) {
  std::array<long, 256> frequency{};
  for (int n = first; n < first + count; ++n) {
    for (std::uint8_t b : lines[n]) ++frequency[b];
  }
  std::array<int, 256> order;
  for (int v = 0; v < 256; ++v) order[v] = v;
  const bool least = rule == QWriteOptions::Codes::LeastUsed;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return least ? frequency[a] < frequency[b] : frequency[a] > frequency[b];
  });
  std::uint8_t picked[4];
  int found = 0;
  for (int v : order) {
    if (least && (v == 0x00 || v == 0xFF)) continue;
    picked[found++] = static_cast<std::uint8_t>(v);
    if (found == 4) break;
  }
  return EscapeRecord{static_cast<std::uint8_t>(literalMode ? 1 : 0), picked[0], picked[1],
                      picked[2], picked[3]};
}

bool literalModeOf(QWriteOptions::LiteralMode rule, int chunk) {
  return rule == QWriteOptions::LiteralMode::On ||
         (rule == QWriteOptions::LiteralMode::Alternate && chunk % 2 == 1);
}

void checkPicture(const QPicture& picture) {
  const int colors = picture.eightColors ? 8 : 16;
  for (std::uint8_t index : picture.pixels) {
    if (index >= colors) throw WriteError("a colour index lies beyond the colour count");
  }
  for (const Color4& c : picture.palette) {
    if (c.red > 15 || c.green > 15 || c.blue > 15)
      throw WriteError("a palette component lies above 15");
  }
  if (picture.comment.size() > static_cast<std::size_t>(kCommentSize))
    throw WriteError("the comment is longer than 32 bytes");
  if (!picture.comment.empty() && static_cast<std::uint8_t>(picture.comment[0]) < kFirstCommentByte)
    throw WriteError("a comment must start with a byte of 32 (a space) or more");
}

// The table block: reference indices and, with 16 colours, the palette.
Bytes tableBlock(const QPicture& picture, const std::vector<std::uint8_t>& indices) {
  if (picture.eightColors) {
    Bytes table(kEightColorTableSize, 0);
    for (int word = 0; word < kIndexWords; ++word) {
      unsigned value = 0;
      for (int i = 0; i < kIndicesPerWord; ++i)
        value = value << kIndexBits | indices[kIndicesPerWord * word + i];
      table[2 * word] = static_cast<std::uint8_t>(value >> 8);
      table[2 * word + 1] = static_cast<std::uint8_t>(value);
    }
    return table;
  }
  Bytes table(kSixteenColorTableSize, 0);
  int bit = 0;
  for (std::uint8_t index : indices) {
    for (int b = kIndexBits - 1; b >= 0; --b, ++bit) {
      if (index >> b & 1) table[bit / 8] |= 0x80 >> (bit % 8);
    }
  }
  int nibble = 0;
  for (const Color4& c : picture.palette) {
    for (std::uint8_t v : {c.red, c.green, c.blue}) {
      std::uint8_t& at = table[kPaletteOffset + nibble / 2];
      at |= static_cast<std::uint8_t>(nibble % 2 == 0 ? v << 4 : v);
      ++nibble;
    }
  }
  return table;
}

}  // namespace

QFiles writeQ(const QPicture& picture, const QWriteOptions& options) {
  checkPicture(picture);
  const int lineCount = kLinePairs * planeCount(picture);

  // The lines as written: each picture line XORed with its reference slot, as the reader's
  // history will hold it then.
  std::vector<Line> data;
  std::vector<std::uint8_t> indices(kMaxLines, 0);
  std::array<Line, kHistorySlots> history{};
  for (int number = 0; number < lineCount; ++number) {
    const Line line = pictureLine(picture, number);
    const int slot = chooseReference(options.reference, line, number, history);
    Line coded;
    for (int i = 0; i < kLineBytes; ++i) coded[i] = line[i] ^ history[slot][i];
    data.push_back(coded);
    indices[number] = static_cast<std::uint8_t>(slot);
    history[number % kHistorySlots] = line;
  }
  for (int extra = 0; extra < options.extraLines; ++extra) {
    Line line;
    for (int i = 0; i < kLineBytes; ++i)
      line[i] = static_cast<std::uint8_t>(i * 31 + extra * 7 + 1);
    data.push_back(line);
  }

  if (options.extraLines < 0) throw WriteError("extraLines cannot be negative");
  std::array<int, kChunkCount> lines{};
  if (options.linesPerChunk) {
    lines = *options.linesPerChunk;
    int total = 0;
    for (int n : lines) {
      if (n < 0) throw WriteError("a chunk cannot hold a negative number of lines");
      total += n;
    }
    if (total != lineCount)
      throw WriteError("the lines per chunk do not add up to the picture's lines");
  } else {
    for (int k = 0; k < kChunkCount; ++k)
      lines[k] = (k + 1) * lineCount / kChunkCount - k * lineCount / kChunkCount;
  }
  lines[kChunkCount - 1] += options.extraLines;

  Bytes header(kHeaderSize, 0);
  std::memcpy(header.data(), picture.comment.data(), picture.comment.size());
  header[kColorModeOffset] = picture.eightColors ? kEightColorMode : kSixteenColorMode;
  std::memcpy(header.data() + kSignatureOffset, kSignature, kSignatureSize);

  QWriteReport report;
  report.referenceIndex.assign(indices.begin(), indices.begin() + lineCount);
  Bytes chunkBytes;
  int first = 0;
  for (int k = 0; k < kChunkCount; ++k) {
    const int count = lines[k];
    auto encode = [&](const EscapeRecord& record) {
      ChunkEncoder encoder(record, options.overrunLineEnds);
      for (int n = first; n < first + count; ++n) encoder.encodeLine(data[n]);
      if (options.partialLineAtChunkEnds) encoder.encodePartialLine();
      return encoder;
    };
    std::optional<ChunkEncoder> encoded;
    if (options.fixedCodes[k]) {
      encoded.emplace(encode(*options.fixedCodes[k]));
    } else if (options.literalMode == QWriteOptions::LiteralMode::Smaller) {
      ChunkEncoder off = encode(pickCodes(options.codes, data, first, count, false));
      ChunkEncoder on = encode(pickCodes(options.codes, data, first, count, true));
      encoded.emplace(on.bytes().size() < off.bytes().size() ? on : off);
    } else {
      encoded.emplace(encode(
          pickCodes(options.codes, data, first, count, literalModeOf(options.literalMode, k))));
    }
    first += count;

    const Bytes& tokens = encoded->bytes();
    if (tokens.size() > static_cast<std::size_t>(kMaxChunkLength))
      throw WriteError("a chunk would be longer than 65535 bytes");
    const EscapeRecord& r = encoded->record();
    writeLe16(header.data() + kChunkLengthsOffset + 2 * k,
              static_cast<std::uint16_t>(tokens.size()));
    std::uint8_t* record = header.data() + kEscapeRecordsOffset + kEscapeRecordSize * k;
    record[0] = r.literalMode;
    record[1] = r.zeroRunCode;
    record[2] = r.ffRunCode;
    record[3] = r.fillRunCode;
    record[4] = r.endOfLineCode;
    chunkBytes.insert(chunkBytes.end(), tokens.begin(), tokens.end());

    const QTokenCounts& c = encoded->counts();
    QTokenCounts& total = report.tokens[r.literalMode != 0 ? 1 : 0];
    total.literal += c.literal;
    total.zeroRun += c.zeroRun;
    total.ffRun += c.ffRun;
    total.fillRun += c.fillRun;
    total.endOfLine += c.endOfLine;
    total.escapedCode += c.escapedCode;
    report.linesInChunk[k] = count;
    report.codes[k] = r;
  }

  const Bytes table = tableBlock(picture, indices);
  Bytes file;
  file.reserve(header.size() + table.size() + chunkBytes.size());
  for (const Bytes* part : std::initializer_list<const Bytes*>{&header, &table, &chunkBytes})
    file.insert(file.end(), part->begin(), part->end());
  writeLe24(file.data() + kFileSizeOffset, static_cast<std::uint32_t>(file.size()));
  return QFiles{std::move(file), std::move(report)};
}
