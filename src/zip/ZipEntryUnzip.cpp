// Reading one entry's data: the local header checked against the central record, the data
// stored or inflated, copied in chunks into a data-fork and a resource-fork sink, with a
// MacBinary payload or the entry's AppleDouble companion split into forks and a header.

#include <algorithm>
#include <memory>
#include <span>

#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "platform/compression/Crc.h"
#include "platform/compression/InflateBuffer.h"
#include "platform/compression/ZStream.h"
#include "zip/MacBinary.h"
#include "zip/SeqStreams.h"
#include "zip/ZipBinaryStream.h"
#include "zip/ZipConfig.h"
#include "zip/ZipEntry.h"
#include "zip/ZipProgressNotifier.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

constexpr std::size_t AppleDoubleHeaderSize = 82;
constexpr std::int64_t MinChunkSize = 2048;

const char* const BadLocalSignature = "Invalid Local File Header signature (archive appears to be severely corrupted)";
const char* const Corrupted = "Data appears to be corrupted";

std::string inflateError(int value) { return "An error " + std::to_string(value) + " occured while deflation"; }

// Entries up to this size (and their deflate data up to this size) are inflated whole in
// memory, which is much faster than streaming; longer ones stream, so that memory stays bounded.
constexpr std::int64_t WholeInflateLimit = std::int64_t(8) << 20;

// The bytes of one entry: straight from the archive for a stored entry (never past the entry's
// own data, with a running CRC-32, since the records' CRC is the only check a stored entry
// has), or inflated for a deflated one: whole in memory when the entry is small and its data are
// sound, else through the streaming inflater, which also decides how damaged data fail.
class EntrySource {
public:
    // Stored data of `length` bytes at the stream's position.
    EntrySource(BinaryStream& stream, std::int64_t length) : m_stream(stream), m_storedLeft(length) {}
    // Deflated data of `length` bytes at the stream's position that inflate to `size` bytes
    // with the CRC-32 `crc`, framed as one gzip member for the streaming inflater.
    EntrySource(BinaryStream& stream, std::int64_t length, std::int64_t size, std::uint32_t crc, std::string prefix,
        std::string trailer)
        : m_stream(stream)
    {
        const std::uint64_t start = stream.position();
        if (length > 0 && length <= WholeInflateLimit && size <= WholeInflateLimit && inflateInMemory(length, size, crc))
            return;
        m_whole.reset();
        m_stream.setPosition(start);
        m_reader = std::make_unique<ZipBinaryStreamReader>(stream, length, std::move(prefix), std::move(trailer));
        m_inflater = std::make_unique<ZStream>(false, nullptr, m_reader.get());
    }

    int inflaterError() const { return m_inflater ? m_inflater->ErrorValue() : 0; }

    // Up to `count` bytes, valid until the next read; false with `error` set when the inflater
    // failed.
    bool read(std::int64_t count, std::string_view& out, int& error)
    {
        if (m_inMemory) {
            const std::size_t n = std::size_t(std::min<std::int64_t>(count, std::int64_t(m_wholeSize - m_wholePos)));
            out = std::string_view(m_whole.get() + m_wholePos, n);
            m_wholePos += n;
            return true;
        }
        if (!m_inflater) {
            const std::size_t want = std::size_t(std::min(count, m_storedLeft));
            if (m_chunkCapacity < want) {
                m_chunk = std::make_unique_for_overwrite<char[]>(want);
                m_chunkCapacity = want;
            }
            out = std::string_view(m_chunk.get(), m_stream.read(std::span(m_chunk.get(), want)));
            m_storedLeft -= std::int64_t(out.size());
            m_crc = Crc32(out, m_crc);
            return true;
        }
        m_inflated = m_inflater->Read(std::size_t(count));
        out = m_inflated;
        error = m_inflater->ErrorValue();
        return error == ZStream::NoError || error == ZStream::StreamEnd;
    }

    // After all the bytes the records promise were read: true when the deflate data end there
    // too (so the trailer, with the records' CRC-32 and size, has been checked); false when more
    // data follow or the inflater fails, with `error` its error value (0 for surplus data).
    bool endsHere(int& error)
    {
        error = 0;
        if (m_inMemory || !m_inflater || m_inflater->ErrorValue() == ZStream::StreamEnd)
            return true;
        const std::string more = m_inflater->Read(1);
        error = m_inflater->ErrorValue();
        if (!more.empty() || error == ZStream::NoError) {
            error = 0;
            return false;
        }
        return error == ZStream::StreamEnd;
    }

