#pragma once
// A fixed-size, bounds-checked block of bytes with a byte order for its integer accessors.
// Every access outside the block raises OutOfBoundsException; nothing is ever read or written
// past its end.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lv {

class MemoryBlock {
public:
    // A zero-filled block of `size` bytes; OutOfMemoryException when it cannot be allocated.
    explicit MemoryBlock(std::size_t size = 0, bool littleEndian = true);
    // A block holding a copy of `bytes`.
    static MemoryBlock fromString(std::string_view bytes, bool littleEndian = true);

    std::size_t size() const noexcept { return m_bytes.size(); }
    bool littleEndian() const noexcept { return m_littleEndian; }
    void setLittleEndian(bool le) noexcept { m_littleEndian = le; }

    std::uint8_t byteValue(std::size_t offset) const;
    void setByteValue(std::size_t offset, std::uint8_t value);
    std::int16_t int16Value(std::size_t offset) const { return std::int16_t(uint16Value(offset)); }
    std::uint16_t uint16Value(std::size_t offset) const;
    void setUInt16Value(std::size_t offset, std::uint16_t value);
    std::int32_t int32Value(std::size_t offset) const { return std::int32_t(uint32Value(offset)); }
    std::uint32_t uint32Value(std::size_t offset) const;
    void setUInt32Value(std::size_t offset, std::uint32_t value);

    // `length` bytes from `offset`, as a byte string.
    std::string stringValue(std::size_t offset, std::size_t length) const;
    // Copies `bytes` in at `offset`; the block does not grow.
    void setStringValue(std::size_t offset, std::string_view bytes);
    // A Pascal string: one length byte at `offset`, then that many bytes (clipped to the block).
    std::string pstringValue(std::size_t offset) const;

    std::string toString() const { return std::string(m_bytes.begin(), m_bytes.end()); }
    std::span<const std::uint8_t> bytes() const noexcept { return m_bytes; }
    std::span<std::uint8_t> bytes() noexcept { return m_bytes; }

    bool operator==(const MemoryBlock& other) const noexcept { return m_bytes == other.m_bytes; }

private:
    void check(std::size_t offset, std::size_t length) const;

    std::vector<std::uint8_t> m_bytes;
    bool m_littleEndian;
};

} // namespace lv
