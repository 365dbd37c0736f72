#pragma once
// The MacBinary III header: 128 bytes, big-endian, followed in an entry by the data fork and
// the resource fork, each padded with zeros to a multiple of 128.
//
// Building: ZipArchive::MakeMacBinaryHeader (MacBinaryHeader.cpp). Recognition and decoding:
// ZipEntry::z_MBHdrLevel and ZipEntry::z_unzipMBHdr (MacHeaderDecoding.cpp).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lv::macbinary {

inline constexpr std::size_t HeaderSize = 128;
inline constexpr std::size_t MaxNameLength = 63;

namespace offset {
inline constexpr std::size_t OldVersion = 0;
inline constexpr std::size_t NameLength = 1;
inline constexpr std::size_t Name = 2;
inline constexpr std::size_t Type = 65;
inline constexpr std::size_t Creator = 69;
inline constexpr std::size_t FinderFlagsHigh = 73;  // bits 8-15 of fdFlags
inline constexpr std::size_t Protected = 81;
inline constexpr std::size_t ZeroFill = 82;
inline constexpr std::size_t DataLength = 83;
inline constexpr std::size_t RsrcLength = 87;
inline constexpr std::size_t Created = 91;
inline constexpr std::size_t Modified = 95;
inline constexpr std::size_t CommentLength = 99;
inline constexpr std::size_t FinderFlagsLow = 101;  // bits 0-7 of fdFlags
inline constexpr std::size_t Signature = 102;       // "mBIN"
inline constexpr std::size_t Script = 106;
inline constexpr std::size_t ExtendedFlags = 107;
inline constexpr std::size_t WriterVersion = 122;
inline constexpr std::size_t ReaderVersion = 123;
inline constexpr std::size_t Crc = 124;
inline constexpr std::size_t ComputerType = 126;
} // namespace offset

inline constexpr std::uint32_t SignatureValue = 0x6D42494E;  // "mBIN"
inline constexpr std::uint8_t WriterVersionValue = 130;
inline constexpr std::uint8_t ReaderVersionValue = 129;
inline constexpr std::uint16_t FinderFlagInvisible = 0x4000;
inline constexpr std::uint8_t HasBeenInitedMask = 0xFE;  // clears hasBeenInited in bits 8-15

// A fork length rounded up to a multiple of 128.
constexpr std::int64_t padded(std::int64_t length) { return (length + 127) & ~std::int64_t(127); }
// Length of the whole MacBinary stream: header plus both padded forks.
constexpr std::int64_t streamLength(std::int64_t dataLength, std::int64_t rsrcLength)
{
    return std::int64_t(HeaderSize) + padded(dataLength) + padded(rsrcLength);
}
// Offset of the resource fork in the stream.
constexpr std::int64_t rsrcStart(std::int64_t dataLength) { return std::int64_t(HeaderSize) + padded(dataLength); }

// The longest prefix of `text` of at most `maxBytes` bytes that does not split a UTF-8
// character (text that is not UTF-8 is cut at the byte count).
std::string cutAtCharBoundary(std::string_view text, std::size_t maxBytes);

} // namespace lv::macbinary
