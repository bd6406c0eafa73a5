// SPDX-License-Identifier: MIT
// Finding code bytes among plain bytes, and the other steps the decoders take on a line.
//
// Both formats code their runs with a few code bytes chosen per picture (GRA) or per chunk (Q)
// and store every other byte as it is. In busy pictures such plain bytes come in long
// stretches, and a decoder handles a whole stretch at once when it can find where the next
// code byte is: CodeScan<WidePath::Portable> looks at a machine word of bytes at a time,
// CodeScan<WidePath::Sse2> at a 16-byte block in an SSE2 register, CodeScan<WidePath::Avx2>
// at a 32-byte block in an AVX2 register (the paths of wide_paths.h). On the same path they
// XOR the stretches and the runs into a line, as both formats apply them.
//
// A decoder picks the class once per chunk and runs its whole loop with it: a test of the
// path at every stretch costs more than the stretch itself in a busy picture. The steps of the
// wide classes are compiled for their instruction set alone, and inline only into code
// compiled for it: a decoder runs its loop on a wide path in a function of its own marked
// WITH_SSE2_STEPS or WITH_AVX2_STEPS and [[gnu::flatten]], which takes them all in (the 32-bit
// Windows build assumes no SSE2 anywhere else).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "framework/wide_paths.h"

#if defined(WIDE_PATHS_AVX2)
#include <immintrin.h>
#elif defined(WIDE_PATHS_SSE2)
#include <emmintrin.h>
#endif

// How far past a stretch the wide steps may read its bytes, and read and write its line.
constexpr int kCodeScanRoom = 31;

template <WidePath kPath>
class CodeScan {
#if defined(WIDE_PATHS_AVX2)
  static constexpr bool kAvx2 = kPath == WidePath::Avx2;
#else
  static constexpr bool kAvx2 = false;  // the AVX2 path takes the SSE2 steps
#endif
  static constexpr bool kSse2 = kPath != WidePath::Portable && !kAvx2;

