// SPDX-License-Identifier: MIT
// The GRA writer. The file layout is told at the top of gra/gra_loader.cpp; this file follows
// it from the other side: it keeps the same three plane lines a reader keeps, and for each
// line pair writes the shortest changes that turn them into the pair's planes.
#include "gra/writer/gra_writer.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

namespace {

// DefaultPalette in 4-bit components: every component of it is a multiple of 17.
GraColors defaultColors() {
  GraColors colors{};
  for (int k = 0; k < kPaletteEntries; ++k) {
    colors[k] = Color4{static_cast<std::uint8_t>(DefaultPalette[k].red / 17),
                       static_cast<std::uint8_t>(DefaultPalette[k].green / 17),
                       static_cast<std::uint8_t>(DefaultPalette[k].blue / 17)};
  }
  return colors;
}

constexpr int kMaxColorValue = 15;
constexpr int kMaxHeaderField = 255;
constexpr std::uint8_t kInvertAll = 0xFF;

using PlaneLine = std::array<std::uint8_t, kPlaneLineBytes>;
using PairPlanes = std::array<PlaneLine, kGraCodedPlanes>;

// The chunk coder: the shortest chunk that XORs a line of changes into a plane line.
class ChunkCoder {
 public:
  ChunkCoder(const GraEscapes& escapes, const GraWriteOptions& options)
      : escapes_(escapes),
        skipOk_(options.skipCodes),
        invertOk_(options.invertRuns && escapes.invertCode != escapes.skipCode),
        xorOk_(options.xorRuns && escapes.xorRunCode != escapes.skipCode &&
               escapes.xorRunCode != escapes.invertCode) {}

  // The chunk length (starting offset included) that changes needs; 0 when nothing changes.
  int length(const std::uint8_t* changes, int count) { return plan(changes, count); }

  // Appends the length byte and the chunk.
  void write(const std::uint8_t* changes, int count, std::vector<std::uint8_t>& out,
             GraWriteReport& report) {
    int chunkLength = plan(changes, count);
    out.push_back(static_cast<std::uint8_t>(chunkLength));
    if (chunkLength == 0) return;
    out.push_back(static_cast<std::uint8_t>(start_));
    for (int i = start_; i < end_; i += steps_[i].count) {
      const Step& step = steps_[i];
      const std::uint8_t count8 = static_cast<std::uint8_t>(step.count);
      switch (step.kind) {
        case Kind::Plain:
          if (const std::uint8_t* escape = escapeFor(changes[i])) {
            out.insert(out.end(), {*escape, *escape});
            ++report.doubledEscapes;
          } else {
            out.push_back(changes[i]);
            ++report.plainBytes;
          }
          break;
        case Kind::Skip:
          out.insert(out.end(), {escapes_.skipCode, count8});
          ++report.skips;
          break;
        case Kind::Invert:
          out.insert(out.end(), {escapes_.invertCode, count8});
          ++report.invertRuns;
          break;
        case Kind::XorRun:
          out.insert(out.end(), {escapes_.xorRunCode, changes[i], count8});
          ++report.xorRuns;
          break;
      }
    }
  }

 private:
  enum class Kind { Plain, Skip, Invert, XorRun };
  struct Step {
    Kind kind;
    int count;
  };

  // The escape byte whose doubling XORs a byte with value, or null when value is plain.
  const std::uint8_t* escapeFor(std::uint8_t value) const {
    if (value == escapes_.skipCode) return &escapes_.skipCode;
    if (value == escapes_.invertCode) return &escapes_.invertCode;
    if (value == escapes_.xorRunCode) return &escapes_.xorRunCode;
    return nullptr;
  }

