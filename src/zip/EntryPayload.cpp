#include "zip/EntryPayload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/MacMetadataStore.h"
#include "platform/ReachablePath.h"
#include "zip/ItemReadHook.h"
#include "zip/ZipArchive.h"

namespace lv {

namespace {

constexpr const char* OpenDataText = "Opening the source data stream failed";
constexpr const char* OpenRsrcText = "Opening the source rsrc stream failed";
constexpr const char* ReadErrorText = "Read error, the archived item may be corrupted";

} // namespace

EntryPayload::EntryPayload(FolderItem item, ItemStat stat, std::vector<Part> parts)
    : m_item(std::move(item)), m_stat(stat), m_parts(std::move(parts))
{
    for (const Part& p : m_parts)
        m_length += p.length;
}

PayloadError EntryPayload::changed() const
{
    return {zipResult::ReadWriteError,
            "The file \"" + m_item.displayName() + "\" changed while it was read: it is no longer " +
                std::to_string(m_stat.length) + " bytes long"};
}

std::optional<PayloadError> EntryPayload::openData()
{
    std::lock_guard lock(m_mutex);
    if (m_opened)
        return m_openError;
    m_opened = true;
    itemreadhook::beforeRead(m_item);
    // Without following a link, and without blocking should a FIFO have taken the file's place.
    m_fd.reset(::open(ReachablePath(m_item.path()).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const int openErrno = m_fd ? 0 : errno;
    struct stat st;
    if (!m_fd || ::fstat(m_fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        m_openError = PayloadError{zipResult::OpenFailed, OpenDataText,
                                   "\"" + m_item.displayPath() + "\": " +
                                       (openErrno ? std::system_category().message(openErrno) : "not a plain file") + "."};
    else if (st.st_dev != dev_t(m_stat.device) || st.st_ino != ino_t(m_stat.inode) ||
             std::uint64_t(st.st_size) != m_stat.length)
        m_openError = changed();
    if (m_openError)
        m_fd.reset();
    return m_openError;
}

std::optional<PayloadError> EntryPayload::loadFork()
{
    std::lock_guard lock(m_mutex);
    if (m_forkLoaded)
        return m_forkError;
    m_forkLoaded = true;
    std::uint64_t expected = 0;
    for (const Part& p : m_parts)
        if (p.kind == Part::Kind::ResourceFork)
            expected = p.length;
    const std::optional<std::string> fork = MacMetadataStore::readResourceFork(ReachablePath(m_item.path()).path());
    if (!fork)
        m_forkError = PayloadError{zipResult::OpenFailed, OpenRsrcText};
    else if (fork->size() != expected)
        m_forkError = PayloadError{zipResult::ReadWriteError, "The resource fork of \"" + m_item.displayName() +
                                                                  "\" changed while it was read"};
    else
        m_fork = *fork;
    return m_forkError;
}

std::optional<PayloadError> EntryPayload::readData(std::uint64_t offset, std::span<std::uint8_t> out, bool toTheEnd)
{
    if (auto error = openData())
        return error;
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(m_fd.get(), out.data() + done, out.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return PayloadError{zipResult::ReadWriteError, ReadErrorText};
        if (n == 0)
            return changed();
        done += std::size_t(n);
    }
    // The last byte read: anything behind it means the file grew.
    if (toTheEnd) {
        std::uint8_t probe;
        ssize_t n;
        do
            n = ::pread(m_fd.get(), &probe, 1, off_t(m_stat.length));
        while (n < 0 && errno == EINTR);
        if (n != 0)
            return n > 0 ? changed() : PayloadError{zipResult::ReadWriteError, ReadErrorText};
    }
    return std::nullopt;
}

std::optional<PayloadError> EntryPayload::read(std::uint64_t offset, std::span<std::uint8_t> out)
{
    std::uint64_t partStart = 0;
    for (const Part& part : m_parts) {
        const std::uint64_t partEnd = partStart + part.length;
        // An empty data fork is still looked at: a file that grew from nothing is no empty file.
        if (part.kind == Part::Kind::DataFork && part.length == 0 && offset == partStart) {
            if (auto error = readData(0, {}, true))
                return error;
        }
        if (out.empty())
            break;
        if (offset < partEnd) {
            const std::uint64_t at = offset - partStart;
            const std::size_t n = std::size_t(std::min<std::uint64_t>(out.size(), part.length - at));
            const auto piece = out.first(n);
            switch (part.kind) {
            case Part::Kind::Bytes:
                std::memcpy(piece.data(), part.bytes.data() + at, n);
                break;
            case Part::Kind::Zeros:
                std::fill(piece.begin(), piece.end(), std::uint8_t(0));
                break;
            case Part::Kind::DataFork:
                if (auto error = readData(at, piece, at + n == part.length))
                    return error;
                break;
            case Part::Kind::ResourceFork:
                if (auto error = loadFork())
                    return error;
                std::memcpy(piece.data(), m_fork.data() + at, n);
                break;
            }
            offset += n;
            out = out.subspan(n);
        }
        partStart = partEnd;
    }
    return std::nullopt;
}

std::optional<PayloadError> EntryPayload::readToEnd(ByteBuffer& out, std::size_t limit)
{
    out.clear();
    if (auto error = openData())
        return error;
    constexpr std::size_t Step = 64 * 1024;
    for (;;) {
        const std::size_t at = out.size();
        if (at > limit)
            return PayloadError{zipResult::ReadWriteError, "The file \"" + m_item.displayName() +
                                                               "\" gives more bytes than its size says and was not archived"};
        out.resize(at + Step);
        const ssize_t n = ::pread(m_fd.get(), out.data() + at, Step, off_t(at));
        if (n < 0 && errno == EINTR) {
            out.resize(at);
            continue;
        }
        if (n < 0)
            return PayloadError{zipResult::ReadWriteError, ReadErrorText};
        out.resize(at + std::size_t(n));
        if (n == 0)
            return std::nullopt;
    }
}

void EntryPayload::release()
{
    std::lock_guard lock(m_mutex);
    m_fd.reset();
    std::string().swap(m_fork);
}

} // namespace lv
