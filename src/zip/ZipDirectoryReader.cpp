// Reading an existing archive's central directory into entries.
//
// Every size and offset of the end record and of the central records is checked against the
// file before it is used: the directory must lie inside the file, in front of its end record,
// and every record with its name, extra field and comment inside the directory.

#include <algorithm>
#include <span>
#include <vector>

#include "platform/Thread.h"
#include "zip/ZipArchive.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

const char* const DirectoryCorrupted = "Central Directory is corrupted";
const char* const Zip64Text = "The archive uses the zip64 extension, which this program does not read";

// True when the extra field holds a zip64 block.
bool hasZip64Block(std::string_view extra)
{
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const auto u16 = [&](std::size_t i) {
            return std::uint16_t(std::uint8_t(extra[i]) | std::uint16_t(std::uint8_t(extra[i + 1])) << 8);
        };
        if (u16(at) == zip::Zip64ExtraId)
            return true;
        at += 4 + u16(at + 2);
    }
    return false;
}

// A central record that leaves its size or offset to a zip64 block, or carries one. Version 4.5
// alone is no sign: other features need it too (see localHeaderHasZip64Block).
bool needsZip64(const MemoryBlock& record, std::string_view extra)
{
    namespace c = zip::central;
    return record.uint32Value(c::CompressedSize) == 0xFFFFFFFF || record.uint32Value(c::UncompressedSize) == 0xFFFFFFFF ||
        record.uint32Value(c::LocalHeaderOffset) == 0xFFFFFFFF || record.uint16Value(c::DiskNumberStart) == 0xFFFF ||
        hasZip64Block(extra);
}

// A record that needs a newer version than 2.0 may owe it to a zip64 block in its local header
// only, as tools that write zip64 for small entries do.
bool localHeaderHasZip64Block(BinaryStream& zs, const MemoryBlock& record)
{
    namespace l = zip::local;
    zs.setPosition(record.uint32Value(zip::central::LocalHeaderOffset));
    const MemoryBlock header = MemoryBlock::fromString(zs.read(l::Size));
    bool found = false;
    if (header.size() == l::Size && header.uint32Value(l::Signature) == zip::LocalHeaderSignature) {
        zs.setPosition(zs.position() + header.uint16Value(l::NameLength));
        found = hasZip64Block(zs.read(header.uint16Value(l::ExtraLength)));
    }
    zs.clearError();
    return found;
}

const char* const DirectorySizeCorrupted = "Central Directory is corrupted.";

std::string dictionaryKey(const std::string& name)
{
    return !name.empty() && name.back() == '/' ? name.substr(0, name.size() - 1) : name;
}

// The bytes one entry occupies: its local header, name, extra field and data.
struct Extent {
    std::int64_t start = 0;
    std::int64_t end = 0;
    const ZipEntry* entry = nullptr;
    std::uint16_t localFlags = 0;
};

// Records of one local header and its data are the library's duplicate of one entry: it shares
// everything with it and only it carries the data-descriptor flag its local header lacks. One
// duplicate at most: more records on one header would let a small file stand for many copies.
bool isDuplicateGroup(ZipArchiveData& d, std::span<const Extent> group)
{
    namespace c = zip::central;
    if (group.size() > 2)
        return false;
    const MemoryBlock& first = group.front().entry->z_Header();
    std::size_t sources = 0;
    for (const Extent& x : group) {
        const MemoryBlock& r = x.entry->z_Header();
        if (r.uint16Value(c::Method) != first.uint16Value(c::Method) ||
            r.uint32Value(c::Crc32) != first.uint32Value(c::Crc32) ||
            r.uint32Value(c::CompressedSize) != first.uint32Value(c::CompressedSize) ||
            r.uint32Value(c::UncompressedSize) != first.uint32Value(c::UncompressedSize))
            return false;
        if (!d.isFakeEntry(r, x.localFlags))
            ++sources;
    }
    return sources == 1;
}

