#include "platform/compression/Crc.h"

#include <libdeflate.h>
#include <zlib.h>

#include "platform/Exceptions.h"

namespace lv {

std::uint32_t Crc32(std::string_view data, std::uint32_t crc)
{
    return libdeflate_crc32(crc, data.data(), data.size());
}

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc)
{
    return libdeflate_crc32(crc, data.data(), data.size());
}

std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength)
{
    return std::uint32_t(crc32_combine(first, second, z_off_t(secondLength)));
}

std::uint16_t Crc16_MemoryBlock(const MemoryBlock& block, std::size_t offset, std::size_t length, std::uint16_t crc)
{
    if (offset > block.size() || length > block.size() - offset)
        throw OutOfBoundsException("CRC-16 range outside the block");
    for (std::uint8_t byte : block.bytes().subspan(offset, length)) {
        crc = std::uint16_t(crc ^ (std::uint16_t(byte) << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = std::uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

} // namespace lv
