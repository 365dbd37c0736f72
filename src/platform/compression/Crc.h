#pragma once
// The two checksums of the archive formats.

#include <cstdint>
#include <string_view>

#include "platform/MemoryBlock.h"

namespace lv {

// CRC-32 of zip and gzip over `data`, continued from `crc` (0 to start).
std::uint32_t Crc32(std::string_view data, std::uint32_t crc = 0);

// CRC-16/XMODEM (polynomial 0x1021, initial 0) of MacBinary II and III over `length` bytes of
// `block` from `offset`, continued from `crc`; OutOfBoundsException outside the block.
std::uint16_t Crc16_MemoryBlock(const MemoryBlock& block, std::size_t offset, std::size_t length, std::uint16_t crc = 0);

} // namespace lv
