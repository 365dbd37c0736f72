#pragma once
// A random-access byte stream on an open file, with 64-bit positions, integer accessors in a
// chosen byte order and a sticky error state.
//
// After any failed read, write, seek or truncate, `lastErrorCode()` holds the errno of the first
// failure and stays set until `clearError()`; failed reads return what was read before the
// failure (possibly nothing), failed writes write nothing more. The descriptor is closed by
// `close()` or by the destructor.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace lv {

class BinaryStream {
public:
    // Takes ownership of an open file descriptor; `writable` tells whether writes are allowed.
    BinaryStream(int fd, bool writable);
    ~BinaryStream();
    BinaryStream(const BinaryStream&) = delete;
    BinaryStream& operator=(const BinaryStream&) = delete;

    bool littleEndian() const noexcept { return m_littleEndian; }
    void setLittleEndian(bool le) noexcept { m_littleEndian = le; }
    bool isOpen() const noexcept { return m_fd >= 0; }
    bool writable() const noexcept { return m_writable; }

    std::uint64_t position() const noexcept { return m_position; }
    // Any position may be set; reading past the end gives nothing.
    void setPosition(std::uint64_t position) noexcept { m_position = position; }
    // The current length of the file (fstat), 0 after an error.
    std::uint64_t length() const;
    // Truncates or extends the file; false (and the sticky error) on failure.
    bool setLength(std::uint64_t length);
    // True when the position is at or past the end of the file, and on a closed stream.
    bool eof() const;

    // Up to `count` bytes from the current position; fewer at the end or after an error.
    std::string read(std::size_t count);
    // The same into `into`, without a buffer of its own: the count of bytes read.
    std::size_t read(std::span<char> into);
    // Writes all of `bytes` at the current position; false (and the sticky error) on failure.
    bool write(std::string_view bytes);

    // Integers in the stream's byte order. A value the stream ends inside of reads as 0 and sets
    // the error state (EIO).
    std::uint8_t readUInt8();
    std::uint16_t readUInt16();
    std::uint32_t readUInt32();
    std::int16_t readInt16() { return std::int16_t(readUInt16()); }
    std::int32_t readInt32() { return std::int32_t(readUInt32()); }
    bool writeUInt8(std::uint8_t v);
    bool writeUInt16(std::uint16_t v);
    bool writeUInt32(std::uint32_t v);

    // A string behind a one-byte length (at most 255 bytes). `readPString` gives "" and sets the
    // error state (EIO) when the stream ends before the whole string, its length byte included;
    // `writePString` refuses longer strings (EINVAL) and writes nothing.
    std::string readPString();
    bool writePString(std::string_view bytes);

    // Flushes written data to the disk (fsync); false on failure.
    bool sync();
    // Starts writing `length` bytes from `offset` out to the disk without waiting, so that a
    // later sync has less left to do. Advice only: no error is kept.
    void startWriteback(std::uint64_t offset, std::uint64_t length) noexcept;
    // Closes the descriptor; false when close reported an error (a delayed write error).
    bool close();

    int lastErrorCode() const noexcept { return m_error; }
    bool hadError() const noexcept { return m_error != 0; }
    void clearError() noexcept { m_error = 0; }

private:
    void fail(int err) noexcept;

    int m_fd;
    bool m_writable;
    bool m_littleEndian = false;
    std::uint64_t m_position = 0;
    int m_error = 0;
};

using BinaryStreamPtr = std::unique_ptr<BinaryStream>;

} // namespace lv
