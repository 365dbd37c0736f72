#include <algorithm>
#include <ctime>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/MacBinary.h"
#include "zip/SeqStreams.h"
#include "zip/ZipArchive.h"
#include "zip/ZipBinaryStream.h"
#include "zip/ZipConfig.h"
#include "zip/ZipProgressNotifier.h"
#include "zip/ZipRecords.h"

namespace lv {

using namespace zip;

namespace {

constexpr const char* WriteErrorText = "Write error, the archived item may be corrupted";

} // namespace

std::int32_t ZipArchive::z_zip(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn,
                               std::int64_t rsrcLen, const std::optional<MemoryBlock>& mbHdr, std::string_view name,
                               std::optional<std::int64_t> date, ZipExtraFieldPtr extra)
{
    if (ZipConfig::UsePlugin)
        return z_zipC(dataIn, dataLen, rsrcIn, rsrcLen, mbHdr, name, date, std::move(extra));
    return z_zipUC(dataIn, dataLen, rsrcIn, rsrcLen, mbHdr, name, date, std::move(extra));
}

std::int32_t ZipArchive::z_zipC(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn,
                                std::int64_t rsrcLen, const std::optional<MemoryBlock>& mbHdr, std::string_view name,
                                std::optional<std::int64_t> date, ZipExtraFieldPtr extra)
{
    return z_writeEntry(true, dataIn, dataLen, rsrcIn, rsrcLen, mbHdr, name, date, std::move(extra));
}

std::int32_t ZipArchive::z_zipUC(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn,
                                 std::int64_t rsrcLen, const std::optional<MemoryBlock>& mbHdr, std::string_view name,
                                 std::optional<std::int64_t> date, ZipExtraFieldPtr extra)
{
    return z_writeEntry(false, dataIn, dataLen, rsrcIn, rsrcLen, mbHdr, name, date, std::move(extra));
}

ZipEntryPtr ZipArchive::z_newEntry(bool deflated, std::int64_t payload, std::optional<std::int64_t> date, const ZipExtraFieldPtr& extra, std::string& encName,
                                   std::string& extraBytes, std::int32_t& failure)
{
    // Everything the records cannot describe is refused before anything is written.
    extraBytes = extra ? extra->AsData() : std::string();
    if (payload > MaxOffset) {
        errmsg = "The item is too large for a zip archive (2 GB or more)";
        failure = zipResult::ReadWriteError;
        return nullptr;
    }
    if (std::int64_t(encName.size()) > MaxFieldLength) {
        errmsg = "The entry name is too long (more than 65535 bytes)";
        failure = zipResult::BadName;
        return nullptr;
    }
    if (std::int64_t(extraBytes.size()) > MaxFieldLength) {
        errmsg = "The extra field is too long (more than 65535 bytes)";
        failure = zipResult::ReadWriteError;
        return nullptr;
    }
    if (d->entryCount() >= MaxEntries) {
        errmsg = "The archive cannot hold more than 65535 entries";
        failure = zipResult::ReadWriteError;
        return nullptr;
    }
    if (!d->zipStream)
        throw RuntimeException("The archive is closed");

    const DosDateTime dos = date ? toDosRecordFields(*date) : DosDateTime{};
    if (extra)
        extra->Lock();

    MemoryBlock record(central::Size, true);
    record.setUInt32Value(central::Signature, CentralHeaderSignature);
    record.setByteValue(central::VersionMadeBy, std::uint8_t(VersionNeeded));
    record.setByteValue(central::HostSystem, std::uint8_t(d->defaultOSMadeBy));
    record.setUInt16Value(central::VersionNeeded, VersionNeeded);
    record.setUInt16Value(central::Method, deflated ? MethodDeflated : MethodStored);
    record.setUInt16Value(central::Time, dos.time);
    record.setUInt16Value(central::Date, dos.date);
    record.setUInt32Value(central::UncompressedSize, std::uint32_t(payload));
    record.setUInt16Value(central::NameLength, std::uint16_t(encName.size()));
    record.setUInt16Value(central::ExtraLength, std::uint16_t(extraBytes.size()));
    record.setUInt32Value(central::ExternalAttributes, d->archiveEncoding == TextEncoding::utf8() ? 1 : 0);
    d->dirty = true;
    return std::make_shared<ZipEntry>(d, std::move(record), encName, extra, std::string());
}

std::int32_t ZipArchive::z_writeEntry(bool deflate, SeqDataInputStream* dataIn, std::int64_t dataLen,
                                      SeqDataInputStream* rsrcIn, std::int64_t rsrcLen,
                                      const std::optional<MemoryBlock>& mbHdr, std::string_view name,
                                      std::optional<std::int64_t> date, ZipExtraFieldPtr extra)
{
    if (name.empty()) {
        errmsg = "Name must not be empty";
        return zipResult::BadName;
    }
    std::string encName = z_pathToEncName(name);
    if (!dataIn)
        dataLen = 0;
    if (!rsrcIn || !mbHdr)
        rsrcLen = 0;
    if (dataLen < 0 || rsrcLen < 0)
        throw RuntimeException("Negative fork length");

    std::int64_t payload = dataLen;
    if (mbHdr) {
        if (mbHdr->size() != macbinary::HeaderSize ||
            mbHdr->int32Value(macbinary::offset::DataLength) != dataLen ||
            mbHdr->int32Value(macbinary::offset::RsrcLength) != rsrcLen)
            throw RuntimeException("");
        payload = macbinary::streamLength(dataLen, rsrcLen);
    }
    const bool deflated = deflate && payload > 0;
    const std::string candidateExtra = extra ? extra->AsData() : std::string();
    // The archive must still hold the entry's largest form and the directory behind it.
    if (payload <= MaxOffset && std::int64_t(encName.size()) <= MaxFieldLength &&
        std::int64_t(candidateExtra.size()) <= MaxFieldLength && d->entryCount() < MaxEntries) {
        const std::int64_t headerLength = std::int64_t(local::Size + encName.size() + candidateExtra.size());
        const std::int64_t dataBound = deflated ? deflateBound(payload) : payload;
        const std::int64_t directoryAfter =
            z_directorySize() + std::int64_t(central::Size + encName.size() + candidateExtra.size());
        if (startOfDirInArchive + headerLength + dataBound + directoryAfter > MaxOffset) {
            errmsg = "The archive would grow beyond 2 GB, which the zip format used here cannot hold";
            return zipResult::ReadWriteError;
        }
    }
    std::string extraBytes;
    std::int32_t failure = 0;
    auto entry = z_newEntry(deflated, payload, date, extra, encName, extraBytes, failure);
    if (!entry)
        return failure;
    MemoryBlock& rec = entry->z_Header();
    const std::int64_t headerLength = std::int64_t(local::Size + encName.size() + extraBytes.size());

    BinaryStream& zs = *d->zipStream;
    zs.clearError();
    zs.setPosition(std::uint64_t(startOfDirInArchive));
    zs.writeUInt32(LocalHeaderSignature);
    zs.write(rec.stringValue(central::VersionNeeded, 10));
    const std::uint64_t crcField = zs.position();
    zs.writeUInt32(0);
    zs.writeUInt32(deflated ? 0 : std::uint32_t(payload));
    zs.writeUInt32(std::uint32_t(payload));
    zs.writeUInt16(std::uint16_t(encName.size()));
    zs.writeUInt16(std::uint16_t(extraBytes.size()));
    zs.write(encName);
    if (!extraBytes.empty())
        zs.write(extraBytes);
    const std::int64_t dataStart = std::int64_t(zs.position());
    if (zs.hadError()) {
        errmsg = WriteErrorText;
        return zipResult::ReadWriteError;
    }

    std::uint32_t crc = 0;
    std::int64_t dataEnd = dataStart;
    if (payload > 0) {
        ZipProgressNotifier* monitor = ProgressMonitor();
        bool abort = false;
        if (monitor)
            monitor->zipProgress(*entry, std::int32_t(payload), 0, abort);
        const std::int64_t chunk = d->copyChunkSize;

        ZipBinaryStreamWriter writer(zs, deflated ? std::int32_t(GzipHeaderSize) : 0);
        std::unique_ptr<ZStream> deflater;
        std::int64_t done = 0;
        if (!abort) {
            if (deflated)
                deflater = std::make_unique<ZStream>(true, &writer, nullptr);
            else
                writer.EnableCRCCalculation();
            const auto put = [&](std::string_view bytes) {
                if (deflater)
                    deflater->Write(bytes);
                else
                    writer.Write(bytes);
            };
            std::int64_t reduction = 0;
            const auto copyFork = [&](SeqDataInputStream& source, std::int64_t length) {
                std::int64_t rest = length;
                while (rest > 0 && !abort) {
                    const std::int64_t n = std::min(rest, chunk - reduction);
                    reduction = 0;
                    std::string bytes = source.Read(std::int32_t(n));
                    if (std::int64_t(bytes.size()) > n)
                        bytes.resize(std::size_t(n));  // never more than the fork's recorded length
                    put(bytes);
                    rest -= n;
                    done += std::int64_t(bytes.size());
                    if (monitor && done < payload)
                        monitor->zipProgress(*entry, std::int32_t(payload), std::int32_t(done), abort);
                    Thread::yieldPoint();
                }
                source.Close();
            };
            const auto pad = [&](std::int64_t length) {
                const std::int64_t fill = macbinary::padded(length) - length;
                if (fill > 0) {
                    put(std::string(std::size_t(fill), '\0'));
                    done += fill;
                }
            };

            if (mbHdr) {
                put(mbHdr->toString());
                done = std::int64_t(macbinary::HeaderSize);
                reduction = std::int64_t(macbinary::HeaderSize);
                if (dataIn) {
                    if (!dataIn->Open()) {
                        errmsg = "Opening the source data stream failed";
                        return zipResult::OpenFailed;
                    }
                    copyFork(*dataIn, dataLen);
                }
                pad(dataLen);
                if (rsrcIn && rsrcLen > 0) {
                    if (!rsrcIn->Open()) {
                        errmsg = "Opening the source rsrc stream failed";
                        return zipResult::OpenFailed;
                    }
                    copyFork(*rsrcIn, rsrcLen);
                }
                pad(rsrcLen);
            } else {
                if (!dataIn->Open()) {
                    errmsg = "Opening the source data stream failed";
                    return zipResult::OpenFailed;
                }
                copyFork(*dataIn, payload);
            }
            if (deflater)
                deflater->Close();
            else
                writer.Close();
        }
        if (monitor)
            monitor->zipProgress(*entry, std::int32_t(payload), std::int32_t(payload), abort);
        if (abort) {
            errmsg = "Aborted";
            return zipResult::NothingAdded;
        }
        if (done != payload) {
            errmsg = "Read error, the archived item may be corrupted";
            return zipResult::ReadWriteError;
        }
        const bool deflateFailed = deflater && deflater->ErrorValue() < 0;
        if (zs.hadError() || deflateFailed ||
            startOfDirInArchive + headerLength + writer.BytesWritten() != std::int64_t(zs.position())) {
            errmsg = WriteErrorText;
            return zipResult::ReadWriteError;
        }
        if (deflated) {
            if (writer.BytesWritten() < std::int64_t(GzipTrailerSize)) {
                errmsg = WriteErrorText;
                return zipResult::ReadWriteError;
            }
            zs.setPosition(zs.position() - GzipTrailerSize);
            dataEnd = std::int64_t(zs.position());
            crc = zs.readUInt32();
        } else {
            crc = writer.CRC();
            dataEnd = std::int64_t(zs.position());
        }
        const std::int64_t compressed = dataEnd - dataStart;
        if (!deflated && compressed != payload) {
            errmsg = "Internal error (Store)";
            return zipResult::ReadWriteError;
        }
        zs.setPosition(crcField);
        zs.writeUInt32(crc);
        zs.writeUInt32(std::uint32_t(compressed));
        if (zs.hadError()) {
            errmsg = WriteErrorText;
            return zipResult::ReadWriteError;
        }
        rec.setUInt32Value(central::CompressedSize, std::uint32_t(compressed));
    }
    rec.setUInt32Value(central::Crc32, crc);
    rec.setUInt32Value(central::LocalHeaderOffset, std::uint32_t(startOfDirInArchive));
    startOfDirInArchive = dataEnd;
    d->entries_1.push_back(entry);
    if (finalBytesListener)
        finalBytesListener(startOfDirInArchive, NothingHeld);
    return d->entryCount();
}

} // namespace lv