  // Fills steps_ from start_ to end_ with the cheapest codes and answers the chunk length.
  int plan(const std::uint8_t* changes, int count) {
    start_ = 0;
    while (start_ < count && changes[start_] == 0) ++start_;
    end_ = count;
    while (end_ > start_ && changes[end_ - 1] == 0) --end_;
    if (start_ == end_) return 0;

    std::array<int, kPlaneLineBytes + 1> cost{};  // bytes from position i to the end
    std::array<int, kPlaneLineBytes + 1> run{};   // equal bytes from position i on
    cost[end_] = 0;
    run[end_] = 0;
    for (int i = end_ - 1; i >= start_; --i) {
      const std::uint8_t value = changes[i];
      run[i] = (i + 1 < end_ && changes[i + 1] == value) ? run[i + 1] + 1 : 1;
      cost[i] = (escapeFor(value) ? 2 : 1) + cost[i + 1];
      steps_[i] = {Kind::Plain, 1};
      auto consider = [&](Kind kind, int codeBytes, int forbiddenCount) {
        for (int k = 1; k <= run[i]; ++k) {
          if (k == forbiddenCount) continue;
          if (codeBytes + cost[i + k] < cost[i]) {
            cost[i] = codeBytes + cost[i + k];
            steps_[i] = {kind, k};
          }
        }
      };
      // A count equal to its own escape byte would read as the doubled escape.
      if (value == 0 && skipOk_) consider(Kind::Skip, 2, escapes_.skipCode);
      if (value == kInvertAll && invertOk_) consider(Kind::Invert, 2, escapes_.invertCode);
      if (xorOk_ && value != escapes_.xorRunCode) consider(Kind::XorRun, 3, -1);
    }
    return 1 + cost[start_];
  }

  GraEscapes escapes_;
  bool skipOk_;
  bool invertOk_;
  bool xorOk_;
  int start_ = 0;
  int end_ = 0;
  std::array<Step, kPlaneLineBytes> steps_{};
};

// The plane lines of every line pair of the window, in the window's coordinates: byte j of
// pair p, plane k covers pixels 8 x left + 4j to + 3 of rows 2p and 2p + 1. Bytes from
// lineBytes on stay 0.
std::vector<PairPlanes> planeLinesOf(const GraPicture& picture, const GraWindow& window,
                                     int lineBytes) {
  std::vector<PairPlanes> pairs(static_cast<std::size_t>(std::max(window.bottom - window.top, 0)));
  for (std::size_t n = 0; n < pairs.size(); ++n) {
    const int pair = window.top + static_cast<int>(n);
    const std::uint8_t* upperLine = picture.pixels.data() +
                                    static_cast<std::size_t>(2 * pair) * kPictureWidth +
                                    window.left * kGraColumnPixels;
    for (int plane = 0; plane < kGraCodedPlanes; ++plane) {
      packPlaneLine(plane, lineBytes, upperLine, pairs[n][plane].data());
    }
  }
  return pairs;
}

PlaneLine changesBetween(const PlaneLine& from, const PlaneLine& to, int lineBytes) {
  PlaneLine changes{};
  for (int j = 0; j < lineBytes; ++j) changes[j] = from[j] ^ to[j];
  return changes;
}

// A plane line as a reader has it after the chunk: the bytes of the window from the target,
// the rest from where the plane started.
PlaneLine afterChunk(const PlaneLine& start, const PlaneLine& target, int lineBytes) {
  PlaneLine line = start;
  std::copy(target.begin(), target.begin() + lineBytes, line.begin());
  return line;
}

// Escape bytes the picture's changes rarely need: the values seen least often in the worst
// line, then least often overall.
GraEscapes chooseEscapes(const std::vector<PairPlanes>& pairs, int lineBytes) {
  std::array<int, 256> worstLine{};
  std::array<long, 256> total{};
  auto count = [&](const PlaneLine& a, const PlaneLine& b) {
    std::array<int, 256> line{};
    for (int j = 0; j < lineBytes; ++j) ++line[a[j] ^ b[j]];
    for (int v = 0; v < 256; ++v) {
      worstLine[v] = std::max(worstLine[v], line[v]);
      total[v] += line[v];
    }
  };
  PairPlanes previous{};
  for (const PairPlanes& planes : pairs) {
    for (int k = 0; k < kGraCodedPlanes; ++k) count(previous[k], planes[k]);
    count(planes[0], planes[1]);
    count(planes[0], planes[2]);
    count(planes[1], planes[2]);
    previous = planes;
  }
  std::array<int, 256> order{};
  for (int v = 0; v < 256; ++v) order[v] = v;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return worstLine[a] != worstLine[b] ? worstLine[a] < worstLine[b] : total[a] < total[b];
  });
  return GraEscapes{static_cast<std::uint8_t>(order[0]), static_cast<std::uint8_t>(order[1]),
                    static_cast<std::uint8_t>(order[2])};
}

// Why a picture could not be coded with a set of escape bytes.
struct NoFit {
  int pair;
  int plane;
};

// One choice of starting point for a plane: its line and its chunk length.
struct Candidate {
  GraPlaneSource source;
  const PlaneLine* start;
  PlaneLine changes;
  int length;
};