    bool isStored() const { return !m_inflater && !m_inMemory; }
    std::uint32_t storedCrc() const { return m_crc; }

private:
    // The whole entry inflated at once; false (nothing kept) unless the data are exactly one
    // deflate stream of `size` bytes with CRC-32 `crc`: the streaming inflater then judges them.
    bool inflateInMemory(std::int64_t length, std::int64_t size, std::uint32_t crc)
    {
        const auto compressed = std::make_unique_for_overwrite<char[]>(std::size_t(length));
        if (m_stream.read(std::span(compressed.get(), std::size_t(length))) != std::size_t(length))
            return false;
        m_wholeSize = std::size_t(size);
        m_whole = std::make_unique_for_overwrite<char[]>(m_wholeSize);
        const auto in = std::span(reinterpret_cast<const std::uint8_t*>(compressed.get()), std::size_t(length));
        const auto out = std::span(reinterpret_cast<std::uint8_t*>(m_whole.get()), m_wholeSize);
        m_inMemory = inflateWhole(in, out) && Crc32(std::string_view(m_whole.get(), m_wholeSize)) == crc;
        return m_inMemory;
    }

    BinaryStream& m_stream;
    std::int64_t m_storedLeft = 0;
    std::uint32_t m_crc = 0;
    std::unique_ptr<char[]> m_chunk;  // the last piece of a stored entry
    std::size_t m_chunkCapacity = 0;
    std::string m_inflated;           // the last piece from the streaming inflater
    bool m_inMemory = false;
    std::unique_ptr<char[]> m_whole;
    std::size_t m_wholeSize = 0;
    std::size_t m_wholePos = 0;
    std::unique_ptr<ZipBinaryStreamReader> m_reader;
    std::unique_ptr<ZStream> m_inflater;
};

struct LocalHeader {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::int64_t compressedSize = 0;
    std::int64_t size = 0;
    std::int64_t dataStart = 0;
};

} // namespace

bool ZipEntry::z_unzip(SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut, bool decodeMacBinary, bool isFolder,
    std::optional<MemoryBlock>& mbHdr)
{
    mbHdr.reset();
    if (!d->zipStream) {
        errmsg = "Archive is closed";
        return false;
    }
    ArchiveReader reader{*d->zipStream, d->zipStream->length(), d->copyChunkSize};
    return z_unzip(reader, dataOut, rsrcOut, decodeMacBinary, isFolder, mbHdr);
}

