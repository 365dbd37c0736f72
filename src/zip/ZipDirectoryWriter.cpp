#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/WriteBehind.h"
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
    bool ok = true;
    if (!z_settle() && !writeBehind->failureReported()) {
        errmsg = writeBehind->failure()->message;
        z_detail(writeBehind->failure()->detail);
        writeBehind->markFailureReported();
        ok = false;
    }
    return z_writeDirectory() && ok;
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

        // The whole directory goes out in large writes, not a few per record.
        constexpr std::size_t Buffered = std::size_t(1) << 20;
        BinaryStream& zs = *d->zipStream;
        zs.clearError();
        zs.setPosition(std::uint64_t(startOfDirInArchive));
        std::string out;
        out.reserve(Buffered + 4096);
        const auto put = [&](std::string_view bytes) {
            out.append(bytes);
            if (out.size() >= Buffered) {
                zs.write(out);
                out.clear();
            }
        };
        std::uint64_t dirSize = 0;
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
            const auto bytes = record.bytes();
            put(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            put(name);
            put(extraBytes);
            put(comment);
            dirSize += bytes.size() + name.size() + extraBytes.size() + comment.size();
            Thread::yieldPoint();
        }
        MemoryBlock end(eocd::Size, true);
        end.setUInt32Value(eocd::Signature, EndOfDirSignature);
        end.setUInt16Value(eocd::EntriesOnDisk, std::uint16_t(n));
        end.setUInt16Value(eocd::EntriesTotal, std::uint16_t(n));
        end.setUInt32Value(eocd::DirSize, std::uint32_t(dirSize));
        end.setUInt32Value(eocd::DirOffset, std::uint32_t(startOfDirInArchive));
        end.setUInt16Value(eocd::CommentLength, std::uint16_t(comment_.size()));
        out.append(end.toString());
        out.append(comment_);
        zs.write(out);
        if (zs.hadError() || !zs.setLength(zs.position())) {
            errmsg = "Writing the central directory failed (disk full?)";
            z_detail(z_writeFailureDetail(zs.lastErrorCode()));
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
