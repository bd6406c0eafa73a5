// SPDX-License-Identifier: MIT
#include "tests/emulated/picture_inputs.h"

#include <algorithm>

#include "framework/little_endian.h"
#include "tests/support/pictures.h"

namespace {

// GRA: a 16-byte header block (byte 1: number of header blocks; bytes 2 to 5: window left,
// right, top, bottom; bytes 7 to 9: skip, invert-run and XOR-run escape bytes; byte 10: mode,
// 2 in the low 4 bits for the window; bytes 13 to 15: the signature), further header blocks,
// then per line pair a flag byte (0: repeat) and, unless 0, three chunks of a length byte, a
// starting offset and codes.
// The signature and the companions' sizes come from gra/gra_format.h.
constexpr int kGraHeaderSize = 16;
constexpr int kGraLinePairs = 200;

// Q: a 134-byte header (bytes 0 to 31: comment; 34: colour mode, 0 for 8 colours; 40 to 42:
// file size; 43 to 47: signature; 64 to 83: ten 16-bit chunk lengths; 84 to 133: ten 5-byte
// escape records of literal mode, zero-run, FF-run, fill-run and end-of-line codes), a table
// block of 524 bytes (16 colours) or 400 (8 colours), then the ten chunks.
constexpr int kQHeaderSize = 134;
constexpr int kQColorMode = 34;
constexpr int kQFileSize = 40;
constexpr int kQSignature = 43;
constexpr char kQSignatureText[] = "MAJYO";
constexpr int kQChunkLengths = 64;
constexpr int kQEscapeRecords = 84;
constexpr int kQChunks = 10;
constexpr int kQSixteenColorTable = 524;
constexpr int kQEightColorTable = 400;

// A byte that is one of the given codes most of the time.
std::uint8_t codeOrByte(Random& random, const std::vector<std::uint8_t>& codes) {
  return random.percent(40)
             ? codes[static_cast<std::size_t>(random.below(static_cast<int>(codes.size())))]
             : random.byte();
}

// A count that is small most of the time, and sometimes anything up to 255.
std::uint8_t count(Random& random) {
  return static_cast<std::uint8_t>(random.percent(80) ? random.below(12) : random.below(256));
}

Bytes graHeader(Random& random) {
  Bytes header = random.bytes(kGraHeaderSize);
  header[1] = static_cast<std::uint8_t>(random.percent(90) ? random.below(4) : random.below(256));
  if (random.percent(50)) {  // a window, sometimes out of bounds
    header[10] = static_cast<std::uint8_t>(random.percent(50) ? 0x02 : 0x12);
    header[2] = static_cast<std::uint8_t>(random.percent(80) ? random.below(80) : random.byte());
    header[3] = static_cast<std::uint8_t>(random.percent(80) ? header[2] + random.below(20)
                                                             : random.byte());
    header[4] = static_cast<std::uint8_t>(random.percent(80) ? random.below(200) : random.byte());
    header[5] = static_cast<std::uint8_t>(random.percent(80) ? header[4] + random.below(40)
                                                             : random.byte());
  } else {
    header[10] = static_cast<std::uint8_t>(random.percent(50) ? 0 : 0x21);
  }
  if (random.percent(15)) header[8] = header[7];  // equal escape bytes
  if (random.percent(10)) header[9] = header[8];
  if (random.percent(90))
    std::copy(std::begin(kGraSignature), std::end(kGraSignature), header.begin() + 13);
  return header;
}

void appendGraChunk(Random& random, const std::vector<std::uint8_t>& escapes, Bytes& file) {
  const int length = random.percent(90) ? random.below(40) : random.below(256);
  file.push_back(static_cast<std::uint8_t>(length));
  if (length == 0) return;
  file.push_back(static_cast<std::uint8_t>(random.percent(90) ? random.below(170) : random.byte()));
  for (int i = 1; i < length; ++i) {
    const std::uint8_t b = codeOrByte(random, escapes);
    file.push_back(b);
    if (b == escapes[0] || b == escapes[1]) {
      if (++i < length) file.push_back(random.percent(20) ? b : count(random));
    } else if (b == escapes[2]) {
      if (++i < length) file.push_back(random.byte());
      if (++i < length) file.push_back(count(random));
    }
  }
}

PictureCase randomGra(Random& random, int index) {
  PictureCase c;
  Bytes& file = c.file;
  file = graHeader(random);
  const int blocks = file[1];
  for (int i = 1; i < blocks; ++i) {
    const Bytes block = random.bytes(kGraHeaderSize);
    file.insert(file.end(), block.begin(), block.end());
  }
  const std::vector<std::uint8_t> escapes = {file[7], file[8], file[9]};
  if (random.percent(15)) {
    const Bytes rest = random.bytes(static_cast<std::size_t>(random.below(20000)));
    file.insert(file.end(), rest.begin(), rest.end());
    c.label = "GRA " + std::to_string(index) + ": random bytes after the header";
    return c;
  }
  const int repeatPercent = random.below(60);
  for (int pair = 0; pair < kGraLinePairs; ++pair) {
    if (random.percent(repeatPercent)) {
      file.push_back(0);
      continue;
    }
    file.push_back(static_cast<std::uint8_t>(random.below(255) + 1));
    for (int plane = 0; plane < 3; ++plane) appendGraChunk(random, escapes, file);
  }
  c.label = "GRA " + std::to_string(index) + ": random coded line pairs";
  return c;
}

Bytes companion(Random& random, int size) {
  switch (random.below(5)) {
    case 0:
      return random.bytes(static_cast<std::size_t>(size - 1));
    case 1:
      return random.bytes(static_cast<std::size_t>(size + 1));
    default:
      return random.bytes(static_cast<std::size_t>(size));
  }
}

// A chunk of tokens for the escape record at record: literal bytes, runs of zeros, of 0xFF and
// of a value, and line ends.
Bytes qChunk(Random& random, const std::uint8_t* record, int length) {
  const std::vector<std::uint8_t> codes(record + 1, record + 5);
  Bytes chunk;
  while (static_cast<int>(chunk.size()) < length) {
    const std::uint8_t b = codeOrByte(random, codes);
    chunk.push_back(b);
    if (b == codes[0] || b == codes[1]) chunk.push_back(count(random));
    if (b == codes[2]) {
      chunk.push_back(random.percent(10) ? 255 : random.byte());
      chunk.push_back(count(random));
    }
  }
  chunk.resize(static_cast<std::size_t>(length));
  return chunk;
}

PictureCase randomQ(Random& random, int index) {
  PictureCase c;
  Bytes header = random.bytes(kQHeaderSize);
  if (random.percent(40)) header[0] = static_cast<std::uint8_t>(random.below(32));  // no comment
  header[kQColorMode] = static_cast<std::uint8_t>(random.percent(40) ? 0 : random.below(255) + 1);
  const bool eightColors = header[kQColorMode] == 0;
  std::copy_n(kQSignatureText, 5, header.begin() + kQSignature);
  if (random.percent(8)) header[kQSignature + 4] = 'o';
  int total = 0;
  for (int k = 0; k < kQChunks; ++k) {
    const int length = random.percent(10) ? 0 : random.below(random.percent(80) ? 700 : 4000);
    writeLe16(&header[kQChunkLengths + 2 * k], static_cast<std::uint16_t>(length));
    total += length;
    std::uint8_t* record = &header[static_cast<std::size_t>(kQEscapeRecords + 5 * k)];
    record[0] = static_cast<std::uint8_t>(random.percent(60) ? 0 : random.byte());
    if (random.percent(10)) record[4] = record[1];  // equal codes
  }
  const int tableSize = eightColors ? kQEightColorTable : kQSixteenColorTable;
  const int fileSize = kQHeaderSize + tableSize + total + (random.percent(10) ? 1 : 0);
  writeLe24(&header[kQFileSize], static_cast<std::uint32_t>(fileSize));

  Bytes& file = c.file;
  file = header;
  const Bytes table = random.bytes(static_cast<std::size_t>(tableSize));
  file.insert(file.end(), table.begin(), table.end());
  for (int k = 0; k < kQChunks; ++k) {
    const int length = readLe16(&header[kQChunkLengths + 2 * k]);
    const Bytes chunk =
        qChunk(random, &header[static_cast<std::size_t>(kQEscapeRecords + 5 * k)], length);
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  if (random.percent(10)) {
    const Bytes trailing = random.bytes(static_cast<std::size_t>(random.below(100)));
    file.insert(file.end(), trailing.begin(), trailing.end());
  }
  c.label = "Q " + std::to_string(index) + (eightColors ? ": 8 colours" : ": 16 colours");
  return c;
}

std::vector<PictureCase> writerCases(bool gra) {
  std::vector<PictureCase> cases;
  for (pictures::PictureFiles& p : pictures::writerPictures()) {
    if (p.isGra() == gra)
      cases.push_back(
          {p.name, std::move(p.picture), std::move(p.palette), std::move(p.fourthPlane)});
  }
  return cases;
}

}  // namespace

std::uint32_t Random::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

Bytes Random::bytes(std::size_t count) {
  Bytes bytes(count);
  for (std::uint8_t& b : bytes) b = byte();
  return bytes;
}

std::vector<PictureCase> randomGraCases(int count, std::uint64_t seed) {
  Random random(seed);
  std::vector<PictureCase> cases;
  for (int i = 0; i < count; ++i) cases.push_back(randomGra(random, i));
  return cases;
}

std::vector<PictureCase> randomGraCasesWithCompanions(int count, std::uint64_t seed) {
  Random random(seed);
  std::vector<PictureCase> cases;
  for (int i = 0; i < count; ++i) {
    PictureCase c = randomGra(random, i);
    if (random.percent(70)) c.palette = companion(random, kGraPaletteFileSize);
    if (random.percent(70)) c.fourthPlane = companion(random, kGraFourthPlaneSize);
    c.label += ", palette file " + (c.palette ? std::to_string(c.palette->size()) : "none") +
               ", fourth-plane file " +
               (c.fourthPlane ? std::to_string(c.fourthPlane->size()) : "none");
    cases.push_back(std::move(c));
  }
  return cases;
}

std::vector<PictureCase> randomQCases(int count, std::uint64_t seed) {
  Random random(seed);
  std::vector<PictureCase> cases;
  for (int i = 0; i < count; ++i) cases.push_back(randomQ(random, i));
  return cases;
}

std::vector<PictureCase> truncated(const std::vector<PictureCase>& cases, std::uint64_t seed) {
  Random random(seed);
  std::vector<PictureCase> cut;
  for (const PictureCase& c : cases) {
    PictureCase shorter = c;
    const auto size = static_cast<int>(c.file.size());
    // Within the header now and then, else anywhere.
    const int length =
        random.percent(25) ? random.below(std::min(size, 700) + 1) : random.below(size + 1);
    shorter.file.resize(static_cast<std::size_t>(length));
    shorter.label += ", cut to " + std::to_string(length) + " bytes";
    cut.push_back(std::move(shorter));
  }
  return cut;
}

std::vector<PictureCase> graWriterCases() {
  return writerCases(true);
}

std::vector<PictureCase> qWriterCases() {
  return writerCases(false);
}