// Refuses a directory whose entries' data lie outside the file (past the start of the central
// directory) or overlap another entry's: crafted records could otherwise make a small file
// stand for many large ones. "" when every entry has bytes of its own.
std::string checkEntryExtents(ZipArchiveData& d, BinaryStream& zs, std::int64_t dirStart)
{
    namespace c = zip::central;
    namespace l = zip::local;
    std::vector<Extent> extents;
    extents.reserve(std::size_t(d.entryCount()));
    for (std::int32_t i = 1; i <= d.entryCount(); ++i) {
        const ZipEntry& e = *d.entries_1[std::size_t(i)];
        Extent x;
        x.entry = &e;
        x.start = e.z_Header().uint32Value(c::LocalHeaderOffset);
        zs.setPosition(std::uint64_t(x.start));
        const MemoryBlock lh = MemoryBlock::fromString(zs.read(l::Size));
        zs.clearError();
        if (lh.size() != l::Size)
            return "An entry's data lie outside the archive (archive appears to be severely corrupted)";
        x.localFlags = lh.uint16Value(l::Flags);
        x.end = x.start + std::int64_t(l::Size);
        // Bytes that are no local header give the entry no data: its extraction refuses it.
        if (lh.uint32Value(l::Signature) == zip::LocalHeaderSignature)
            x.end += lh.uint16Value(l::NameLength) + lh.uint16Value(l::ExtraLength) +
                std::int64_t(e.z_Header().uint32Value(c::CompressedSize));
        if (x.end > dirStart)
            return "An entry's data lie outside the archive (archive appears to be severely corrupted)";
        extents.push_back(x);
        if (i % 1024 == 0)
            Thread::yieldPoint();
    }
    std::stable_sort(
        extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.start < b.start; });
    std::int64_t previousEnd = 0;
    for (std::size_t i = 0; i < extents.size();) {
        std::size_t j = i + 1;
        while (j < extents.size() && extents[j].start == extents[i].start)
            ++j;
        if (extents[i].start < previousEnd ||
            (j - i > 1 && !isDuplicateGroup(d, std::span<const Extent>(extents).subspan(i, j - i))))
            return "Entries overlap (archive appears to be severely corrupted)";
        previousEnd = extents[i].end;
        i = j;
    }
    return {};
}

// The directory's bytes, read ahead in large blocks so that a record costs no system call of its
// own, and never more than a block beyond what is asked.
class ReadAhead {
public:
    static constexpr std::size_t BlockSize = std::size_t(1) << 20;

    explicit ReadAhead(BinaryStream& stream) : m_stream(stream) {}

    // The `count` bytes at `at`; fewer where the file ends.
    std::string read(std::int64_t at, std::size_t count)
    {
        if (at < m_start || at + std::int64_t(count) > m_start + std::int64_t(m_block.size())) {
            m_stream.setPosition(std::uint64_t(at));
            m_block = m_stream.read(std::max(count, BlockSize));
            m_start = at;
        }
        const std::size_t from = std::size_t(at - m_start);
        return from < m_block.size() ? m_block.substr(from, count) : std::string();
    }

private:
    BinaryStream& m_stream;
    std::int64_t m_start = 0;
    std::string m_block;
};

} // namespace

