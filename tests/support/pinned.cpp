// SPDX-License-Identifier: MIT
#include "tests/support/pinned.h"

#include <array>
#include <fstream>
#include <sstream>

namespace pinned {
namespace {

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotateRight(std::uint32_t v, int n) {
  return v >> n | v << (32 - n);
}

void compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
           std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 =
        rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ w[i - 15] >> 3;
    const std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ w[i - 2] >> 10;
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::array<std::uint32_t, 8> v = state;
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = rotateRight(v[4], 6) ^ rotateRight(v[4], 11) ^ rotateRight(v[4], 25);
    const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + w[i];
    const std::uint32_t s0 = rotateRight(v[0], 2) ^ rotateRight(v[0], 13) ^ rotateRight(v[0], 22);
    const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    for (int k = 7; k > 0; --k) v[k] = v[k - 1];
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (int k = 0; k < 8; ++k) state[k] += v[k];
}

std::string rgbHash(const Bytes& indices, const Bytes& paletteRgb) {
  Bytes rgb;
  rgb.reserve(indices.size() * 3);
  for (std::uint8_t index : indices) {
    for (int c = 0; c < 3; ++c) rgb.push_back(paletteRgb[3u * (index & 15u) + c]);
  }
  return sha256(rgb);
}

}  // namespace

std::string sha256(const std::uint8_t* data, std::size_t size) {
  std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::size_t at = 0;
  for (; size - at >= 64; at += 64) compress(state, data + at);
  std::uint8_t tail[128] = {};
  const std::size_t rest = size - at;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = data[at + i];
  tail[rest] = 0x80;
  const std::size_t tailSize = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  compress(state, tail);
  if (tailSize == 128) compress(state, tail + 64);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : state) {
    for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(kDigits[word >> shift & 15]);
  }
  return hex;
}

std::string Entry::line() const {
  if (!decoded()) return name + "  result  " + result;
  return name + "  " + indices + "  " + palette + "  " + comment + "  " + rgb;
}

Entry decoded(const std::string& name, const Bytes& indices, const Bytes& paletteRgb,
              const std::string& comment) {
  const Bytes commentBytes(comment.begin(), comment.end());
  return {name,
          "Ok",
          sha256(indices),
          sha256(paletteRgb),
          sha256(commentBytes),
          rgbHash(indices, paletteRgb)};
}

Entry fromBlocks(const std::string& name, const Bytes& info, const Bytes& pixels,
                 const Bytes& textBlock) {
  constexpr std::size_t kHeader = 40, kWidth = 640, kHeight = 400, kRow = kWidth / 2;
  if (info.size() < kHeader + 64 || pixels.size() < kRow * kHeight) {
    return refused(name, "blocks of " + std::to_string(info.size()) + " and " +
                             std::to_string(pixels.size()) + " bytes");
  }
  Bytes palette;
  for (std::size_t k = 0; k < 16; ++k) {
    const std::uint8_t* quad = &info[kHeader + 4 * k];  // blue, green, red, 0
    palette.insert(palette.end(), {quad[2], quad[1], quad[0]});
  }
  Bytes indices;
  indices.reserve(kWidth * kHeight);
  for (std::size_t y = 0; y < kHeight; ++y) {
    const std::uint8_t* row = &pixels[(kHeight - 1 - y) * kRow];
    for (std::size_t x = 0; x < kWidth; ++x)
      indices.push_back(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4);
  }
  return decoded(name, indices, palette, commentOf(textBlock));
}

Entry refused(const std::string& name, const std::string& result) {
  return {name, result, {}, {}, {}, {}};
}

std::string commentOf(const Bytes& textBlock) {
  std::string comment;
  for (std::uint8_t b : textBlock) {
    if (b == 0) break;
    comment.push_back(static_cast<char>(b));
  }
  while (!comment.empty() && comment.back() == ' ') comment.pop_back();
  return comment;
}

const Entry* File::find(const std::string& name) const {
  for (const Entry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

File read(const std::string& path) {
  File file;
  std::ifstream in(path);
  if (!in) {
    file.error = path + ": cannot open the pinned outputs";
    return file;
  }
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    if (text.empty() || text[0] == '#') continue;
    std::istringstream fields(text);
    std::vector<std::string> f;
    for (std::string field; fields >> field;) f.push_back(field);
    if (f.size() == 3 && f[1] == "result") {
      file.entries.push_back(refused(f[0], f[2]));
    } else if (f.size() == 5) {
      file.entries.push_back({f[0], "Ok", f[1], f[2], f[3], f[4]});
    } else {
      file.error = path + ":" + std::to_string(number) + ": neither 5 fields nor NAME result CODE";
      return file;
    }
  }
  if (file.entries.empty()) file.error = path + ": no pictures in the pinned outputs";
  return file;
}

std::string compare(const File& file, const Entry& got) {
  const Entry* want = file.find(got.name);
  if (!want) return got.name + ": not in the pinned outputs";
  if (want->decoded() != got.decoded())
    return got.name + ": " + (got.decoded() ? "decodes" : "refused (" + got.result + ")") +
           ", pinned as " + (want->decoded() ? "decoding" : want->result);
  if (!got.decoded()) {
    return got.result == "refused" || got.result == want->result
               ? ""
               : got.name + ": result " + got.result + ", pinned " + want->result;
  }
  std::string differences;
  const auto field = [&](const char* what, const std::string& a, const std::string& b) {
    if (!a.empty() && a != b) differences += std::string(differences.empty() ? "" : ", ") + what;
  };
  field("indices", got.indices, want->indices);
  field("palette", got.palette, want->palette);
  field("comment", got.comment, want->comment);
  field("colours of the pixels", got.rgb, want->rgb);
  return differences.empty() ? "" : got.name + ": other " + differences + " than pinned";
}

std::string header() {
  return "# What every picture of the test-picture set decodes to (tests/support/pinned.h).\n"
         "# Written by `make pinned`; a change to decoding updates it in the same commit.\n"
         "# name  indices-sha256  palette-sha256  comment-sha256  rgb-sha256\n"
         "# name  result  Code      (Unsupported: IsSupported answered 0)\n";
}

}  // namespace pinned