Candidate pick(ChunkCoder& coder, GraPlaneSource wanted,
               std::initializer_list<std::pair<GraPlaneSource, const PlaneLine*>> starts,
               const PlaneLine& target, int lineBytes) {
  std::optional<Candidate> best;
  for (const auto& [source, start] : starts) {
    if (wanted != GraPlaneSource::Cheapest && wanted != source) continue;
    Candidate candidate{source, start, changesBetween(*start, target, lineBytes), 0};
    candidate.length = coder.length(candidate.changes.data(), lineBytes);
    if (!best || candidate.length < best->length) best = candidate;
  }
  return *best;
}

std::uint8_t flagByte(GraPlaneSource plane1, GraPlaneSource plane2, int pair, bool vary) {
  static constexpr std::uint8_t kPlane1FromPlane0[] = {0x00, 0x08, 0x0C};
  static constexpr std::uint8_t kPlane2FromPlane1[] = {0x00, 0x30};
  static constexpr std::uint8_t kFreeBits[] = {0x00, 0x01, 0x02, 0x40, 0x80, 0xC3};
  const int n = vary ? pair : 0;
  std::uint8_t flags = plane1 == GraPlaneSource::Own ? kGraPlane1FromOwn : kPlane1FromPlane0[n % 3];
  flags |= plane2 == GraPlaneSource::Own      ? kGraPlane2FromOwn
           : plane2 == GraPlaneSource::Plane0 ? kGraPlane2FromPlane0
                                              : kPlane2FromPlane1[n % 2];
  flags |= kFreeBits[n % 6];
  return flags != kGraRepeatPair ? flags : 0x01;
}

// Codes the line pairs of the window with the given escape bytes.
std::optional<NoFit> codePairs(const std::vector<PairPlanes>& pairs, int lineBytes,
                               const GraEscapes& escapes, const GraWriteOptions& options,
                               std::vector<std::uint8_t>& out, GraWriteReport& report) {
  ChunkCoder coder(escapes, options);
  PairPlanes state{};  // the plane lines as a reader holds them
  for (std::size_t n = 0; n < pairs.size(); ++n) {
    const PairPlanes& target = pairs[n];
    bool unchanged = true;
    for (int k = 0; k < kGraCodedPlanes; ++k) {
      unchanged = unchanged &&
                  std::equal(state[k].begin(), state[k].begin() + lineBytes, target[k].begin());
    }
    if (unchanged && options.repeatPairs) {
      out.push_back(kGraRepeatPair);
      ++report.repeatPairs;
      continue;
    }

    PairPlanes next;
    Candidate plane0 =
        pick(coder, GraPlaneSource::Own, {{GraPlaneSource::Own, &state[0]}}, target[0], lineBytes);
    next[0] = afterChunk(state[0], target[0], lineBytes);
    Candidate plane1 = pick(coder, options.plane1,
                            {{GraPlaneSource::Own, &state[1]}, {GraPlaneSource::Plane0, &next[0]}},
                            target[1], lineBytes);
    next[1] = afterChunk(*plane1.start, target[1], lineBytes);
    Candidate plane2 = pick(coder, options.plane2,
                            {{GraPlaneSource::Own, &state[2]},
                             {GraPlaneSource::Plane0, &next[0]},
                             {GraPlaneSource::Plane1, &next[1]}},
                            target[2], lineBytes);
    next[2] = afterChunk(*plane2.start, target[2], lineBytes);

    const Candidate* chosen[] = {&plane0, &plane1, &plane2};
    for (int k = 0; k < kGraCodedPlanes; ++k) {
      if (chosen[k]->length > kGraMaxChunkLength) return NoFit{static_cast<int>(n), k};
    }
    out.push_back(
        flagByte(plane1.source, plane2.source, static_cast<int>(n), options.varyFlagBits));
    for (const Candidate* candidate : chosen) {
      coder.write(candidate->changes.data(), lineBytes, out, report);
    }
    ++report.codedPairs;
    ++(plane1.source == GraPlaneSource::Own ? report.plane1Own : report.plane1FromPlane0);
    ++(plane2.source == GraPlaneSource::Own      ? report.plane2Own
       : plane2.source == GraPlaneSource::Plane0 ? report.plane2FromPlane0
                                                 : report.plane2FromPlane1);
    state = next;
  }
  return std::nullopt;
}

void check(bool condition, const std::string& message) {
  if (!condition) throw WriteError(message);
}

