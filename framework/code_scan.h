// Finding code bytes among plain bytes.
//
// Both formats code their runs with a few code bytes chosen per picture (GRA) or per chunk (Q)
// and store every other byte as it is. In busy pictures such plain bytes come in long
// stretches, and a decoder handles a whole stretch at once when it can find where the next
// code byte is: CodeScan looks at a machine word of bytes at a time on the portable path, at a
// 16-byte block in an SSE2 register on the wider ones (see wide_paths.h; stretches between codes
// are short, and the AVX2 path scans in SSE2 blocks too).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "framework/wide_paths.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#define CODE_SCAN_SSE2 __attribute__((target("sse2")))
#endif

class CodeScan {
 public:
  // Up to four code bytes; repeat one to give fewer. The scan takes the path widePath()
  // chooses, or the one given, which the processor must run.
  CodeScan(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
           WidePath path = widePath())
      : codes_{a, b, c, d}, wide_(path != WidePath::Portable) {}

  // The position of the first code byte in bytes[from] to bytes[to - 1], or to when there is
  // none. Reads nothing outside that range.
  int find(const std::uint8_t* bytes, int from, int to) const {
#if defined(CODE_SCAN_SSE2)
    if (wide_) return findByBytes(bytes, findBy16(bytes, from, to), to);
#endif
    return findByBytes(bytes, findByWords<std::uintptr_t>(bytes, from, to), to);
  }

  // What a stretch of plain bytes does to the line it goes to: Q copies it, GRA XORs it in.
  enum class Apply { Copy, Xor };

  // Copies bytes[from] onwards to out, or XORs them into out, until the first code byte or
  // to, and returns where it stopped (as find does). bytes may be read up to end (to <= end),
  // and nothing at or past end is read. On the SSE2 path the bytes are taken in whole 16-byte
  // blocks, scanning and applying in one pass: when copying, up to 15 bytes past the copy may
  // be written; when XORing, up to 15 bytes past the stretch are read and written back
  // unchanged. out needs that much room.
  template <Apply kApply>
  int applyUntilCode(const std::uint8_t* bytes, int from, int to, int end,
                     std::uint8_t* out) const {
#if defined(CODE_SCAN_SSE2)
    if (wide_) return applyBy16<kApply>(bytes, from, to, end, out);
#else
    static_cast<void>(end);
#endif
    const int stop = find(bytes, from, to);
    const int count = stop - from;
    if constexpr (kApply == Apply::Copy) {
      std::memcpy(out, bytes + from, static_cast<std::size_t>(count));
    } else {
      int i = 0;
      for (; i + 4 <= count; i += 4) {
        std::uint32_t word, other;
        std::memcpy(&word, out + i, 4);
        std::memcpy(&other, bytes + from + i, 4);
        word ^= other;
        std::memcpy(out + i, &word, 4);
      }
      for (; i < count; ++i) out[i] ^= bytes[from + i];
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

#if defined(CODE_SCAN_SSE2)
  // The same with 16 bytes in an SSE2 register.
  CODE_SCAN_SSE2 int findBy16(const std::uint8_t* bytes, int from, int to) const {
    const Codes16 codes = codes16();
    int at = from;
    for (; to - at >= 16; at += 16) {
      const unsigned found = codes.match(load16(bytes + at));
      if (found) return at + std::countr_zero(found);
    }
    return at;
  }

  // applyUntilCode in 16-byte blocks.
  template <Apply kApply>
  CODE_SCAN_SSE2 int applyBy16(const std::uint8_t* bytes, int from, int to, int end,
                               std::uint8_t* out) const {
    const Codes16 codes = codes16();
    auto* block = reinterpret_cast<__m128i*>(out);
    for (int at = from; at < to; at += 16, ++block) {
      __m128i v;
      if (end - at >= 16) {
        v = load16(bytes + at);
      } else {
        // The last bytes before end, in a block of their own.
        std::uint8_t last[16] = {};
        std::memcpy(last, bytes + at, static_cast<std::size_t>(end - at));
        v = load16(last);
      }
      // Where the stretch stops within this block, if it does: at a code byte or at to.
      unsigned stop = codes.match(v);
      if (to - at < 16) stop |= ~0u << (to - at);
      if constexpr (kApply == Apply::Copy) {
        _mm_storeu_si128(block, v);
      } else {
        if (stop) {
          // Only the bytes before the stop: the others XOR with 0.
          const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
          const auto count = static_cast<char>(std::countr_zero(stop));
          v = _mm_and_si128(v, _mm_cmplt_epi8(index, _mm_set1_epi8(count)));
        }
        _mm_storeu_si128(block, _mm_xor_si128(_mm_loadu_si128(block), v));
      }
      if (stop) return at + std::countr_zero(stop);
    }
    return to;
  }
#endif

 private:
#if defined(CODE_SCAN_SSE2)
  // The four codes in every byte of a register each, and the test of a block against them.
  struct Codes16 {
    __m128i c0, c1, c2, c3;
    // One bit per byte of v, set where the byte is a code.
    CODE_SCAN_SSE2 unsigned match(__m128i v) const {
      const __m128i equal =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, c0), _mm_cmpeq_epi8(v, c1)),
                       _mm_or_si128(_mm_cmpeq_epi8(v, c2), _mm_cmpeq_epi8(v, c3)));
      return static_cast<unsigned>(_mm_movemask_epi8(equal));
    }
  };
  CODE_SCAN_SSE2 Codes16 codes16() const {
    return {
        _mm_set1_epi8(static_cast<char>(codes_[0])), _mm_set1_epi8(static_cast<char>(codes_[1])),
        _mm_set1_epi8(static_cast<char>(codes_[2])), _mm_set1_epi8(static_cast<char>(codes_[3]))};
  }
  CODE_SCAN_SSE2 static __m128i load16(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  }
#endif

  std::uint8_t codes_[4];
  bool wide_;  // the SSE2 blocks, else the portable words
};
