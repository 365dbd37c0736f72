// Editing an archive opened for writing: removing, replacing and duplicating entries, the
// archive comment, mark and rollback, and compaction of the local records.
//
// Everything but compaction works on the in-memory directory; the directory on disk follows at
// the next Flush or Close.

#include <algorithm>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/ZipArchive.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

const char* const BadLocalSignature = "Invalid Local File Header signature (archive appears to be severely corrupted)";
const char* const HeadersMismatch = "File Headers mismatch (archive appears to be severely corrupted)";
const char* const DescriptorFlagged =
    "The entry cannot be duplicated: its records' flags (a data descriptor) leave a duplicate no mark of its own";

// Misuse of the entry operations: a closed archive, or an index outside the entry list.
void checkEntryIndex(bool open, std::int32_t index, std::int32_t count, const char* operation)
{
    if (!open)
        throw RuntimeException(std::string(operation) + " on a closed archive");
    if (index < 1 || index > count)
        throw OutOfBoundsException(std::string(operation) + ": no entry " + std::to_string(index));
}

} // namespace

bool ZipArchive::Compact()
{
    z_settle();
    namespace c = zip::central;
    namespace l = zip::local;
    if (!writeMode) {
        z_noWriteMsg();
        return false;
    }
    try {
        if (!d->zipStream)
            throw RuntimeException("Compact on a closed archive");
        BinaryStream& zs = *d->zipStream;

        // Work list: every entry's record with its local-header offset, in offset order.
        struct Work {
            MemoryBlock* record;
            std::int64_t offset;
        };
        std::vector<Work> work;
        for (std::int32_t i = 1; i <= d->entryCount(); ++i) {
            MemoryBlock& record = d->entries_1[std::size_t(i)]->z_Header();
            work.push_back({&record, std::int64_t(record.uint32Value(c::LocalHeaderOffset))});
        }
        std::stable_sort(work.begin(), work.end(), [](const Work& a, const Work& b) { return a.offset < b.offset; });
        marked = false;
        d->dirty = true;

        const std::int64_t fileLength = std::int64_t(zs.length());
        std::int64_t w = 0, len = 0, previousEnd = 0;
        std::optional<std::int64_t> previous;
        for (const Work& item : work) {
            MemoryBlock& record = *item.record;
            if (previous && item.offset == *previous) {
                // A duplicate sharing the header handled just before.
                record.setUInt32Value(c::LocalHeaderOffset, std::uint32_t(w));
                continue;
            }
            w += len;
            zs.setPosition(std::uint64_t(item.offset));
            MemoryBlock buffer = MemoryBlock::fromString(zs.read(l::Size));
            if (buffer.size() != l::Size || buffer.uint32Value(l::Signature) != zip::LocalHeaderSignature) {
                errmsg = BadLocalSignature;
                return false;
            }
            const std::uint16_t flags = buffer.uint16Value(l::Flags);
            bool modified = false;
            if (flags & zip::FlagDataDescriptor) {
                buffer.setUInt32Value(l::Crc32, record.uint32Value(c::Crc32));
                buffer.setUInt32Value(l::CompressedSize, record.uint32Value(c::CompressedSize));
                buffer.setUInt32Value(l::UncompressedSize, record.uint32Value(c::UncompressedSize));
                buffer.setUInt16Value(l::Flags, std::uint16_t(flags & ~zip::FlagDataDescriptor));
                modified = true;
            }
            len = std::int64_t(buffer.uint32Value(l::CompressedSize)) + std::int64_t(l::Size) +
                buffer.uint16Value(l::NameLength) + buffer.uint16Value(l::ExtraLength);
            // A record that starts inside the one before it, or runs past the end of the file,
            // cannot be moved without destroying bytes not yet moved.
            if (buffer.uint16Value(l::Method) != record.uint16Value(c::Method) ||
                buffer.uint32Value(l::Crc32) != record.uint32Value(c::Crc32) ||
                buffer.uint32Value(l::CompressedSize) != record.uint32Value(c::CompressedSize) ||
                buffer.uint32Value(l::UncompressedSize) != record.uint32Value(c::UncompressedSize) ||
                (flags != record.uint16Value(c::Flags) && !d->isFakeEntry(record, flags)) ||
                (previous && item.offset < previousEnd) || item.offset + len > fileLength) {
                errmsg = HeadersMismatch;
                return false;
            }
            if (item.offset != w || modified) {
                zs.setPosition(std::uint64_t(w));
                if (!zs.write(buffer.toString()))
                    throw RuntimeException("write failed");
                z_copy(item.offset + std::int64_t(l::Size), w + std::int64_t(l::Size), len - std::int64_t(l::Size));
            }
            previous = item.offset;
            previousEnd = item.offset + len;
            record.setUInt32Value(c::LocalHeaderOffset, std::uint32_t(w));
        }
        startOfDirInArchive = w + len;
        return true;
    } catch (const std::exception&) {
        errmsg = "Compact() encountered an unexpected error";
        return false;
    }
}

void ZipArchive::z_copy(std::int64_t from, std::int64_t to, std::int64_t length)
{
    if (from == to)
        return;
    BinaryStream& zs = *d->zipStream;
    const std::int64_t chunk = std::max<std::int32_t>(d->copyChunkSize, 1);
    while (length > 0) {
        const std::int64_t n = std::min(length, chunk);
        zs.setPosition(std::uint64_t(from));
        const std::string bytes = zs.read(std::size_t(n));
        if (std::int64_t(bytes.size()) != n)
            throw RuntimeException("short read while moving a record");
        zs.setPosition(std::uint64_t(to));
        if (!zs.write(bytes))
            throw RuntimeException("write failed while moving a record");
        from += n;
        to += n;
        length -= n;
        Thread::yieldPoint();
    }
}

