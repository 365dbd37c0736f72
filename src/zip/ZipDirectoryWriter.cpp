#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/ZipArchive.h"
#include "zip/ZipRecords.h"

namespace lv {

using namespace zip;

bool ZipArchive::Flush()
{
    if (!writeMode) {
        z_noWriteMsg();
        return false;
    }
    if (!entriesRead)
        throw RuntimeException("The archive is closed");
    return z_writeDirectory();
}

std::int64_t ZipArchive::z_directorySize() const
{
    const auto recordBytes = [](const ZipEntry& e) {
        return std::int64_t(central::Size) + std::int64_t(e.zipEncName.size()) + std::int64_t(e.extra->AsData().size()) +
               std::int64_t(e.zipEncComment.size());
    };
    const std::int32_t n = d->entryCount();
    // Entries appended since the last call are added; any other change of the list recounts.
    if (dirCacheCount < 0 || dirCacheCount > n) {
        dirCacheCount = 0;
        dirCacheBytes = 0;
    }
    for (std::int32_t i = dirCacheCount + 1; i <= n; ++i)
        dirCacheBytes += recordBytes(*d->entries_1[std::size_t(i)]);
    dirCacheCount = n;
    return std::int64_t(eocd::Size) + std::int64_t(comment_.size()) + dirCacheBytes;
}

bool ZipArchive::z_writeDirectory()
{
    if (!d->dirty)
        return true;
    if (!writeMode) {
        d->dirty = false;
        return true;
    }
    try {
        if (d->entryCount() == 0)
            z_zip(nullptr, 0, nullptr, 0, std::nullopt, "/", std::nullopt, nullptr);

        const std::int32_t n = d->entryCount();
        if (n > MaxEntries) {
            errmsg = "The archive cannot hold more than 65535 entries";
            return false;
        }
        if (std::int64_t(comment_.size()) > MaxFieldLength) {
            errmsg = "The archive comment is too long (more than 65535 bytes)";
            return false;
        }
        dirCacheCount = -1;  // edits may have changed names, fields or comments: recount
        if (startOfDirInArchive + z_directorySize() > MaxOffset) {
            errmsg = "The archive would grow beyond 2 GB, which the zip format used here cannot hold";
            return false;
        }

        BinaryStream& zs = *d->zipStream;
        zs.clearError();
        zs.setPosition(std::uint64_t(startOfDirInArchive));
        for (std::int32_t i = 1; i <= n; ++i) {
            ZipEntry& e = *d->entries_1[std::size_t(i)];
            MemoryBlock& record = e.z_Header();
            const std::string name = e.z_origEncodedName();
            const std::string comment = e.z_origEncodedComment();
            const ZipExtraFieldPtr extra = e.ExtraFieldInCentralDir();
            if (!extra) {
                errmsg = e.ErrorMessage();
                return false;
            }
            const std::string& extraBytes = extra->AsData();
            if (record.uint16Value(central::ExtraLength) != extraBytes.size()) {
                errmsg = "Internal error (extra field length mismatch)";
                return false;
            }
            if (std::int64_t(name.size()) > MaxFieldLength || std::int64_t(comment.size()) > MaxFieldLength) {
                errmsg = "An entry name or comment is too long (more than 65535 bytes)";
                return false;
            }
            record.setUInt16Value(central::NameLength, std::uint16_t(name.size()));
            record.setUInt16Value(central::ExtraLength, std::uint16_t(extraBytes.size()));
            record.setUInt16Value(central::CommentLength, std::uint16_t(comment.size()));
            zs.write(record.toString());
            zs.write(name);
            if (!extraBytes.empty())
                zs.write(extraBytes);
            zs.write(comment);
            Thread::yieldPoint();
        }
        const std::uint64_t dirSize = zs.position() - std::uint64_t(startOfDirInArchive);
        zs.writeUInt32(EndOfDirSignature);
        zs.writeUInt16(0);
        zs.writeUInt16(0);
        zs.writeUInt16(std::uint16_t(n));
        zs.writeUInt16(std::uint16_t(n));
        zs.writeUInt32(std::uint32_t(dirSize));
        zs.writeUInt32(std::uint32_t(startOfDirInArchive));
        zs.writeUInt16(std::uint16_t(comment_.size()));
        zs.write(comment_);
        if (zs.hadError() || !zs.setLength(zs.position())) {
            errmsg = "Writing the central directory failed (disk full?)";
            return false;
        }
        d->dirty = false;
        return true;
    } catch (const std::exception&) {
        errmsg = "Internal error (Exception in z_writeDirectory)";
        return false;
    }
}

} // namespace lv
