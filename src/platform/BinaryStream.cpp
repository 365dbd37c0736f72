#include "platform/BinaryStream.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <span>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ByteOrder.h"

namespace lv {

namespace {

// Large reads grow their buffer step by step, so a huge count asked of a short file does not
// allocate memory for bytes that are not there.
constexpr std::size_t kReadStep = std::size_t(1) << 20;

constexpr std::uint64_t kMaxOffset = std::uint64_t(std::numeric_limits<off_t>::max());
// Writes go to the kernel 1 MiB at a time. A larger write lets the page cache of ext4 take whole
// 2 MiB pages, which a virtual machine may have handed back to its host: a fresh 256 MB file took
// 0.5 s in 4 MiB writes and 0.04 s in 1 MiB writes.
constexpr std::size_t kMaxWrite = std::size_t(1) << 20;

} // namespace

BinaryStream::BinaryStream(int fd, bool writable) : m_fd(fd), m_writable(writable) {}

BinaryStream::~BinaryStream()
{
    close();
}

void BinaryStream::fail(int err) noexcept
{
    if (m_error == 0)
        m_error = err ? err : EIO;
}

std::uint64_t BinaryStream::length() const
{
    struct stat st{};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || st.st_size < 0)
        return 0;
    return std::uint64_t(st.st_size);
}

bool BinaryStream::eof() const
{
    return m_fd < 0 || m_position >= length();
}

bool BinaryStream::setLength(std::uint64_t length)
{
    if (m_fd < 0 || !m_writable) {
        fail(EBADF);
        return false;
    }
    if (length > kMaxOffset) {
        fail(EFBIG);
        return false;
    }
    int rc;
    do
        rc = ::ftruncate(m_fd, off_t(length));
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        fail(errno);
        return false;
    }
    return true;
}

std::string BinaryStream::read(std::size_t count)
{
    std::string out;
    if (m_fd < 0) {
        fail(EBADF);
        return out;
    }
    while (out.size() < count) {
        std::uint64_t at = m_position + out.size();
        if (at > kMaxOffset)
            break;  // nothing can lie there
        std::size_t have = out.size();
        std::size_t want = std::min(count - have, kReadStep);
        out.resize(have + want);
        ssize_t n = ::pread(m_fd, out.data() + have, want, off_t(at));
        if (n < 0) {
            out.resize(have);
            if (errno == EINTR)
                continue;
            fail(errno);
            break;
        }
        out.resize(have + std::size_t(n));
        if (n == 0)
            break;
    }
    m_position += out.size();
    return out;
}

std::size_t BinaryStream::read(std::span<char> into)
{
    if (m_fd < 0) {
        fail(EBADF);
        return 0;
    }
    std::size_t done = 0;
    while (done < into.size() && m_position + done <= kMaxOffset) {
        const ssize_t n = ::pread(m_fd, into.data() + done, into.size() - done, off_t(m_position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno);
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    m_position += done;
    return done;
}

bool BinaryStream::write(std::string_view bytes)
{
    if (m_fd < 0 || !m_writable) {
        fail(EBADF);
        return false;
    }
    while (!bytes.empty()) {
        if (m_position > kMaxOffset - std::min<std::uint64_t>(bytes.size(), kMaxOffset)) {
            fail(EFBIG);
            return false;
        }
        ssize_t n = ::pwrite(m_fd, bytes.data(), std::min(bytes.size(), kMaxWrite), off_t(m_position));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write that moves nothing and reports nothing would loop forever.
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        m_position += std::uint64_t(n);
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

namespace {

template <std::size_t N>
bool readExact(BinaryStream& stream, std::array<std::uint8_t, N>& out)
{
    std::string got = stream.read(N);
    if (got.size() != N)
        return false;
    std::copy(got.begin(), got.end(), out.begin());
    return true;
}

std::string_view asChars(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

} // namespace

std::uint8_t BinaryStream::readUInt8()
{
    std::array<std::uint8_t, 1> b{};
    if (!readExact(*this, b)) {
        fail(EIO);
        return 0;
    }
    return b[0];
}

std::uint16_t BinaryStream::readUInt16()
{
    std::array<std::uint8_t, 2> b{};
    if (!readExact(*this, b)) {
        fail(EIO);
        return 0;
    }
    return m_littleEndian ? bytes::loadLE16(b) : bytes::loadBE16(b);
}

std::uint32_t BinaryStream::readUInt32()
{
    std::array<std::uint8_t, 4> b{};
    if (!readExact(*this, b)) {
        fail(EIO);
        return 0;
    }
    return m_littleEndian ? bytes::loadLE32(b) : bytes::loadBE32(b);
}

bool BinaryStream::writeUInt8(std::uint8_t v)
{
    std::array<std::uint8_t, 1> b{v};
    return write(asChars(b));
}

bool BinaryStream::writeUInt16(std::uint16_t v)
{
    std::array<std::uint8_t, 2> b{};
    m_littleEndian ? bytes::storeLE16(b, v) : bytes::storeBE16(b, v);
    return write(asChars(b));
}

bool BinaryStream::writeUInt32(std::uint32_t v)
{
    std::array<std::uint8_t, 4> b{};
    m_littleEndian ? bytes::storeLE32(b, v) : bytes::storeBE32(b, v);
    return write(asChars(b));
}

std::string BinaryStream::readPString()
{
    std::string length = read(1);
    if (length.size() != 1) {
        fail(EIO);
        return {};
    }
    std::size_t count = std::uint8_t(length[0]);
    std::string text = read(count);
    if (text.size() != count) {
        fail(EIO);
        return {};
    }
    return text;
}

bool BinaryStream::writePString(std::string_view bytes)
{
    if (bytes.size() > 255) {
        fail(EINVAL);
        return false;
    }
    std::string record(1, char(std::uint8_t(bytes.size())));
    record.append(bytes);
    return write(record);
}

bool BinaryStream::sync()
{
    if (m_fd < 0) {
        fail(EBADF);
        return false;
    }
    if (::fsync(m_fd) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

void BinaryStream::startWriteback(std::uint64_t offset, std::uint64_t length) noexcept
{
    if (m_fd >= 0 && m_writable)
        ::sync_file_range(m_fd, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
}

bool BinaryStream::close()
{
    if (m_fd < 0)
        return true;
    int fd = m_fd;
    m_fd = -1;
    // The descriptor is gone after close() even when it reports EINTR; never retry.
    if (::close(fd) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

} // namespace lv
