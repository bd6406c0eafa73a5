// SPDX-License-Identifier: MIT
// Little-endian numbers in byte arrays: the fields of the DIB information block, the Q header's
// chunk lengths and file size, and whatever else a tool or test reads or writes byte by byte.
#pragma once

#include <cstdint>

constexpr std::uint16_t readLe16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

// A 24-bit number, as the Q header stores its file size.
constexpr std::uint32_t readLe24(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16);
}

constexpr std::uint32_t readLe32(const std::uint8_t* at) {
  return readLe24(at) | static_cast<std::uint32_t>(at[3]) << 24;
}

constexpr void writeLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

// The low 24 bits of value.
constexpr void writeLe24(std::uint8_t* at, std::uint32_t value) {
  writeLe16(at, static_cast<std::uint16_t>(value));
  at[2] = static_cast<std::uint8_t>(value >> 16);
}

constexpr void writeLe32(std::uint8_t* at, std::uint32_t value) {
  writeLe16(at, static_cast<std::uint16_t>(value));
  writeLe16(at + 2, static_cast<std::uint16_t>(value >> 16));
}
