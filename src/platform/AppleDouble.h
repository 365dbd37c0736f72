#pragma once
// The AppleDouble version 2 file format: the "._name" companion that carries a file's Mac
// metadata on a file system that cannot hold it.
//
// Layout (big-endian): magic 0x00051607, version 0x00020000, 16 filler bytes, a 16-bit entry
// count, then one 12-byte descriptor per entry (ID, offset from the start of the file, length),
// then the entries' bytes. This code only encodes and decodes; reading and writing the
// companion file is the metadata store's job.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lv::AppleDouble {

constexpr std::uint32_t Magic = 0x00051607;
constexpr std::uint32_t Version2 = 0x00020000;
constexpr std::size_t FixedHeaderSize = 26;
constexpr std::size_t DescriptorSize = 12;

// Entry IDs this program reads and writes; other entries are carried along untouched.
constexpr std::uint32_t ResourceForkId = 2;
constexpr std::uint32_t FinderInfoId = 9;

struct Descriptor {
    std::uint32_t id = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

struct Entry {
    std::uint32_t id = 0;
    std::string bytes;
};

// The entry count announced by the first FixedHeaderSize bytes; nullopt when they are not an
// AppleDouble header (wrong magic or version, too short). Version 1 files share the layout and
// are accepted.
std::optional<std::size_t> entryCount(std::span<const std::uint8_t> fixedHeader);

// The descriptors that follow the fixed header; `head` holds the fixed header and at least
// `count` descriptors. nullopt when any entry lies outside a file of `fileSize` bytes.
std::optional<std::vector<Descriptor>> descriptors(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// The first descriptor with `id`, or nullptr.
const Descriptor* find(const std::vector<Descriptor>& list, std::uint32_t id);

// A complete version 2 file holding `entries` in the given order (zero filler).
// Throws std::length_error when the file would exceed 4 GiB, which the format cannot address.
std::string encode(const std::vector<Entry>& entries);

} // namespace lv::AppleDouble
