#pragma once
// Adapters between the archive's BinaryStream and the gzip-framed compression stream.
// Implementation: ZipBinaryStream.cpp.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/BinaryStream.h"
#include "platform/compression/ZStream.h"

namespace lv {

// Byte sink over the archive stream: drops the first `discardLeadingBytes` bytes handed to it
// (the gzip header of deflated output) and writes the rest at the stream's position. Optionally
// keeps a CRC-32 of everything handed to it. Reports no failure itself: the caller compares the
// stream's position with `BytesWritten` and checks the stream's error state.
class ZipBinaryStreamWriter final : public IStreamWriter {
public:
    ZipBinaryStreamWriter(BinaryStream& binstream, std::int32_t discardLeadingBytes)
        : m_binstream(binstream), m_discard(discardLeadingBytes) {}

    void Write(std::string_view data) override;
    // Does nothing: the archive owns the stream.
    void Close() override {}
    int LastError() const override { return 0; }
    int ErrorValue() const { return LastError(); }

    // Bytes handed to the archive stream (dropped bytes not counted).
    std::int64_t BytesWritten() const noexcept { return m_written; }
    // Switches the running CRC-32 on for all later writes.
    void EnableCRCCalculation() noexcept { m_calcCRC = true; }
    std::uint32_t CRC() const noexcept { return m_crc; }

private:
    BinaryStream& m_binstream;
    std::int64_t m_discard;
    std::int64_t m_written = 0;
    std::uint32_t m_crc = 0;
    bool m_calcCRC = false;
};

// Byte source for the inflater: the prefix, then `streamLen` bytes read on from the archive
// stream's current position, then the suffix. A request once nothing is left yields "" and sets
// the error -39.
class ZipBinaryStreamReader final : public IStreamReader {
public:
    ZipBinaryStreamReader(BinaryStream& stream, std::int64_t streamLen, std::string prefix, std::string suffix);

    std::string Read(std::size_t count) override;
    int LastError() const override { return m_errCode; }
    int ErrorValue() const { return LastError(); }
    // Bytes not yet delivered, all three sections together.
    std::int64_t Remaining() const noexcept { return m_leftToRead; }

private:
    std::string fetch(std::int64_t count);

    BinaryStream& m_stream;
    int m_errCode = 0;
    std::int64_t m_leftToRead;
    std::string m_prefix;
    std::string m_suffix;
    std::int64_t m_streamLen;
};

} // namespace lv
