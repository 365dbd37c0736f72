// Recognising MacBinary headers and turning AppleDouble companions into the same 128-byte form,
// so that the rest of the extraction knows an item's Mac metadata in one shape only.

#include <ctime>
#include <limits>

#include "platform/ByteOrder.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/compression/Crc.h"
#include "zip/MacBinary.h"
#include "zip/ZipEntry.h"
#include "zip/ZipExtraField.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

namespace appledouble {
inline constexpr std::size_t HeaderSize = 82; // header, two descriptors, 32 bytes of Finder info
inline constexpr std::uint32_t Magic = 0x00051607;
inline constexpr std::uint32_t Version2 = 0x00020000;
inline constexpr std::uint32_t FinderInfoId = 9;
inline constexpr std::uint32_t ResourceForkId = 2;
inline constexpr std::size_t FinderInfoLength = 32;
// The 26 bytes of Finder info that are converted must lie inside the 82 bytes read.
inline constexpr std::int64_t MaxFinderInfoOffset = std::int64_t(HeaderSize) - 26;
} // namespace appledouble

} // namespace

bool ZipExtraField::HasZpitShortForm() const
{
    if (m_zpitRec < 0 || std::size_t(m_zpitRec) + 2 > m_data.size())
        return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(m_data.data()) + m_zpitRec;
    return bytes::loadLE16(std::span<const std::uint8_t, 2>(p, 2)) == zpit::ShortFormId;
}

std::int32_t ZipEntry::z_MBHdrLevel(const MemoryBlock& hdr) const
{
    namespace o = macbinary::offset;
    if (hdr.size() < macbinary::HeaderSize)
        return 0;
    const std::uint8_t nameLen = hdr.byteValue(o::NameLength);
    if (hdr.byteValue(o::OldVersion) != 0 || hdr.byteValue(o::ZeroFill) != 0 || hdr.int16Value(o::ComputerType) != 0 ||
        hdr.int32Value(o::DataLength) < 0 || hdr.int32Value(o::RsrcLength) < 0 || nameLen < 1 ||
        nameLen > macbinary::MaxNameLength)
        return 0;
    // Forks that cannot fit in the entry mean these bytes only look like a header by chance: the
    // entry is some other file, to be extracted as it is.
    const std::int64_t entrySize = header.uint32Value(zip::central::UncompressedSize);
    if (macbinary::rsrcStart(hdr.int32Value(o::DataLength)) + hdr.int32Value(o::RsrcLength) > entrySize)
        return 0;
    if (hdr.uint16Value(o::Crc) == Crc16_MemoryBlock(hdr, 0, o::Crc, 0)) {
        if (hdr.uint32Value(o::Signature) != macbinary::SignatureValue)
            return 2;
        return hdr.byteValue(o::ReaderVersion) < 131 ? 3 : 4;
    }
    return supportMB1 && nameLen < 32 ? 1 : 0;
}

bool ZipEntry::z_unzipMBHdr(
    bool isAppleDouble, std::string_view data, std::optional<MemoryBlock>& mbHdr, std::int32_t& rsrcStart)
{
    namespace o = macbinary::offset;
    MemoryBlock block(macbinary::HeaderSize, false);

    if (!isAppleDouble) {
        block.setStringValue(0, data.substr(0, macbinary::HeaderSize));
        if (z_MBHdrLevel(block) > 0) {
            const std::int64_t start = macbinary::rsrcStart(block.int32Value(o::DataLength));
            rsrcStart = std::int32_t(std::min<std::int64_t>(start, std::numeric_limits<std::int32_t>::max()));
            mbHdr = std::move(block);
        }
        return true;
    }

    mbHdr = block;
    MemoryBlock ad = MemoryBlock::fromString(data, false);
    auto refuse = [this] {
        errmsg = "Invalid or unsupported AppleDouble header";
        return false;
    };
    if (ad.size() < appledouble::HeaderSize)
        return refuse();
    if (ad.uint32Value(0) != appledouble::Magic || ad.uint32Value(4) != appledouble::Version2 ||
        ad.int16Value(24) != 2 || ad.uint32Value(26) != appledouble::FinderInfoId ||
        ad.int32Value(34) < std::int32_t(appledouble::FinderInfoLength) ||
        ad.uint32Value(38) != appledouble::ResourceForkId)
        return refuse();
    const std::int64_t fi = ad.int32Value(30);
    const std::int32_t forkOffset = ad.int32Value(42);
    const std::int32_t forkLength = ad.int32Value(46);
    // The Finder info must lie within what was read, and a fork must not start inside the header.
    if (fi < 0 || fi > appledouble::MaxFinderInfoOffset || forkLength < 0 || forkOffset < 0 ||
        (forkLength > 0 && forkOffset < std::int32_t(appledouble::HeaderSize)))
        return refuse();

    // Type, creator, flags, location and folder; then the extended info's script and flags.
    mbHdr->setStringValue(o::Type, ad.stringValue(std::size_t(fi), 16));
    mbHdr->setByteValue(o::Script, ad.byteValue(std::size_t(fi) + 24));
    mbHdr->setByteValue(o::ExtendedFlags, ad.byteValue(std::size_t(fi) + 25));
    mbHdr->setByteValue(o::FinderFlagsLow, mbHdr->byteValue(o::FinderFlagsHigh + 1));
    mbHdr->setByteValue(o::FinderFlagsHigh + 1, 0);

    std::int32_t accTime = 0, modTime = 0;
    if (extra && extra->GetUnixTimes(accTime, modTime)) {
        const std::uint32_t t = toMacDate(modTime);
        mbHdr->setUInt32Value(o::Created, t);
        mbHdr->setUInt32Value(o::Modified, t);
    }
    rsrcStart = forkOffset;
    mbHdr->setUInt32Value(o::RsrcLength, std::uint32_t(forkLength));
    return true;
}

std::int32_t ZipEntry::UTCOffsetInMinutes() { return std::int32_t(utcOffsetAt(std::int64_t(std::time(nullptr))) / 60); }

bool ZipEntry::GetMacBinaryHeader(std::optional<MemoryBlock>& mbHdr)
{
    mbHdr.reset();
    try {
        std::optional<MemoryBlock> header;
        if (!z_unzip(nullptr, nullptr, true, true, header))
            return false;
        errmsg.clear();
        mbHdr = std::move(header);
        return mbHdr.has_value();
    } catch (const std::exception&) {
        errmsg = "Internal error (exception)";
        return false;
    }
}

} // namespace lv
