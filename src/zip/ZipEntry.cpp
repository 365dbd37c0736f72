#include "zip/ZipEntry.h"

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "zip/ZipRecords.h"

namespace lv {

using namespace zip;

ZipEntry::ZipEntry(ZipArchiveDataPtr d_, std::optional<MemoryBlock> header_, std::string zipEncName_,
                   ZipExtraFieldPtr extra_, std::string zipEncComment_)
    : zipEncName(std::move(zipEncName_)),
      header(header_ ? std::move(*header_) : MemoryBlock(central::Size, true)),
      extra(std::move(extra_)),
      d(std::move(d_)),
      zipEncComment(std::move(zipEncComment_))
{
    sysEncName = d->decodeFromZip(zipEncName);
    sysEncComment = d->decodeFromZip(zipEncComment);
    if (!extra) {
        extra = std::make_shared<ZipExtraField>(d, "");
        extra->Lock();
    }
    z_checkRawPath();
    z_setup();
}

void ZipEntry::z_setup()
{
    static constexpr std::uint8_t gzipHeader[GzipHeaderSize] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07};
    zlib_prefix = MemoryBlock::fromString(std::string_view(reinterpret_cast<const char*>(gzipHeader), sizeof gzipHeader));
    maxIntPlus1 = 2147483648.0;
    if (header.size() != central::Size) {
        MemoryBlock blank(central::Size, true);
        blank.setStringValue(0, header.stringValue(0, std::min(header.size(), central::Size)));
        header = std::move(blank);
    }
    header.setLittleEndian(true);
}

std::int32_t ZipEntry::CompressedSize() const { return header.int32Value(central::CompressedSize); }
std::int32_t ZipEntry::Size() const { return header.int32Value(central::UncompressedSize); }
std::int32_t ZipEntry::CompressionMethod() const { return header.uint16Value(central::Method); }
bool ZipEntry::IsEncrypted() const { return (header.uint16Value(central::Flags) & FlagEncrypted) != 0; }

bool ZipEntry::CanExtract() const
{
    const std::int32_t method = CompressionMethod();
    return (method == MethodStored || method == MethodDeflated) && !IsEncrypted() && !isFolder;
}

std::optional<std::int64_t> ZipEntry::Time() const
{
    return fromDosDateTime({header.uint16Value(central::Date), header.uint16Value(central::Time)});
}

void ZipEntry::SetComment(std::string_view comment)
{
    sysEncComment = std::string(comment);
    zipEncComment = d->encodeForZip(comment);
    d->dirty = true;
}

ZipExtraFieldPtr ZipEntry::ExtraFieldInCentralDir() const
{
    if (!extra->IsLocked())
        throw RuntimeException("The central extra field is not locked");
    return extra;
}

bool ZipEntry::z_icMapFilename(std::string_view, std::string&, std::string&) const
{
    // No file-name mapping service exists on this platform.
    return false;
}

std::string ZipEntry::Name() const
{
    const std::vector<std::string> path = pathComponents();
    return path.empty() ? std::string() : path.back();
}

bool ZipEntry::IsTextFile() const { return (header.uint16Value(central::InternalAttributes) & 1) != 0; }

void ZipEntry::SetTextFileFlag(bool flag)
{
    const std::uint16_t attrs = header.uint16Value(central::InternalAttributes);
    header.setUInt16Value(central::InternalAttributes, flag ? std::uint16_t(attrs | 1) : std::uint16_t(attrs & 0xFFFE));
}

std::int32_t ZipEntry::OSMadeBy() const { return header.byteValue(central::HostSystem); }
void ZipEntry::SetOSMadeBy(std::int32_t host) { header.setByteValue(central::HostSystem, std::uint8_t(host)); }
std::int32_t ZipEntry::ExternalFileAttributes() const { return header.int32Value(central::ExternalAttributes); }
void ZipEntry::SetExternalFileAttributes(std::int32_t value)
{
    header.setUInt32Value(central::ExternalAttributes, std::uint32_t(value));
}

void ZipEntry::SetExtraFieldInCentralDir(ZipExtraFieldPtr field)
{
    if (!field)
        field = std::make_shared<ZipExtraField>(d, "");
    if (field->AsData().size() > std::size_t(MaxFieldLength))
        throw RuntimeException("The extra field is too long (more than 65535 bytes)");
    field->Lock();
    extra = std::move(field);
    header.setUInt16Value(central::ExtraLength, std::uint16_t(extra->AsData().size()));
    d->dirty = true;
}

ZipExtraFieldPtr ZipEntry::ExtraField()
{
    if (!d->zipStream) {
        errmsg = "Archive is closed";
        return nullptr;
    }
    BinaryStream& zs = *d->zipStream;
    const std::uint64_t saved = zs.position();
    const std::uint64_t at = header.uint32Value(central::LocalHeaderOffset);
    zs.setPosition(at);
    const bool signatureOk = zs.readUInt32() == LocalHeaderSignature;
    std::string raw;
    bool complete = false;
    if (signatureOk) {
        zs.setPosition(at + local::NameLength);
        const std::uint16_t nameLength = zs.readUInt16();
        const std::uint16_t extraLength = zs.readUInt16();
        zs.setPosition(zs.position() + nameLength);
        raw = zs.read(extraLength);
        complete = raw.size() == extraLength && !zs.hadError();
    }
    zs.clearError();
    zs.setPosition(saved);
    if (!complete) {
        errmsg = "Invalid Local File Header signature (archive appears to be severely corrupted)";
        return nullptr;
    }
    auto field = std::make_shared<ZipExtraField>(d, raw);
    field->Lock();
    return field;
}

} // namespace lv