void ZipArchive::z_readDirectory()
{
    namespace c = zip::central;
    namespace e = zip::eocd;
    BinaryStream& zs = *d->zipStream;

    zs.setPosition(0);
    const MemoryBlock first = MemoryBlock::fromString(zs.read(4));
    if (first.size() != 4 || first.uint32Value(0) != zip::LocalHeaderSignature) {
        errmsg = "File does not appear to by a Zip file ('PK' header missing)";
        return;
    }

    // The end record: the last signature among the positions L - 22 down to L - 22 - 65560,
    // searched in one read of that tail.
    const std::int64_t length = std::int64_t(zs.length());
    const std::int64_t highest = length - std::int64_t(e::Size);
    const std::int64_t lowest = std::max<std::int64_t>(0, highest - e::MaxScanBack);
    std::int64_t found = -1;
    if (highest >= 0) {
        zs.setPosition(std::uint64_t(lowest));
        const MemoryBlock tail = MemoryBlock::fromString(zs.read(std::size_t(length - lowest)));
        for (std::int64_t p = highest; p >= lowest && std::size_t(p - lowest) + e::Size <= tail.size(); --p) {
            if (tail.uint32Value(std::size_t(p - lowest)) == zip::EndOfDirSignature) {
                found = p;
                break;
            }
            if ((highest - p) % 4096 == 0)
                Thread::yieldPoint();
        }
    }
    if (found < 0) {
        errmsg = "Central Directory not found; probably a damaged Zip file";
        return;
    }
    zs.setPosition(std::uint64_t(found));
    const MemoryBlock end = MemoryBlock::fromString(zs.read(e::Size));
    if (const std::uint16_t commentLength = end.uint16Value(e::CommentLength))
        comment_ = zs.read(commentLength);

    // A zip64 archive: a locator before the end record, or end record fields left to it (counts
    // of 65,535 are no sign: they fit). No archive of 4 GiB or more can do without it.
    bool zip64 = length > zip::MaxReadSize || end.uint16Value(e::DiskNumber) == 0xFFFF ||
        end.uint16Value(e::DirStartDisk) == 0xFFFF || end.uint32Value(e::DirSize) == 0xFFFFFFFF ||
        end.uint32Value(e::DirOffset) == 0xFFFFFFFF;
    if (!zip64 && found >= std::int64_t(zip::Zip64LocatorSize)) {
        zs.setPosition(std::uint64_t(found - std::int64_t(zip::Zip64LocatorSize)));
        const MemoryBlock locator = MemoryBlock::fromString(zs.read(4));
        zip64 = locator.size() == 4 && locator.uint32Value(0) == zip::Zip64LocatorSignature;
    }
    if (zip64) {
        errmsg = Zip64Text;
        return;
    }

    if (end.uint16Value(e::DiskNumber) != 0 || end.uint16Value(e::DirStartDisk) != 0 ||
        end.uint16Value(e::EntriesOnDisk) != end.uint16Value(e::EntriesTotal)) {
        errmsg = "This is part of a multi-segment archive, which is not supported by the ZipArchive class";
        return;
    }
    const std::int64_t dirStart = end.uint32Value(e::DirOffset);
    const std::int64_t dirSize = end.uint32Value(e::DirSize);
    std::int64_t declared = end.uint16Value(e::EntriesTotal);
    startOfDirInArchive = dirStart;
    if (dirSize < std::int64_t(c::Size) * declared || dirStart + dirSize > found) {
        errmsg = DirectorySizeCorrupted;
        return;
    }

    ZipEntryDictionary dictionary;
    if (declared != 0 || dirSize != 0) {
        const std::int64_t dirEnd = dirStart + dirSize;
        std::int64_t pos = dirStart;
        ReadAhead directory(zs);
        do {
            if (pos + std::int64_t(c::Size) > dirEnd) {
                errmsg = DirectoryCorrupted;
                return;
            }
            MemoryBlock record = MemoryBlock::fromString(directory.read(pos, c::Size));
            if (record.uint32Value(c::Signature) != zip::CentralHeaderSignature) {
                errmsg = DirectoryCorrupted;
                return;
            }
            const std::int64_t recordEnd = pos + std::int64_t(c::Size) + record.uint16Value(c::NameLength) +
                record.uint16Value(c::ExtraLength);
            if (recordEnd <= dirEnd &&
                needsZip64(record, directory.read(pos + std::int64_t(c::Size) + record.uint16Value(c::NameLength),
                                                  record.uint16Value(c::ExtraLength)))) {
                errmsg = Zip64Text;
                return;
            }
            if (record.uint16Value(c::VersionNeeded) > zip::VersionNeeded) {
                errmsg = localHeaderHasZip64Block(zs, record)
                    ? Zip64Text
                    : "Archive was written in a newer format than what this software supports (it supports up to v2.0 "
                      "archives)";
                return;
            }
            const std::int64_t nameLength = record.uint16Value(c::NameLength);
            const std::int64_t extraLength = record.uint16Value(c::ExtraLength);
            const std::int64_t commentLength = record.uint16Value(c::CommentLength);
            const std::int64_t namePos = pos + std::int64_t(c::Size);
            pos = namePos + nameLength + extraLength + commentLength;
            if (pos > dirEnd) {
                errmsg = DirectoryCorrupted;
                return;
            }
            std::string name = directory.read(namePos, std::size_t(nameLength));
            const std::string extraBytes = directory.read(namePos + nameLength, std::size_t(extraLength));
            std::string comment = directory.read(namePos + nameLength + extraLength, std::size_t(commentLength));

            ZipExtraFieldPtr extra = MakeZipExtraField(std::string_view(extraBytes));
            extra->Lock();
            const std::string key = dictionaryKey(name);
            auto entry = std::make_shared<ZipEntry>(d, std::move(record), std::move(name), extra, std::move(comment));
            d->entries_1.push_back(entry);
            dictionary[key] = entry;
            if (declared == 0)
                centralDirCorrupted = true;
            else
                --declared;
            Thread::yieldPoint();
        } while (pos < dirEnd);
    }

    if (const std::string refused = checkEntryExtents(*d, zs, dirStart); !refused.empty()) {
        errmsg = refused;
        return;
    }
    d->checkDirectory(dictionary);
    entriesRead = true;
}

} // namespace lv