 public:
  // Up to four code bytes; repeat one to give fewer.
  CodeScan(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
      : codes_{a, b, c, d}, spread_{spreadOf(a), spreadOf(b), spreadOf(c), spreadOf(d)} {}

  // The position of the first code byte in bytes[from] to bytes[to - 1], or to when there is
  // none. Reads nothing outside that range.
  int find(const std::uint8_t* bytes, int from, int to) const {
#if defined(WIDE_PATHS_SSE2)
    if constexpr (kSse2 || kAvx2) return findByBytes(bytes, findBy16(bytes, from, to), to);
#endif
    return findByBytes(bytes, findByWords<std::uintptr_t>(bytes, from, to), to);
  }

  // XORs the plain bytes from bytes[from] on into out, until the first code byte or to, and
  // returns where it stopped (as find does). The wide paths take the bytes in whole blocks,
  // scanning and applying in one pass: they read up to kCodeScanRoom bytes past bytes[to - 1],
  // and read and write back unchanged up to as many past the stretch in out.
  int xorUntilCode(const std::uint8_t* bytes, int from, int to, std::uint8_t* out) const {
#if defined(WIDE_PATHS_SSE2)
    if constexpr (kSse2) return xorBy16(bytes, from, to, out);
#endif
#if defined(WIDE_PATHS_AVX2)
    if constexpr (kAvx2) return xorBy32(bytes, from, to, out);
#endif
    const int stop = find(bytes, from, to);
    const int count = stop - from;
    int i = 0;
    for (; i + 4 <= count; i += 4) {
      std::uint32_t word, other;
      std::memcpy(&word, out + i, 4);
      std::memcpy(&other, bytes + from + i, 4);
      word ^= other;
      std::memcpy(out + i, &word, 4);
    }
    for (; i < count; ++i) out[i] ^= bytes[from + i];
    return stop;
  }

  // XORs count bytes at out with value: the runs of both formats, which are mostly short. A
  // word at a time on every path: a 16-byte block would load bytes that the steps before have
  // just stored, and wait for them.
  void xorRun(std::uint8_t* out, std::uint8_t value, int count) const {
    using Word = std::uintptr_t;
    const Word spread = value * (~Word{0} / 0xFF);
    int i = 0;
    for (; i + static_cast<int>(sizeof(Word)) <= count; i += sizeof(Word)) {
      Word word;
      std::memcpy(&word, out + i, sizeof word);
      word ^= spread;
      std::memcpy(out + i, &word, sizeof word);
    }
    for (; i < count; ++i) out[i] ^= value;
  }

  // The steps of a decoder that builds each line anew from a reference line rather than
  // changing it where it lies: each writes out[i] = ref[i] ^ x over its own bytes and loads
  // nothing that a step before has stored (a load of bytes just stored at another offset waits
  // for the stores). They write whole words or blocks of 16 or 32 bytes, so up to
  // kCodeScanRoom bytes past their own, which the steps after them overwrite; they read as far past
  // in ref, and xorUntilCodeFrom as far past bytes[to - 1]. out and ref do not overlap.
  //
  // out[i] = ref[i] ^ value for i < count (nothing when count is 0 or less).
  void xorRunFrom(const std::uint8_t* ref, std::uint8_t value, int count, std::uint8_t* out) const {
#if defined(WIDE_PATHS_SSE2)
    if constexpr (kSse2) return xorRunFromBy16(ref, value, count, out);
#endif
#if defined(WIDE_PATHS_AVX2)
    if constexpr (kAvx2) return xorRunFromBy32(ref, value, count, out);
#endif
    using Word = std::uintptr_t;
    const Word spread = value * (~Word{0} / 0xFF);
    for (int i = 0; i < count; i += sizeof(Word)) {
      Word word;
      std::memcpy(&word, ref + i, sizeof word);
      word ^= spread;
      std::memcpy(out + i, &word, sizeof word);
    }
  }

  // xorUntilCodeFrom a byte at a time, for stretches with no room after them: reads and writes
  // nothing past the stretch.
  int xorUntilCodeByBytes(const std::uint8_t* bytes, int from, int to, const std::uint8_t* ref,
                          std::uint8_t* out) const {
    int at = from;
    for (; at < to && !isCode(bytes[at]); ++at) out[at - from] = ref[at - from] ^ bytes[at];
    return at;
  }

  // out[i] = ref[i] ^ bytes[from + i] for the plain bytes from bytes[from] on, until the first
  // code byte or to; answers where it stopped, as find does.
  int xorUntilCodeFrom(const std::uint8_t* bytes, int from, int to, const std::uint8_t* ref,
                       std::uint8_t* out) const {
#if defined(WIDE_PATHS_SSE2)
    if constexpr (kSse2) return xorFromBy16(bytes, from, to, ref, out);
#endif
#if defined(WIDE_PATHS_AVX2)
    if constexpr (kAvx2) return xorFromBy32(bytes, from, to, ref, out);
#endif
    using Word = std::uintptr_t;
    const int stop = find(bytes, from, to);
    for (int i = 0; i < stop - from; i += sizeof(Word)) {
      Word word, other;
      std::memcpy(&word, ref + i, sizeof word);
      std::memcpy(&other, bytes + from + i, sizeof other);
      word ^= other;
      std::memcpy(out + i, &word, sizeof word);
    }
    return stop;
  }

  bool isCode(std::uint8_t b) const {
    return b == codes_[0] || b == codes_[1] || b == codes_[2] || b == codes_[3];
  }

  // The steps of find, public so that the tests can hold each of them against the plain loop.
  int findByBytes(const std::uint8_t* bytes, int from, int to) const {
    for (int at = from; at < to; ++at) {
      if (isCode(bytes[at])) return at;
    }
    return to;
  }

  // Whole words: the first code byte of the first word that holds one, or where the whole
  // words end. A byte equal to a code is a zero byte of word ^ code; the lowest flag of the
  // zero-byte test (v - 0x01..01) & ~v & 0x80..80 is always a true zero byte, and the lowest
  // byte of a little-endian word comes first in memory.
  template <class Word>
  int findByWords(const std::uint8_t* bytes, int from, int to) const {
    constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x01 in every byte
    constexpr Word kHighBits = kOnes * 0x80;
    Word spread[4];
    for (int k = 0; k < 4; ++k) spread[k] = kOnes * codes_[k];
    int at = from;
    for (; to - at >= static_cast<int>(sizeof(Word)); at += sizeof(Word)) {
      Word word;
      std::memcpy(&word, bytes + at, sizeof word);
      Word zeroBytes = 0;
      for (Word code : spread) {
        const Word v = word ^ code;
        zeroBytes |= (v - kOnes) & ~v & kHighBits;
      }
      if (zeroBytes) return at + std::countr_zero(zeroBytes) / 8;
    }
    return at;
  }

#if defined(WIDE_PATHS_SSE2)
  // The same with 16 bytes in an SSE2 register.
  WITH_SSE2_STEPS int findBy16(const std::uint8_t* bytes, int from, int to) const {
    const Codes16 codes = codes16();
    int at = from;
    for (; to - at >= 16; at += 16) {
      const unsigned found = codes.match(load16(bytes + at));
      if (found) return at + std::countr_zero(found);
    }
    return at;
  }

 private:
  // xorUntilCode in 16-byte blocks.
  WITH_SSE2_STEPS int xorBy16(const std::uint8_t* bytes, int from, int to,
                              std::uint8_t* out) const {
    const Codes16 codes = codes16();
    for (int at = from; at < to; at += 16, out += 16) {
      __m128i v = load16(bytes + at);
      // Where the stretch stops within this block, if it does: at a code byte or at to.
      unsigned stop = codes.match(v);
      if (to - at < 16) stop |= ~0u << (to - at);
      if (stop) {
        // Only the bytes before the stop: the others XOR with 0.
        const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const auto count = static_cast<char>(std::countr_zero(stop));
        v = _mm_and_si128(v, _mm_cmplt_epi8(index, _mm_set1_epi8(count)));
      }
      store16(out, _mm_xor_si128(load16(out), v));
      if (stop) return at + std::countr_zero(stop);
    }
    return to;
  }

  // xorUntilCodeFrom in 16-byte blocks, scanning and writing in one pass.
  WITH_SSE2_STEPS int xorFromBy16(const std::uint8_t* bytes, int from, int to,
                                  const std::uint8_t* ref, std::uint8_t* out) const {
    const Codes16 codes = codes16();
    for (int at = from; at < to; at += 16, ref += 16, out += 16) {
      const __m128i v = load16(bytes + at);
      store16(out, _mm_xor_si128(load16(ref), v));
      unsigned stop = codes.match(v);
      if (to - at < 16) stop |= ~0u << (to - at);
      if (stop) return at + std::countr_zero(stop);
    }
    return to;
  }

  WITH_SSE2_STEPS void xorRunFromBy16(const std::uint8_t* ref, std::uint8_t value, int count,
                                      std::uint8_t* out) const {
    const __m128i spread = set1(spreadOf(value));
    for (int i = 0; i < count; i += 16) store16(out + i, _mm_xor_si128(load16(ref + i), spread));
  }

#if defined(WIDE_PATHS_AVX2)
  // xorUntilCode, xorUntilCodeFrom and xorRunFrom in 32-byte blocks.
  WITH_AVX2_STEPS int xorBy32(const std::uint8_t* bytes, int from, int to,
                              std::uint8_t* out) const {
    const Codes32 codes = codes32();
    for (int at = from; at < to; at += 32, out += 32) {
      __m256i v = load32(bytes + at);
      std::uint32_t stop = codes.match(v);
      if (to - at < 32) stop |= ~0u << (to - at);
      if (stop) {
        const __m256i index =
            _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                             20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
        const auto count = static_cast<char>(std::countr_zero(stop));
        v = _mm256_and_si256(v, _mm256_cmpgt_epi8(_mm256_set1_epi8(count), index));
      }
      store32(out, _mm256_xor_si256(load32(out), v));
      if (stop) return at + std::countr_zero(stop);
    }
    return to;
  }

  WITH_AVX2_STEPS int xorFromBy32(const std::uint8_t* bytes, int from, int to,
                                  const std::uint8_t* ref, std::uint8_t* out) const {
    const Codes32 codes = codes32();
    for (int at = from; at < to; at += 32, ref += 32, out += 32) {
      const __m256i v = load32(bytes + at);
      store32(out, _mm256_xor_si256(load32(ref), v));
      std::uint32_t stop = codes.match(v);
      if (to - at < 32) stop |= ~0u << (to - at);
      if (stop) return at + std::countr_zero(stop);
    }
    return to;
  }

  WITH_AVX2_STEPS void xorRunFromBy32(const std::uint8_t* ref, std::uint8_t value, int count,
                                      std::uint8_t* out) const {
    const __m256i spread = set8(spreadOf(value));
    for (int i = 0; i < count; i += 32) {
      store32(out + i, _mm256_xor_si256(load32(ref + i), spread));
    }
  }

  struct Codes32 {
    __m256i c0, c1, c2, c3;
    WITH_AVX2_STEPS std::uint32_t match(__m256i v) const {
      const __m256i equal =
          _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, c0), _mm256_cmpeq_epi8(v, c1)),
                          _mm256_or_si256(_mm256_cmpeq_epi8(v, c2), _mm256_cmpeq_epi8(v, c3)));
      return static_cast<std::uint32_t>(_mm256_movemask_epi8(equal));
    }
  };
  WITH_AVX2_STEPS Codes32 codes32() const {
    return {set8(spread_[0]), set8(spread_[1]), set8(spread_[2]), set8(spread_[3])};
  }
  WITH_AVX2_STEPS static __m256i set8(std::uint32_t word) {
    return _mm256_set1_epi32(static_cast<int>(word));
  }
  WITH_AVX2_STEPS static __m256i load32(const std::uint8_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  }
  WITH_AVX2_STEPS static void store32(std::uint8_t* at, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v);
  }