void checkOptions(const GraPicture& picture, const GraWriteOptions& options) {
  for (std::uint8_t value : picture.pixels) {
    check(value <= kMaxColorValue, "pixel value " + std::to_string(value) + " is above 15");
  }
  for (const Color4& c : picture.colors) {
    check(c.red <= kMaxColorValue && c.green <= kMaxColorValue && c.blue <= kMaxColorValue,
          "colour components must be 0 to 15");
  }
  check(options.headerBlocks >= 0 && options.headerBlocks <= kMaxHeaderField,
        "header blocks must be 0 to 255");
  if (options.window) {
    const GraWindow& w = *options.window;
    for (int field : {w.left, w.right, w.top, w.bottom}) {
      check(field >= 0 && field <= kMaxHeaderField, "window fields must be 0 to 255");
    }
  }
  check(options.plane1 != GraPlaneSource::Plane1, "plane 1 cannot start from itself");
}

GraHeader headerFor(const GraEscapes& escapes, const GraWriteOptions& options) {
  GraHeader header{};
  header.headerBlocks = static_cast<std::uint8_t>(options.headerBlocks);
  if (options.window) {
    header.windowLeft = static_cast<std::uint8_t>(options.window->left);
    header.windowRight = static_cast<std::uint8_t>(options.window->right);
    header.windowTop = static_cast<std::uint8_t>(options.window->top);
    header.windowBottom = static_cast<std::uint8_t>(options.window->bottom);
    header.modeFlags = kGraWindowLayout;
  }
  header.skipCode = escapes.skipCode;
  header.invertCode = escapes.invertCode;
  header.xorRunCode = escapes.xorRunCode;
  std::copy(std::begin(kGraSignature), std::end(kGraSignature), header.signature);
  return header;
}

std::vector<std::uint8_t> fourthPlaneOf(const GraPicture& picture) {
  std::vector<std::uint8_t> rows(kGraFourthPlaneSize);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      if ((picture.at(x, y) >> kGraFourthPlaneBit) & 1) {
        rows[static_cast<std::size_t>(y) * kGraFourthPlaneRowBytes + x / 8] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return rows;
}

std::vector<std::uint8_t> paletteOf(const GraPicture& picture) {
  std::vector<std::uint8_t> bytes;
  for (const Color4& c : picture.colors) bytes.insert(bytes.end(), {c.red, c.green, c.blue});
  return bytes;
}

}  // namespace

const GraColors kGraDefaultColors = defaultColors();

GraFiles writeGra(const GraPicture& picture, const GraWriteOptions& options) {
  checkOptions(picture, options);
  GraHeader probe{};
  if (options.window) probe = headerFor({}, options);
  const GraWindow window = graWindowOf(probe);
  const int lineBytes = std::max(window.right - window.left, 0) * kGraPlaneBytesPerColumn;
  const std::vector<PairPlanes> pairs = planeLinesOf(picture, window, lineBytes);

  // Escape bytes: the ones asked for, else three rarely needed ones, else the rarest alone
  // (with one escape byte only skips remain as run codes, but fewer plain bytes need it).
  std::vector<GraEscapes> tries;
  if (options.escapes) {
    tries.push_back(*options.escapes);
  } else {
    GraEscapes rare = chooseEscapes(pairs, lineBytes);
    tries.push_back(rare);
    tries.push_back({rare.skipCode, rare.skipCode, rare.skipCode});
  }

  GraFiles files;
  std::optional<NoFit> failure;
  for (const GraEscapes& escapes : tries) {
    const GraHeader header = headerFor(escapes, options);
    files.picture.clear();
    files.report = {};
    const auto* headerBytes = reinterpret_cast<const std::uint8_t*>(&header);
    files.picture.assign(headerBytes, headerBytes + sizeof header);
    for (int i = kGraHeaderBlockSize; i < options.headerBlocks * kGraHeaderBlockSize; ++i) {
      files.picture.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    }
    failure = codePairs(pairs, lineBytes, escapes, options, files.picture, files.report);
    if (!failure) {
      files.report.escapes = escapes;
      break;
    }
  }
  check(!failure, failure
                      ? "the changes of line pair " + std::to_string(window.top + failure->pair) +
                            ", plane " + std::to_string(failure->plane) + " do not fit in one chunk"
                      : std::string());
  if (options.writePalette) files.palette = paletteOf(picture);
  if (options.writeFourthPlane) files.fourthPlane = fourthPlaneOf(picture);
  return files;
}
