#include "platform/MemoryBlock.h"

#include <algorithm>
#include <new>

#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"

namespace lv {

MemoryBlock::MemoryBlock(std::size_t size, bool littleEndian) : m_littleEndian(littleEndian)
{
    try {
        m_bytes.resize(size);
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryException();
    } catch (const std::length_error&) {
        throw OutOfMemoryException();
    }
}

MemoryBlock MemoryBlock::fromString(std::string_view bytes, bool littleEndian)
{
    MemoryBlock block(bytes.size(), littleEndian);
    std::copy(bytes.begin(), bytes.end(), block.m_bytes.begin());
    return block;
}

void MemoryBlock::check(std::size_t offset, std::size_t length) const
{
    // Written so that no sum can overflow, however large the offset.
    if (offset > m_bytes.size() || length > m_bytes.size() - offset)
        throw OutOfBoundsException();
}

std::uint8_t MemoryBlock::byteValue(std::size_t offset) const
{
    check(offset, 1);
    return m_bytes[offset];
}

void MemoryBlock::setByteValue(std::size_t offset, std::uint8_t value)
{
    check(offset, 1);
    m_bytes[offset] = value;
}

std::uint16_t MemoryBlock::uint16Value(std::size_t offset) const
{
    check(offset, 2);
    auto p = std::span<const std::uint8_t>(m_bytes).subspan(offset).first<2>();
    return m_littleEndian ? bytes::loadLE16(p) : bytes::loadBE16(p);
}

void MemoryBlock::setUInt16Value(std::size_t offset, std::uint16_t value)
{
    check(offset, 2);
    auto p = std::span<std::uint8_t>(m_bytes).subspan(offset).first<2>();
    m_littleEndian ? bytes::storeLE16(p, value) : bytes::storeBE16(p, value);
}

std::uint32_t MemoryBlock::uint32Value(std::size_t offset) const
{
    check(offset, 4);
    auto p = std::span<const std::uint8_t>(m_bytes).subspan(offset).first<4>();
    return m_littleEndian ? bytes::loadLE32(p) : bytes::loadBE32(p);
}

void MemoryBlock::setUInt32Value(std::size_t offset, std::uint32_t value)
{
    check(offset, 4);
    auto p = std::span<std::uint8_t>(m_bytes).subspan(offset).first<4>();
    m_littleEndian ? bytes::storeLE32(p, value) : bytes::storeBE32(p, value);
}

std::string MemoryBlock::stringValue(std::size_t offset, std::size_t length) const
{
    check(offset, length);
    return std::string(m_bytes.begin() + std::ptrdiff_t(offset), m_bytes.begin() + std::ptrdiff_t(offset + length));
}

void MemoryBlock::setStringValue(std::size_t offset, std::string_view bytes)
{
    check(offset, bytes.size());
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + std::ptrdiff_t(offset));
}

std::string MemoryBlock::pstringValue(std::size_t offset) const
{
    std::size_t length = byteValue(offset);
    return stringValue(offset + 1, std::min(length, m_bytes.size() - offset - 1));
}

} // namespace lv
