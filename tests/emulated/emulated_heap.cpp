// SPDX-License-Identifier: MIT
#include "tests/emulated/emulated_heap.h"

#include <iterator>
#include <string>
#include <vector>

#include "tests/emulated/machine.h"

namespace {

constexpr std::uint32_t kGuardSize = 16;
constexpr std::uint8_t kGuardByte = 0xFD;
constexpr std::uint8_t kFreshByte = 0xCD;

std::uint32_t footprint(std::uint32_t size) {
  return (size + kGuardSize + 15) & ~15u;
}

}  // namespace

const char* kindName(EmulatedHeap::Kind kind) {
  switch (kind) {
    case EmulatedHeap::Kind::Runtime:
      return "malloc";
    case EmulatedHeap::Kind::ProcessHeap:
      return "process heap";
    case EmulatedHeap::Kind::GlobalMemory:
      return "global memory";
    case EmulatedHeap::Kind::System:
      return "system";
  }
  return "?";
}

EmulatedHeap::EmulatedHeap(Machine& machine, std::uint32_t base, std::uint32_t size)
    : machine_(machine) {
  machine_.map(base, size, Machine::Access::ReadWrite);
  free_[base] = size;
}

std::uint32_t EmulatedHeap::allocate(std::uint32_t size, Kind kind, bool zeroed) {
  if (size > 0x10000000) return 0;
  const std::uint32_t needed = footprint(size);
  for (auto it = free_.begin(); it != free_.end(); ++it) {
    if (it->second < needed) continue;
    const std::uint32_t address = it->first;
    const std::uint32_t rest = it->second - needed;
    free_.erase(it);
    if (rest > 0) free_[address + needed] = rest;
    live_[address] = Block{size, kind};
    machine_.write(address, std::vector<std::uint8_t>(size, zeroed ? 0 : kFreshByte).data(), size);
    machine_.write(address + size, std::vector<std::uint8_t>(kGuardSize, kGuardByte).data(),
                   kGuardSize);
    return address;
  }
  return 0;
}

void EmulatedHeap::release(std::uint32_t address, Kind kind) {
  auto it = live_.find(address);
  if (it == live_.end() || it->second.kind != kind)
    throw EmulationError(std::string("free of ") + hexValue(address) + ", which is not a live " +
                         kindName(kind) + " block");
  checkGuard(address, it->second);
  std::uint32_t start = address;
  std::uint32_t length = footprint(it->second.size);
  live_.erase(it);
  // Merge with the free neighbours.
  auto next = free_.lower_bound(start);
  if (next != free_.end() && next->first == start + length) {
    length += next->second;
    next = free_.erase(next);
  }
  if (next != free_.begin()) {
    auto previous = std::prev(next);
    if (previous->first + previous->second == start) {
      start = previous->first;
      length += previous->second;
      free_.erase(previous);
    }
  }
  free_[start] = length;
}

bool EmulatedHeap::isLive(std::uint32_t address, Kind kind) const {
  auto it = live_.find(address);
  return it != live_.end() && it->second.kind == kind;
}

std::uint32_t EmulatedHeap::sizeOf(std::uint32_t address) const {
  auto it = live_.find(address);
  return it == live_.end() ? 0 : it->second.size;
}

int EmulatedHeap::liveBlocks(Kind kind) const {
  int count = 0;
  for (const auto& [address, block] : live_) count += block.kind == kind;
  return count;
}

void EmulatedHeap::checkGuards() const {
  for (const auto& [address, block] : live_) checkGuard(address, block);
}

void EmulatedHeap::checkGuard(std::uint32_t address, const Block& block) const {
  std::uint8_t guard[kGuardSize];
  machine_.read(address + block.size, guard, kGuardSize);
  for (std::uint8_t b : guard) {
    if (b != kGuardByte)
      throw EmulationError(std::string("something wrote past the end of the ") +
                           std::to_string(block.size) + "-byte " + kindName(block.kind) +
                           " block at " + hexValue(address));
  }
}
