#pragma once
// The two checksums of the archive formats.

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/MemoryBlock.h"

namespace lv {

// CRC-32 of zip and gzip over `data`, continued from `crc` (0 to start).
std::uint32_t Crc32(std::string_view data, std::uint32_t crc = 0);
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);
// The CRC-32 of two pieces joined, from the CRC-32 of each and the second one's length.
std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

// CRC-16/XMODEM (polynomial 0x1021, initial 0) of MacBinary II and III over `length` bytes of
// `block` from `offset`, continued from `crc`; OutOfBoundsException outside the block.
std::uint16_t Crc16_MemoryBlock(const MemoryBlock& block, std::size_t offset, std::size_t length, std::uint16_t crc = 0);

} // namespace lv