bool ZipArchive::RemoveEntry(std::int32_t index)
{
    z_settle();
    if (!writeMode) {
        z_noWriteMsg();
        return false;
    }
    checkEntryIndex(entriesRead, index, d->entryCount(), "RemoveEntry");
    marked = false;
    d->dirty = true;
    d->entries_1.erase(d->entries_1.begin() + index);
    return true;
}

ZipEntryPtr ZipArchive::ReplaceEntry(std::int32_t index, ZipEntryPtr entry)
{
    z_settle();
    if (!writeMode) {
        z_noWriteMsg();
        return nullptr;
    }
    checkEntryIndex(entriesRead, index, d->entryCount(), "ReplaceEntry");
    if (!entry)
        throw NilObjectException("ReplaceEntry without an entry");
    marked = false;
    d->dirty = true;
    ZipEntryPtr old = std::move(d->entries_1[std::size_t(index)]);
    d->entries_1[std::size_t(index)] = std::move(entry);
    return old;
}

bool ZipArchive::SetComment(std::string_view comment)
{
    z_settle();
    if (!writeMode) {
        z_noWriteMsg();
        return false;
    }
    // The end record holds the comment's length in 16 bits.
    if (std::int64_t(comment.size()) > zip::MaxFieldLength) {
        errmsg = "The archive comment is too long (more than 65535 bytes)";
        return false;
    }
    comment_ = std::string(comment);
    d->dirty = true;
    return true;
}

void ZipArchive::Mark()
{
    z_settle();
    markDirStart = startOfDirInArchive;
    markEntries = d->entryCount();
    marked = true;
}

bool ZipArchive::Rollback()
{
    z_settle();
    if (!marked || markDirStart > startOfDirInArchive || markEntries > d->entryCount()) {
        marked = false;
        return false;
    }
    startOfDirInArchive = markDirStart;
    d->entries_1.resize(std::size_t(markEntries) + 1);
    d->dirty = true;
    return true;
}

std::int32_t ZipArchive::AddFakeDuplicate(
    const ZipEntryPtr& source, std::string_view name, std::optional<std::int64_t> date, ZipExtraFieldPtr extra)
{
    z_settle();
    namespace c = zip::central;
    if (!writeMode) {
        z_noWriteMsg();
        return 0;
    }
    if (!source) {
        errmsg = "no entry reference given";
        return 0;
    }
    if (d->entryCount() >= zip::MaxEntries) {
        errmsg = "The archive cannot hold more than 65535 entries";
        return 0;
    }
    if (const char* refused = z_duplicateRefusal(*source)) {
        errmsg = refused;
        return 0;
    }
    std::string storedName = d->encodeForZip(name);
    if (!extra)
        extra = source->ExtraField();
    const std::int64_t extraLength = extra ? std::int64_t(extra->AsData().size()) : 0;
    if (std::int64_t(storedName.size()) > zip::MaxFieldLength || extraLength > zip::MaxFieldLength) {
        errmsg = "The entry name or extra field is too long (more than 65535 bytes)";
        return 0;
    }

    std::optional<MemoryBlock> record = z_cloneMB(source->z_Header());
    if (!record)
        record.emplace(c::Size, true);
    record->setUInt16Value(c::NameLength, std::uint16_t(storedName.size()));
    if (date) {
        const DosDateTime dos = toDosRecordFields(*date);
        record->setUInt16Value(c::Time, dos.time);
        record->setUInt16Value(c::Date, dos.date);
    }
    record->setUInt16Value(c::Flags, std::uint16_t(record->uint16Value(c::Flags) | zip::FlagDataDescriptor));
    record->setUInt16Value(c::ExtraLength, std::uint16_t(extraLength));

    d->entries_1.push_back(
        std::make_shared<ZipEntry>(d, std::move(record), std::move(storedName), std::move(extra), source->Comment()));
    d->dirty = true;
    return d->entryCount();
}

const char* ZipArchive::z_duplicateRefusal(const ZipEntry& source)
{
    namespace c = zip::central;
    const MemoryBlock& record = source.z_Header();
    const std::uint32_t offset = record.uint32Value(c::LocalHeaderOffset);
    for (std::int32_t i = 1; i <= d->entryCount(); ++i) {
        const ZipEntry& other = *d->entries_1[std::size_t(i)];
        if (&other != &source && other.z_Header().uint32Value(c::LocalHeaderOffset) == offset)
            return "The entry has a duplicate already (one local header takes one duplicate at most)";
    }
    // The reader tells a duplicate from its source by the data-descriptor flag that only the
    // duplicate's central record carries: the source's records must agree and lack it.
    BinaryStream& zs = *d->zipStream;
    zs.setPosition(std::uint64_t(offset) + zip::local::Flags);
    const std::uint16_t localFlags = zs.readUInt16();
    const bool unread = zs.hadError();
    zs.clearError();
    const std::uint16_t flags = record.uint16Value(c::Flags);
    if (unread || localFlags != flags || (flags & zip::FlagDataDescriptor))
        return DescriptorFlagged;
    return nullptr;
}

std::optional<MemoryBlock> ZipArchive::z_cloneMB(const MemoryBlock& block)
{
    if (block.size() == 0)
        return std::nullopt;
    return block;
}

} // namespace lv
