#include "platform/AppleDouble.h"

#include <stdexcept>

#include "platform/ByteOrder.h"

namespace lv::AppleDouble {

namespace {

constexpr std::uint32_t Version1 = 0x00010000;

std::uint32_t be32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return bytes::loadBE32(bytes.subspan(at).first<4>());
}

void putBE32(std::string& out, std::uint32_t v)
{
    std::uint8_t b[4];
    bytes::storeBE32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

} // namespace

std::optional<std::size_t> entryCount(std::span<const std::uint8_t> fixedHeader)
{
    if (fixedHeader.size() < FixedHeaderSize)
        return std::nullopt;
    const std::uint32_t version = be32(fixedHeader, 4);
    if (be32(fixedHeader, 0) != Magic || (version != Version2 && version != Version1))
        return std::nullopt;
    return bytes::loadBE16(fixedHeader.subspan(24).first<2>());
}

std::optional<std::vector<Descriptor>> descriptors(std::span<const std::uint8_t> head, std::uint64_t fileSize)
{
    const auto count = entryCount(head);
    if (!count || head.size() < FixedHeaderSize + *count * DescriptorSize)
        return std::nullopt;
    std::vector<Descriptor> list;
    list.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t at = FixedHeaderSize + i * DescriptorSize;
        Descriptor d{be32(head, at), be32(head, at + 4), be32(head, at + 8)};
        if (std::uint64_t(d.offset) + d.length > fileSize)
            return std::nullopt;
        list.push_back(d);
    }
    return list;
}

const Descriptor* find(const std::vector<Descriptor>& list, std::uint32_t id)
{
    for (const auto& d : list)
        if (d.id == id)
            return &d;
    return nullptr;
}

std::string encode(const std::vector<Entry>& entries)
{
    if (entries.size() > 0xFFFF)
        throw std::length_error("too many AppleDouble entries");
    std::uint64_t offset = FixedHeaderSize + entries.size() * DescriptorSize;
    std::uint64_t total = offset;
    for (const auto& e : entries)
        total += e.bytes.size();
    if (total > 0xFFFFFFFFu)
        throw std::length_error("AppleDouble file too large");

    std::string out;
    out.reserve(std::size_t(total));
    putBE32(out, Magic);
    putBE32(out, Version2);
    out.append(16, '\0');
    out.push_back(char(entries.size() >> 8));
    out.push_back(char(entries.size() & 0xFF));
    for (const auto& e : entries) {
        putBE32(out, e.id);
        putBE32(out, std::uint32_t(offset));
        putBE32(out, std::uint32_t(e.bytes.size()));
        offset += e.bytes.size();
    }
    for (const auto& e : entries)
        out += e.bytes;
    return out;
}

} // namespace lv::AppleDouble