bool ZipEntry::z_unzip(const ArchiveReader& reader, SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut,
    bool decodeMacBinary, bool isFolder, std::optional<MemoryBlock>& mbHdr)
{
    namespace c = zip::central;
    namespace l = zip::local;
    mbHdr.reset();
    bool macBinary = decodeMacBinary;
    bool appleDouble = false;
    BinaryStream& zs = reader.stream;

    // The local header, read whole; a short read is as bad as a wrong signature.
    const std::int64_t localOffset = header.uint32Value(c::LocalHeaderOffset);
    zs.setPosition(std::uint64_t(localOffset));
    const MemoryBlock lh = MemoryBlock::fromString(zs.read(l::Size));
    if (lh.size() != l::Size || lh.uint32Value(l::Signature) != zip::LocalHeaderSignature) {
        errmsg = BadLocalSignature;
        return false;
    }
    LocalHeader local;
    local.flags = lh.uint16Value(l::Flags);
    local.method = lh.uint16Value(l::Method);
    local.crc = lh.uint32Value(l::Crc32);
    local.compressedSize = lh.uint32Value(l::CompressedSize);
    local.size = lh.uint32Value(l::UncompressedSize);
    local.dataStart =
        localOffset + std::int64_t(l::Size) + lh.uint16Value(l::NameLength) + lh.uint16Value(l::ExtraLength);

    // With a data descriptor the local sizes are 0: the central record's hold.
    if (local.flags & zip::FlagDataDescriptor) {
        local.crc = header.uint32Value(c::Crc32);
        local.compressedSize = header.uint32Value(c::CompressedSize);
        local.size = header.uint32Value(c::UncompressedSize);
    }

    if (thisIsTheAppleDoubleEntry) {
        appleDouble = true;
        macBinary = false;
        if (local.size < std::int64_t(AppleDoubleHeaderSize)) {
            errmsg = "The AppleDouble header is too short (<82 bytes)";
            return false;
        }
    } else if (macBinary) {
        if (appleDoubleEntry) {
            macBinary = false;
        } else if (local.size < std::int64_t(macbinary::HeaderSize)) {
            if (isFolder)
                return true;
            macBinary = false;
        } else if (extra && extra->HasZpitShortForm()) {
            // This library writes the short ZPIT form for every file it does not wrap, so a
            // user's file that merely begins like a MacBinary header stays as it is.
            macBinary = false;
        }
    }

    const std::uint16_t centralFlags = header.uint16Value(c::Flags);
    if (local.method != header.uint16Value(c::Method) || local.crc != header.uint32Value(c::Crc32) ||
        local.compressedSize != std::int64_t(header.uint32Value(c::CompressedSize)) ||
        local.size != std::int64_t(header.uint32Value(c::UncompressedSize)) ||
        (local.flags != centralFlags && !d->isFakeEntry(header, local.flags))) {
        errmsg = "File Headers mismatch";
        return false;
    }
    if (local.flags & zip::FlagEncrypted) {
        errmsg = "Unsupported format (encrypted)";
        return false;
    }
    if (local.method != zip::MethodStored && local.method != zip::MethodDeflated) {
        errmsg = "Unsupported compression method (" + std::to_string(local.method) + ")";
        return false;
    }
    // Data that would lie past the end of the file, and a stored entry whose two sizes differ,
    // are corrupt: nothing is read for them.
    if (local.size > zip::MaxReadSize || local.compressedSize > zip::MaxReadSize ||
        local.dataStart + local.compressedSize > std::int64_t(reader.length) ||
        (local.method == zip::MethodStored && local.compressedSize != local.size)) {
        errmsg = Corrupted;
        return false;
    }

    std::unique_ptr<EntrySource> source;
    zs.setPosition(std::uint64_t(local.dataStart));
    if (local.method == zip::MethodDeflated) {
        if (!ZipConfig::UsePlugin) {
            errmsg = "Can't deflate because of missing compression plugin";
            return false;
        }
        std::string trailer(zip::GzipTrailerSize, '\0');
        auto* t = reinterpret_cast<std::uint8_t*>(trailer.data());
        bytes::storeLE32(std::span<std::uint8_t, 4>(t, 4), local.crc);
        bytes::storeLE32(std::span<std::uint8_t, 4>(t + 4, 4), std::uint32_t(local.size));
        source = std::make_unique<EntrySource>(
            zs, local.compressedSize, local.size, local.crc, zlib_prefix.toString(), std::move(trailer));
        if (source->inflaterError() != 0) {
            errmsg = inflateError(source->inflaterError());
            return false;
        }
    } else {
        source = std::make_unique<EntrySource>(zs, local.compressedSize);
    }

    // --- the copy ---
    SeqDataOutputStream* current = nullptr;
    if (dataOut && !isFolder) {
        if (!dataOut->Open()) {
            errmsg = "Opening destination file failed";
            return false;
        }
        current = dataOut;
    }
    const std::int64_t chunk = std::max<std::int64_t>(reader.chunkSize, MinChunkSize);
    const std::int64_t total = local.size;
    std::int64_t remaining = total;
    std::int64_t bytesRead = 0;
    std::int64_t adjustment = 0;
    bool abort = false, decodeFailure = false, writeFailure = false, folderStop = false;
    enum class Pending { None, MacBinary, AppleDouble };
    Pending pending = appleDouble ? Pending::AppleDouble : macBinary ? Pending::MacBinary : Pending::None;
    bool split = false, rsrcStarted = false;
    std::int64_t dataLeft = 0, rsrcStart = 0, rsrcLeft = 0;

    auto report = [&](std::int64_t done) {
        d->monitor->zipProgress(*this, std::int32_t(total), std::int32_t(done), abort);
    };
    if (d->monitor && !isFolder)
        report(0);

    while (remaining > 0 && !abort) {
        std::int64_t n;
        if (!split) {
            n = std::min(chunk + adjustment, remaining);
        } else if (dataLeft > 0) {
            n = std::min(chunk + adjustment, dataLeft);
            dataLeft -= n;
        } else if (bytesRead < rsrcStart) {
            // Padding behind the data fork, or what lies between an AppleDouble header and its
            // fork: dropped, chunk by chunk.
            n = std::min(rsrcStart - bytesRead, chunk);
            current = nullptr;
        } else if (rsrcLeft > 0) {
            if (!rsrcStarted) {
                rsrcStarted = true;
                if (dataOut && !dataOut->Close()) {
                    writeFailure = true;
                    break;
                }
                if (rsrcOut && !rsrcOut->Open()) {
                    errmsg = "Opening destination rsrc fork failed";
                    return false;
                }
                current = rsrcOut;
            }
            n = std::min(chunk + adjustment, rsrcLeft);
            rsrcLeft -= n;
        } else {
            current = nullptr;
            n = std::min(chunk + adjustment, remaining);
        }
        adjustment = 0;
        if (pending == Pending::AppleDouble) {
            n = AppleDoubleHeaderSize;
            adjustment = -n;
        } else if (pending == Pending::MacBinary) {
            n = macbinary::HeaderSize;
            adjustment = -n;
        }

        std::string_view buf;
        int inflater = 0;
        if (!source->read(n, buf, inflater)) {
            decodeFailure = true;
            errmsg = inflateError(inflater);
            break;
        }
        bytesRead += std::int64_t(buf.size());
        if (std::int64_t(buf.size()) != n)
            break;

        if (pending != Pending::None) {
            const bool isAD = pending == Pending::AppleDouble;
            pending = Pending::None;
            std::int32_t start = 0;
            if (!z_unzipMBHdr(isAD, buf, mbHdr, start)) {
                decodeFailure = true;
                break;
            }
            if (mbHdr) {
                buf = {};
                split = true;
                dataLeft = mbHdr->int32Value(macbinary::offset::DataLength);
                rsrcLeft = mbHdr->int32Value(macbinary::offset::RsrcLength);
                rsrcStart = isAD ? std::int64_t(start) : macbinary::rsrcStart(dataLeft);
                if (remaining < rsrcStart + rsrcLeft)
                    break;
            }
        }
        if (isFolder) {
            folderStop = true;
            break;
        }
        if (current && !current->Write(buf)) {
            writeFailure = true;
            break;
        }
        remaining -= n;
        if (d->monitor && remaining > 0)
            report(total - remaining);
        Thread::yieldPoint();
    }

    if (d->monitor && !isFolder)
        report(total);
    if (rsrcOut && !rsrcOut->Close())
        writeFailure = true;
    if (dataOut && !dataOut->Close())
        writeFailure = true;

    // The companion brings the resource fork and the Finder info; a companion never has one of
    // its own read, however the names were crafted.
    if (!decodeFailure && decodeMacBinary && appleDoubleEntry && !thisIsTheAppleDoubleEntry) {
        if (!appleDoubleEntry->z_unzip(reader, nullptr, rsrcOut, true, isFolder, mbHdr)) {
            errmsg = appleDoubleEntry->errmsg;
            decodeFailure = true;
        } else if (mbHdr) {
            mbHdr->setUInt32Value(macbinary::offset::DataLength, std::uint32_t(total));
        }
    }

    if (decodeFailure)
        return false;
    if (abort) {
        errmsg = "Aborted";
        return false;
    }
    if (writeFailure) {
        errmsg = "File write error (disk full?)";
        return false;
    }
    if (!folderStop) {
        if (bytesRead != total || (source->isStored() && source->storedCrc() != local.crc)) {
            errmsg = Corrupted;
            return false;
        }
        // An empty entry some writers mark deflated without a single byte of deflate data.
        const bool noData = total == 0 && local.compressedSize == 0;
        int inflater = 0;
        if (!noData && !source->endsHere(inflater)) {
            errmsg = inflater != 0 ? inflateError(inflater) : Corrupted;
            return false;
        }
    }
    return true;
}

bool ZipEntry::Verify()
{
    try {
        std::optional<MemoryBlock> header;
        return z_unzip(nullptr, nullptr, false, false, header);
    } catch (const std::exception&) {
        errmsg = "Internal error (exception)";
        return false;
    }
}

bool ZipEntry::Extract(
    bool decodeMacBinary, SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut, std::optional<MemoryBlock>& mbHdr)
{
    mbHdr.reset();
    try {
        if (!dataOut && !rsrcOut && !decodeMacBinary)
            throw RuntimeException("Extract without a stream");
        std::optional<MemoryBlock> header;
        const bool ok = z_unzip(dataOut, rsrcOut, decodeMacBinary, isFolder, header);
        mbHdr = std::move(header);
        return ok;
    } catch (const std::exception&) {
        errmsg = "Internal error (exception)";
        return false;
    }
}

} // namespace lv