#endif  // WIDE_PATHS_AVX2

  // The four codes in every byte of a register each, and the test of a block against them.
  struct Codes16 {
    __m128i c0, c1, c2, c3;
    // One bit per byte of v, set where the byte is a code.
    WITH_SSE2_STEPS unsigned match(__m128i v) const {
      const __m128i equal =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, c0), _mm_cmpeq_epi8(v, c1)),
                       _mm_or_si128(_mm_cmpeq_epi8(v, c2), _mm_cmpeq_epi8(v, c3)));
      return static_cast<unsigned>(_mm_movemask_epi8(equal));
    }
  };
  // From 32-bit words: a compiler may build a vector of one byte value by storing the byte
  // and loading a wider word over it, which waits for the store.
  WITH_SSE2_STEPS Codes16 codes16() const {
    return {set1(spread_[0]), set1(spread_[1]), set1(spread_[2]), set1(spread_[3])};
  }
  WITH_SSE2_STEPS static __m128i set1(std::uint32_t word) {
    return _mm_set1_epi32(static_cast<int>(word));
  }
  WITH_SSE2_STEPS static __m128i load16(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  }
  WITH_SSE2_STEPS static void store16(std::uint8_t* at, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
  }
#endif

 private:
  static std::uint32_t spreadOf(std::uint8_t code) {
    return code * 0x01010101u;
  }

  std::uint8_t codes_[4];
  std::uint32_t spread_[4];  // each code in every byte of a word
};
