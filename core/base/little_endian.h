#pragma once
// Unsigned 32-bit integers stored little-endian in a byte buffer: the host
// fields of the SMC parameter block, the bits of an "flt " value, the records
// of a GPU frequency table. Offsets in bytes; the caller guarantees
// `at + 4 <= bytes.size()`. Pure; never throw.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace calorim {

[[nodiscard]] inline std::uint32_t loadLE32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
         std::uint32_t{bytes[at + 3]} << 24;
}

inline void storeLE32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Appends the four bytes of `value`, least significant first.
inline void appendLE32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace calorim
