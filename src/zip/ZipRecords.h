#pragma once
// Layout of the zip records this library writes and reads (zip format version 2.0, one disk,
// no encryption, no 64-bit extensions) and the limits their field widths impose.
//
// All record integers are little-endian. Offsets are from the start of each record.

#include <cstdint>

namespace lv::zip {

// Signatures.
inline constexpr std::uint32_t LocalHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t CentralHeaderSignature = 0x02014B50;
inline constexpr std::uint32_t EndOfDirSignature = 0x06054B50;

inline constexpr std::uint16_t VersionNeeded = 20;  // version needed to extract, and made by
inline constexpr std::uint16_t MethodStored = 0;
inline constexpr std::uint16_t MethodDeflated = 8;
inline constexpr std::uint16_t FlagEncrypted = 0x0001;
inline constexpr std::uint16_t FlagDataDescriptor = 0x0008;

// Host systems of the version-made-by byte.
inline constexpr std::uint8_t HostMSDOS = 0;
inline constexpr std::uint8_t HostUnix = 3;
inline constexpr std::uint8_t HostMacintosh = 7;

// File types of a Unix mode, as external attributes carry it in their upper 16 bits.
inline constexpr std::uint32_t UnixTypeMask = 0170000;
inline constexpr std::uint32_t UnixRegularFile = 0100000;
inline constexpr std::uint32_t UnixDirectory = 0040000;

// Local file header: 30 bytes, then name and extra field.
namespace local {
inline constexpr std::size_t Size = 30;
inline constexpr std::size_t Signature = 0;
inline constexpr std::size_t VersionNeeded = 4;
inline constexpr std::size_t Flags = 6;
inline constexpr std::size_t Method = 8;
inline constexpr std::size_t Time = 10;
inline constexpr std::size_t Date = 12;
inline constexpr std::size_t Crc32 = 14;
inline constexpr std::size_t CompressedSize = 18;
inline constexpr std::size_t UncompressedSize = 22;
inline constexpr std::size_t NameLength = 26;
inline constexpr std::size_t ExtraLength = 28;
} // namespace local

// Central directory file header: 46 bytes, then name, extra field and comment. An entry keeps
// these 46 bytes as its `header`.
namespace central {
inline constexpr std::size_t Size = 46;
inline constexpr std::size_t Signature = 0;
inline constexpr std::size_t VersionMadeBy = 4;  // zip format version (low byte) and host (high byte)
inline constexpr std::size_t HostSystem = 5;     // upper byte of version made by
inline constexpr std::size_t VersionNeeded = 6;
inline constexpr std::size_t Flags = 8;
inline constexpr std::size_t Method = 10;
inline constexpr std::size_t Time = 12;
inline constexpr std::size_t Date = 14;
inline constexpr std::size_t Crc32 = 16;
inline constexpr std::size_t CompressedSize = 20;
inline constexpr std::size_t UncompressedSize = 24;
inline constexpr std::size_t NameLength = 28;
inline constexpr std::size_t ExtraLength = 30;
inline constexpr std::size_t CommentLength = 32;
inline constexpr std::size_t DiskNumberStart = 34;
inline constexpr std::size_t InternalAttributes = 36;
inline constexpr std::size_t ExternalAttributes = 38;
inline constexpr std::size_t LocalHeaderOffset = 42;
} // namespace central

// End of central directory record: 22 bytes, then the archive comment.
namespace eocd {
inline constexpr std::size_t Size = 22;
inline constexpr std::size_t Signature = 0;
inline constexpr std::size_t DiskNumber = 4;
inline constexpr std::size_t DirStartDisk = 6;
inline constexpr std::size_t EntriesOnDisk = 8;
inline constexpr std::size_t EntriesTotal = 10;
inline constexpr std::size_t DirSize = 12;
inline constexpr std::size_t DirOffset = 16;
inline constexpr std::size_t CommentLength = 20;
// The backward scan for the end record looks this far below (length - 22).
inline constexpr std::int64_t MaxScanBack = 65560;
} // namespace eocd

// Limits of the field widths. Offsets and sizes are signed 32-bit in what this library writes,
// so nothing it writes may pass MaxOffset; what it reads may use the fields' whole unsigned
// range (an entry of up to 4 GiB - 1 made elsewhere). Counts and lengths are 16-bit.
inline constexpr std::int64_t MaxOffset = 0x7FFFFFFF;  // 2^31 - 1
inline constexpr std::int64_t MaxReadSize = 0xFFFFFFFF;  // 2^32 - 1
inline constexpr std::int32_t MaxEntries = 65535;
inline constexpr std::int64_t MaxFieldLength = 65535;  // name, extra field, comment

// The zip64 extension, recognised only to be refused: its end-of-directory locator sits right
// before the end record; its extra block (ID 1) holds the 64-bit sizes and offset of an entry
// whose 32-bit fields are all ones.
inline constexpr std::uint32_t Zip64LocatorSignature = 0x07064B50;
inline constexpr std::size_t Zip64LocatorSize = 20;
inline constexpr std::uint16_t Zip64ExtraId = 0x0001;

// Size of the gzip framing the compression stream adds around raw deflate data.
inline constexpr std::size_t GzipHeaderSize = 10;
inline constexpr std::size_t GzipTrailerSize = 8;

// Largest deflate output for `n` input bytes, gzip framing included (zlib's deflateBound for the
// default settings, rounded up).
constexpr std::int64_t deflateBound(std::int64_t n)
{
    return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + 5 + GzipHeaderSize + GzipTrailerSize;
}

} // namespace lv::zip
