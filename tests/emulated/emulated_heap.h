// SPDX-License-Identifier: MIT
// Blocks of emulated memory for the runtime's malloc, the process heap and global memory. Each
// block is followed by guard bytes, checked when it is freed, so that a write past the end of a
// block is caught; fresh blocks are filled with a pattern unless asked for zeros, so that bytes
// read before they are written show.
#pragma once

#include <cstdint>
#include <map>

class Machine;

class EmulatedHeap {
 public:
  enum class Kind { Runtime, ProcessHeap, GlobalMemory, System };

  EmulatedHeap(Machine& machine, std::uint32_t base, std::uint32_t size);

  // The address of a new block, or 0 when the region is full.
  std::uint32_t allocate(std::uint32_t size, Kind kind, bool zeroed);
  // Throws EmulationError when address is not a live block of that kind, or its guard is damaged.
  void release(std::uint32_t address, Kind kind);
  bool isLive(std::uint32_t address, Kind kind) const;
  std::uint32_t sizeOf(std::uint32_t address) const;
  int liveBlocks(Kind kind) const;
  // Throws EmulationError when a live block's guard is damaged.
  void checkGuards() const;

 private:
  struct Block {
    std::uint32_t size;
    Kind kind;
  };
  void checkGuard(std::uint32_t address, const Block& block) const;

  Machine& machine_;
  std::map<std::uint32_t, std::uint32_t> free_;  // start: length of each free range
  std::map<std::uint32_t, Block> live_;
};

const char* kindName(EmulatedHeap::Kind kind);
