#pragma once
// Helpers of the reading-half tests: byte-exact zip archives built by hand (so that every field
// can be crafted), the Mac metadata formats other tools write, and extraction as the worker
// does it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/TempDir.h"

namespace lv::test {

// One member of a hand-built archive. `data` is stored as given; `deflated()` compresses it
// (raw deflate), the sizes and CRC always describing the uncompressed bytes.
struct RawEntry {
    RawEntry(std::string name, std::string data = {}) : name(std::move(name)), data(std::move(data)) {}
    RawEntry deflated() const
    {
        RawEntry e = *this;
        e.deflate = true;
        return e;
    }
    RawEntry withExtra(std::string x) const
    {
        RawEntry e = *this;
        e.extra = std::move(x);
        return e;
    }
    // Bit 3 adds a data descriptor and leaves the local CRC and sizes 0.
    RawEntry withFlags(std::uint16_t f) const
    {
        RawEntry e = *this;
        e.flags = f;
        return e;
    }
    RawEntry withVersionNeeded(std::uint16_t v) const
    {
        RawEntry e = *this;
        e.versionNeeded = v;
        return e;
    }
    RawEntry withAttributes(std::uint8_t h, std::uint32_t attrs) const
    {
        RawEntry e = *this;
        e.host = h;
        e.externalAttributes = attrs;
        return e;
    }

    std::string name;
    std::string data;
    bool deflate = false;
    std::string extra;
    std::uint16_t flags = 0;
    std::uint16_t versionNeeded = 20;
    std::uint8_t host = 3;
    std::uint32_t externalAttributes = 0;
};

struct RawZip {
    std::string locals; // every local record back to back from offset 0
    std::string central; // the central records
    std::uint16_t count = 0;
    std::vector<std::uint32_t> localOffsets;

    // The whole archive with a consistent end record.
    std::string bytes(std::string_view comment = {}) const;
};

RawZip layoutZip(const std::vector<RawEntry>& entries);
std::string endRecord(std::uint16_t disk, std::uint16_t dirDisk, std::uint16_t onDisk, std::uint16_t total,
    std::uint32_t dirSize, std::uint32_t dirOffset, std::string_view comment = {});
std::string rawDeflate(std::string_view data);

// An Info-ZIP Unix type 1 extra block (access and modification time).
std::string unixType1Extra(std::int32_t accessTime, std::int32_t modificationTime);
// An AppleDouble version 2 file: Finder information (type, creator, flags) and a resource fork.
std::string appleDouble(
    std::string_view type, std::string_view creator, std::uint16_t finderFlags, std::string_view resourceFork);

// Opens `archive` and extracts every entry below `dest` as the extraction worker does (without
// its clean-up after a failure); "" on success, else the worker's message for the first failing
// entry (or the archive's text).
std::string extractAll(const std::filesystem::path& archive, const std::filesystem::path& dest);

// The value of a user extended attribute of `file` (never through a link); nullopt when absent.
std::optional<std::string> userXattr(const std::filesystem::path& file, const std::string& name);

void setBytes(std::string& bytes, std::size_t at, std::string_view value);
std::string le16(std::uint16_t v);
std::string le32(std::uint32_t v);

} // namespace lv::test
