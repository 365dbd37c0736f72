#pragma once
// Explicit little- and big-endian loads and stores over byte spans.

#include <cstddef>
#include <cstdint>
#include <span>

namespace lv::bytes {

inline std::uint16_t loadLE16(std::span<const std::uint8_t, 2> p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t loadLE32(std::span<const std::uint8_t, 4> p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
inline std::uint16_t loadBE16(std::span<const std::uint8_t, 2> p) { return std::uint16_t((p[0] << 8) | p[1]); }
inline std::uint32_t loadBE32(std::span<const std::uint8_t, 4> p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

inline void storeLE16(std::span<std::uint8_t, 2> p, std::uint16_t v) { p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); }
inline void storeLE32(std::span<std::uint8_t, 4> p, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void storeBE16(std::span<std::uint8_t, 2> p, std::uint16_t v) { p[0] = std::uint8_t(v >> 8); p[1] = std::uint8_t(v); }
inline void storeBE32(std::span<std::uint8_t, 4> p, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * (3 - i)));
}

} // namespace lv::bytes
