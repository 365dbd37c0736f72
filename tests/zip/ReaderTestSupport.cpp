#include "ReaderTestSupport.h"

#include <sys/xattr.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "zip/ExtractionJob.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {

std::string le16(std::uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(std::uint16_t(v)) + le16(std::uint16_t(v >> 16)); }

namespace {
std::string be16(std::uint16_t v) { return {char(v >> 8), char(v & 0xFF)}; }
std::string be32(std::uint32_t v) { return be16(std::uint16_t(v >> 16)) + be16(std::uint16_t(v)); }
} // namespace

void setBytes(std::string& bytes, std::size_t at, std::string_view value) { bytes.replace(at, value.size(), value); }

std::string rawDeflate(std::string_view data)
{
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, uLong(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

RawZip layoutZip(const std::vector<RawEntry>& entries)
{
    RawZip zip;
    for (const RawEntry& e : entries) {
        const std::string payload = e.deflate ? rawDeflate(e.data) : e.data;
        const std::uint32_t crc =
            std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), uInt(e.data.size())));
        const bool descriptor = e.flags & 8;
        const std::uint16_t method = e.deflate ? 8 : 0;
        const std::uint32_t offset = std::uint32_t(zip.locals.size());
        zip.localOffsets.push_back(offset);

        std::string common = le16(e.flags) + le16(method) + le16(0x6000) + le16(0x4A21) /* 2017-01-01 12:00:00 */;
        std::string sizes = le32(crc) + le32(std::uint32_t(payload.size())) + le32(std::uint32_t(e.data.size()));
        zip.locals += le32(0x04034B50) + le16(e.versionNeeded) + common + (descriptor ? std::string(12, '\0') : sizes) +
            le16(std::uint16_t(e.name.size())) + le16(std::uint16_t(e.extra.size())) + e.name + e.extra + payload;
        if (descriptor)
            zip.locals += le32(0x08074B50) + sizes;
        zip.central += le32(0x02014B50) + char(20) + char(e.host) + le16(e.versionNeeded) + common + sizes +
            le16(std::uint16_t(e.name.size())) + le16(std::uint16_t(e.extra.size())) + le16(0) + le16(0) + le16(0) +
            le32(e.externalAttributes) + le32(offset) + e.name + e.extra;
        ++zip.count;
    }
    return zip;
}

std::string RawZip::bytes(std::string_view comment) const
{
    return locals + central +
        endRecord(0, 0, count, count, std::uint32_t(central.size()), std::uint32_t(locals.size()), comment);
}

std::string endRecord(std::uint16_t disk, std::uint16_t dirDisk, std::uint16_t onDisk, std::uint16_t total,
    std::uint32_t dirSize, std::uint32_t dirOffset, std::string_view comment)
{
    return le32(0x06054B50) + le16(disk) + le16(dirDisk) + le16(onDisk) + le16(total) + le32(dirSize) +
        le32(dirOffset) + le16(std::uint16_t(comment.size())) + std::string(comment);
}

std::string unixType1Extra(std::int32_t accessTime, std::int32_t modificationTime)
{
    return le16(0x5855) + le16(8) + le32(std::uint32_t(accessTime)) + le32(std::uint32_t(modificationTime));
}

std::string appleDouble(
    std::string_view type, std::string_view creator, std::uint16_t finderFlags, std::string_view resourceFork)
{
    std::string finderInfo = std::string(type) + std::string(creator) + be16(finderFlags);
    finderInfo.resize(32, '\0');
    return be32(0x00051607) + be32(0x00020000) + std::string("Mac OS X        ") + be16(2) + be32(9) + be32(50) +
        be32(32) + be32(2) + be32(82) + be32(std::uint32_t(resourceFork.size())) + finderInfo +
        std::string(resourceFork);
}

std::string extractAll(const std::filesystem::path& archivePath, const std::filesystem::path& dest)
{
    ZipConfig::UsePlugin = true;
    ZipArchive archive;
    if (!archive.Open(FolderItem(archivePath), false))
        return archive.ErrorMessage();
    ExtractionJob job{FolderItem(dest)};
    for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
        std::string error;
        if (!job.extract(*archive.Entry(i), error))
            return error;
    }
    if (!archive.Close())
        return archive.ErrorMessage();
    std::string error;
    if (!job.finish(error))
        return error;
    return {};
}

std::optional<std::string> userXattr(const std::filesystem::path& file, const std::string& name)
{
    const std::string attr = "user." + name;
    const ssize_t n = ::lgetxattr(file.c_str(), attr.c_str(), nullptr, 0);
    if (n < 0)
        return std::nullopt;
    std::string value(std::size_t(n), '\0');
    if (::lgetxattr(file.c_str(), attr.c_str(), value.data(), value.size()) != n)
        return std::nullopt;
    return value;
}

} // namespace lv::test
