#include "engine/CipherStage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "engine/ScopeExit.h"
#include "platform/Exceptions.h"
#include "platform/StageClock.h"
#include "platform/WorkerPool.h"

namespace lv {

namespace {

constexpr std::size_t ChunkSize = std::size_t(4) << 20;
constexpr std::size_t Buffers = 6;
// Chunks of ciphertext that may wait for the MAC: how far deciphering may run ahead of the tag.
constexpr std::size_t TagCheckBuffers = 32;
constexpr std::chrono::milliseconds WaitStep{20};
// Room for the segments in flight, whatever their size (a file may choose up to 64 MiB) and the
// number of cores: with the rest of a job it stays well within the job's memory bound.
constexpr std::size_t SegmentMemory = std::size_t(160) << 20;

// Buffers for `workers` sealing or opening segments of `capacity` bytes: two for each and two
// more, as far as SegmentMemory allows, and at least one.
std::size_t segmentBuffers(std::size_t capacity, unsigned workers)
{
    const std::size_t fit = SegmentMemory / bytebuffer::footprint(capacity);
    return std::clamp<std::size_t>(fit, 1, 2 * std::size_t(workers) + 2);
}

// A pipeline over segments: the source, then `stages[0]` on a pool of workers (one per core, as
// many as have a buffer), then the rest on one thread each.
std::unique_ptr<ChunkPipeline> segmentPipeline(std::size_t capacity, ChunkPipeline::Source source,
                                               std::vector<ChunkPipeline::Stage> stages)
{
    const std::size_t buffers = segmentBuffers(capacity, WorkerPool::hardwareThreads());
    const unsigned workers = unsigned(std::min<std::size_t>(WorkerPool::hardwareThreads(), buffers));
    return std::make_unique<ChunkPipeline>(capacity, buffers, std::move(source), std::move(stages),
                                           std::vector<unsigned>{workers, 1});
}

std::string quoted(const FolderItem& f)
{
    std::string out = "\"";
    out.append(f.displayName()).push_back('"');
    return out;
}

std::string errnoText(int err)
{
    return std::generic_category().message(err);
}

// Opens a regular file for reading, never through a link; an invalid descriptor with errno set
// otherwise.
FileDescriptor openForReading(const FolderItem& file)
{
    FileDescriptor fd(::open(file.path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.reset();
        errno = EINVAL;
    }
    return fd;
}

// Reads exactly `out.size()` bytes at `offset`: "" on success, else the reason (a file that
// ends early "became shorter").
std::string readExactly(int fd, std::uint64_t offset, std::span<std::uint8_t> out, const char* what,
                        const FolderItem& file)
{
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::string(what) + " " + quoted(file) + ": " + errnoText(errno);
        if (n == 0)
            return std::string(what) + " " + quoted(file) + ": it became shorter while it was read.";
        got += std::size_t(n);
    }
    return {};
}

bool writeOut(BinaryStream& out, std::span<const std::uint8_t> bytes, const FolderItem& file, std::string& error)
{
    if (out.write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
        return true;
    // A full folder must say which one filled.
    error = "The file " + quoted(file) + " could not be written in the folder \"" + file.parent().displayPath() +
        "\": " + errnoText(out.lastErrorCode());
    return false;
}

} // namespace

// --- encryption ----------------------------------------------------------------------------------

BodyEncryption::BodyEncryption(std::unique_ptr<BodyCipher> cipher, const std::string& bodyHeader,
                               const FolderItem& source, BinaryStream& sink, const FolderItem& sinkFile)
    : m_cipher(std::move(cipher)), m_source(source), m_in(openForReading(source)), m_sink(sink), m_sinkFile(sinkFile)
{
    if (!m_in)
        throw RuntimeException("The work archive " + quoted(source) + " could not be opened: " + errnoText(errno));
    if (!m_cipher->segmented())
        throw RuntimeException("The body's cipher does not work in segments");
    m_sink.write(bodyHeader);
    m_bodyStart = m_sink.position();
    m_bodyHeaderSize = bodyHeader.size();
    std::vector<ChunkPipeline::Stage> stages;
    stages.push_back([this](ChunkPipeline::Chunk& c, std::string& error) { return seal(c, error); });
    stages.push_back([this](ChunkPipeline::Chunk& c, std::string& error) {
        const std::uint64_t at = m_bodyStart + storedOffset(c.offset);
        m_sink.setPosition(at);
        if (!writeOut(m_sink, c.bytes, m_sinkFile, error))
            return false;
        // The file is synced at the end: most of it should be on the disk by then.
        m_sink.startWriteback(at, c.bytes.size());
        std::uint64_t plain = m_cipher->segmentSize();
        if (isLast(c)) {
            std::lock_guard lock(m_mutex);
            plain = m_length - c.offset;
        }
        m_done += plain;
        return true;
    });
    m_pipeline = segmentPipeline(
        m_cipher->segmentCapacity(),
        [this](ChunkPipeline::Chunk& c, bool& end, std::string& error) { return fill(c, end, error); },
        std::move(stages));
}

BodyEncryption::~BodyEncryption()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_more.notify_all();
    m_pipeline.reset();
}

void BodyEncryption::setOuterHeader(const std::string& header)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_haveOuterHeader)
            return;
        m_outerHeader = header;
        m_haveOuterHeader = true;
    }
    // Both derivations are done: from here on the workers seal.
    StageClock::begin("sealing");
    m_more.notify_all();
}

bool BodyEncryption::hasOuterHeader() const
{
    std::lock_guard lock(m_mutex);
    return m_haveOuterHeader;
}

void BodyEncryption::available(std::uint64_t end, std::int64_t held)
{
    {
        std::lock_guard lock(m_mutex);
        if (end >= m_available) {
            m_available = end;
            m_held = held;
        }
    }
    m_more.notify_all();
}

void BodyEncryption::complete(std::uint64_t length)
{
    {
        std::lock_guard lock(m_mutex);
        m_complete = true;
        m_length = length;
        m_available = length;
        m_held = -1;
    }
    m_more.notify_all();
}

std::uint64_t BodyEncryption::storedOffset(std::uint64_t plainOffset) const
{
    const std::uint64_t size = m_cipher->segmentSize();
    return plainOffset / size * m_cipher->storedSegmentSize(std::size_t(size), false);
}

bool BodyEncryption::isLast(const ChunkPipeline::Chunk& chunk)
{
    // Before or after sealing: only the last segment reaches the source's end.
    std::lock_guard lock(m_mutex);
    return m_complete && chunk.offset + m_cipher->segmentSize() >= m_length;
}

bool BodyEncryption::fill(ChunkPipeline::Chunk& chunk, bool& end, std::string& error)
{
    const std::uint64_t size = m_cipher->segmentSize();
    constexpr std::uint64_t HeldBytes = 8;
    // Whether the segment at `offset` holds any of the bytes that are not final yet.
    const auto holdsHeld = [&](std::uint64_t offset) {
        return m_held >= 0 && std::uint64_t(m_held) < offset + size && offset < std::uint64_t(m_held) + HeldBytes;
    };
    std::uint64_t offset = 0;
    std::uint64_t want = 0;
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_stop)
                return true;
            // A segment passed over goes first once its bytes are final.
            if (!m_waiting.empty() && !holdsHeld(m_waiting.front())) {
                offset = m_waiting.front();
                m_waiting.pop_front();
                want = size;  // never the last: bytes after it were final when it waited
                break;
            }
            // A whole segment once a byte after it is final (so it cannot be the last); the
            // rest once the source is complete.
            if (m_complete) {
                want = std::min(size, m_length - m_read);
                // The empty plaintext is one empty last segment, sealed at the finish.
                if (want == 0) {
                    end = true;
                    return true;
                }
                offset = m_read;
                m_read += want;
                break;
            }
            if (m_available > m_read + size) {
                if (holdsHeld(m_read)) {
                    m_waiting.push_back(m_read);
                    m_read += size;
                    continue;
                }
                offset = m_read;
                want = size;
                m_read += size;
                break;
            }
            m_more.wait_for(lock, WaitStep);
        }
    }
    chunk.bytes.resize(std::size_t(want));
    chunk.offset = offset;
    error = readExactly(m_in.get(), offset, chunk.bytes, "The work archive could not be read", m_source);
    return error.empty();
}

bool BodyEncryption::seal(ChunkPipeline::Chunk& chunk, std::string&)
{
    std::string header;
    {
        std::unique_lock lock(m_mutex);
        while (!m_haveOuterHeader && !m_stop)
            m_more.wait_for(lock, WaitStep);
        if (!m_haveOuterHeader)
            return true;  // stopping: the chunk goes nowhere
        header = m_outerHeader;
    }
    const bool last = isLast(chunk);
    m_cipher->sealSegment(chunk.offset / m_cipher->segmentSize(), last,
                          std::span(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()), chunk.bytes);
    return true;
}

bool BodyEncryption::finish(const std::function<void()>& idle, std::string& error)
{
    if (!m_pipeline->wait(idle, error))
        return false;
    std::uint64_t end = m_bodyStart + storedOffset(m_length);
    if (m_length % m_cipher->segmentSize() == 0) {
        // A source of whole segments: its last one was the last full one, unless it is empty.
        if (m_length > 0) {
            end = m_bodyStart + storedOffset(m_length - m_cipher->segmentSize()) +
                m_cipher->storedSegmentSize(m_cipher->segmentSize(), true);
        } else {
            ByteBuffer empty;
            empty.reserve(m_cipher->segmentCapacity());
            std::string header;
            {
                std::lock_guard lock(m_mutex);
                header = m_outerHeader;
            }
            m_cipher->sealSegment(0, true, std::span(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()),
                                  empty);
            m_sink.setPosition(m_bodyStart);
            if (!writeOut(m_sink, empty, m_sinkFile, error))
                return false;
            end = m_bodyStart + empty.size();
        }
    } else {
        end += m_cipher->storedSegmentSize(std::size_t(m_length % m_cipher->segmentSize()), true);
    }
    m_sink.setPosition(end);
    m_bodyEnd = end;
    return true;
}

// --- decryption ----------------------------------------------------------------------------------

TagCheck::TagCheck(BodyCipher& cipher, std::size_t chunkSize, std::size_t buffers)
    : m_cipher(cipher), m_pool(bytebuffer::footprint(chunkSize) * buffers), m_available(buffers)
{
    m_thread = std::thread([this] { run(); });
}

TagCheck::~TagCheck()
{
    stop();
    m_thread.join();
}

bool TagCheck::feed(std::span<const std::uint8_t> ciphertext)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stop || m_available > 0; });
    if (m_stop)
        return false;
    --m_available;
    lock.unlock();
    ByteBuffer buffer = m_pool.take(ciphertext.size());
    std::copy(ciphertext.begin(), ciphertext.end(), buffer.begin());
    lock.lock();
    m_queue.push_back(std::move(buffer));
    m_changed.notify_all();
    return true;
}

void TagCheck::finish(std::span<const std::uint8_t> tail)
{
    std::lock_guard lock(m_mutex);
    m_tail.assign(tail.begin(), tail.end());
    m_finishing = true;
    m_changed.notify_all();
}

void TagCheck::stop()
{
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_changed.notify_all();
}

bool TagCheck::wait(const std::function<void()>& idle, std::string& error)
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, WaitStep, [&] { return m_ended; });
            if (m_ended) {
                if (!m_authentic)
                    error = m_error;
                return m_authentic;
            }
        }
        if (idle)
            idle();
    }
}

void TagCheck::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stop || !m_queue.empty() || m_finishing; });
        if (m_stop) {
            m_error = "The check of the encrypted data was stopped.";
            break;
        }
        if (!m_queue.empty()) {
            ByteBuffer buffer = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            m_cipher.authenticate(buffer);
            m_pool.give(std::move(buffer));
            lock.lock();
            ++m_available;
            m_changed.notify_all();
            continue;
        }
        lock.unlock();
        const bool authentic = m_cipher.checkTag(m_tail);
        lock.lock();
        m_authentic = authentic;
        if (!authentic)
            m_error = m_cipher.errorText();
        break;
    }
    // The extraction that follows needs the memory more.
    m_pool.shrinkTo(0);
    m_ended = true;
    m_changed.notify_all();
}

namespace {

constexpr const char* ReadText = "The encrypted file could not be read";

// A file that changed meanwhile is not the one whose header was checked: "" when it did not.
std::string changedWhileRead(int fd, std::uint64_t length, const FolderItem& file)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || std::uint64_t(st.st_size) == length)
        return {};
    return std::string(ReadText) + " " + quoted(file) +
        (std::uint64_t(st.st_size) < length ? ": it became shorter while it was read." : ": it changed while it was read.");
}

// A decryption pipeline's source step: the `want` bytes of `in` at `next` into `c`, with `next`
// moved on and the progress told; nothing left to read ends the source.
bool readChunk(ChunkPipeline::Chunk& c, bool& end, std::string& err, int in, const FolderItem& inFile,
               std::uint64_t& next, std::uint64_t want, const std::function<void(std::uint64_t)>& progress)
{
    if (want == 0) {
        end = true;
        return true;
    }
    c.bytes.resize(std::size_t(want));
    c.offset = next;
    err = readExactly(in, next, c.bytes, ReadText, inFile);
    if (!err.empty())
        return false;
    next += want;
    if (progress)
        progress(next);
    return true;
}

// A body in segments: each segment read in order, checked and deciphered by a pool of workers,
// and written in order once authentic.
bool decryptSegments(BodyCipher& cipher, int in, const FolderItem& inFile, std::uint64_t bodyStart,
                     std::uint64_t length, BinaryStream& out, const FolderItem& outFile,
                     const std::function<void(std::uint64_t)>& progress, const std::function<void()>& idle,
                     std::string& error)
{
    ByteBuffer outer(static_cast<std::size_t>(bodyStart));
    error = readExactly(in, 0, outer, ReadText, inFile);
    if (!error.empty())
        return false;
    const std::uint64_t first = bodyStart + cipher.headerSize();
    const std::uint64_t full = cipher.storedSegmentSize(cipher.segmentSize(), false);
    const std::uint64_t longestLast = cipher.storedSegmentSize(cipher.segmentSize(), true);
    if (length <= first) {
        error = cipher.notAuthenticText();  // not even one segment
        return false;
    }
    std::uint64_t next = first;
    ChunkPipeline::Source source = [&](ChunkPipeline::Chunk& c, bool& end, std::string& err) {
        // Every segment but the last is a full one; the last is whatever remains.
        const std::uint64_t rest = length - next;
        const std::uint64_t want = rest > longestLast ? full : rest;
        return readChunk(c, end, err, in, inFile, next, want, progress);
    };
    std::vector<ChunkPipeline::Stage> stages;
    stages.push_back([&](ChunkPipeline::Chunk& c, std::string& err) {
        const bool last = c.offset + c.bytes.size() == length;
        if (cipher.openSegment((c.offset - first) / full, last, outer, c.bytes))
            return true;
        err = cipher.notAuthenticText();
        return false;
    });
    stages.push_back([&](ChunkPipeline::Chunk& c, std::string& err) { return writeOut(out, c.bytes, outFile, err); });
    {
        const auto pipeline = segmentPipeline(cipher.segmentCapacity(), source, std::move(stages));
        if (!pipeline->wait(idle, error))
            return false;
    }
    error = changedWhileRead(in, length, inFile);
    if (!error.empty())
        return false;
    if (progress)
        progress(length);
    return true;
}

// An older body in one piece: the tag is checked behind the deciphering, and in full before
// this returns.
bool decryptWhole(BodyCipher& cipher, int in, const FolderItem& inFile, std::uint64_t bodyStart,
                  std::uint64_t length, BinaryStream& out, const FolderItem& outFile,
                  const std::function<void(std::uint64_t)>& progress, const std::function<void()>& idle,
                  std::string& error)
{
    const std::uint64_t header = cipher.headerSize();
    const std::uint64_t block = cipher.blockSize();
    const std::uint64_t body = length > bodyStart ? length - bodyStart : 0;
    // The blocks between the body's header and its last block go through the pipeline; the last
    // block and the tag are checked at the end.
    const std::uint64_t blocksStart = bodyStart + header;
    const std::uint64_t ciphertext = body > header + BodyCipher::TagSize ? body - header - BodyCipher::TagSize : 0;
    if (ciphertext < block || ciphertext % block != 0) {
        cipher.finishDecrypting({});
        error = cipher.errorText();
        return false;
    }
    const std::uint64_t blocksEnd = blocksStart + ciphertext - block;

    TagCheck check(cipher, ChunkSize, TagCheckBuffers);
    // A failure found at the end: a body that is not authentic explains it best.
    const auto lateFailure = [&](std::string reason) {
        std::string tagError;
        error = check.wait(idle, tagError) ? std::move(reason) : std::move(tagError);
        return false;
    };

    std::uint64_t next = blocksStart;
    ChunkPipeline::Source source = [&](ChunkPipeline::Chunk& c, bool& end, std::string& err) {
        const std::uint64_t want = std::min<std::uint64_t>(c.bytes.capacity() / block * block, blocksEnd - next);
        return readChunk(c, end, err, in, inFile, next, want, progress);
    };
    // The MAC gets a copy of each chunk before the chunk is deciphered in place.
    std::vector<ChunkPipeline::Stage> stages;
    stages.push_back([&](ChunkPipeline::Chunk& c, std::string& err) {
        if (check.feed(c.bytes))
            return true;
        err = "The check of the encrypted data was stopped.";
        return false;
    });
    stages.push_back([&](ChunkPipeline::Chunk& c, std::string&) {
        cipher.decipherBlocks(c.bytes);
        return true;
    });
    stages.push_back([&](ChunkPipeline::Chunk& c, std::string& err) { return writeOut(out, c.bytes, outFile, err); });
    {
        ChunkPipeline pipeline(ChunkSize, Buffers, source, std::move(stages));
        bool passed = false;
        // Leaving early (a failure, a Cancel): a stage waiting for a buffer of the check must go.
        const ScopeExit release([&] {
            if (!passed)
                check.stop();
        });
        if (!pipeline.wait(idle, error))
            return false;
        passed = true;
    }
    ByteBuffer tail(std::size_t(block + BodyCipher::TagSize));
    error = readExactly(in, blocksEnd, tail, ReadText, inFile);
    if (!error.empty()) {
        check.stop();
        return false;
    }
    check.finish(tail);
    std::string lastError;
    const std::optional<std::string> last = cipher.decipherLastBlock(tail, lastError);
    if (!last)
        return lateFailure(lastError);
    if (std::string changed = changedWhileRead(in, length, inFile); !changed.empty())
        return lateFailure(std::move(changed));
    if (!writeOut(out, std::span(reinterpret_cast<const std::uint8_t*>(last->data()), last->size()), outFile, error))
        return lateFailure(error);
    if (!check.wait(idle, error))
        return false;
    if (progress)
        progress(length);
    return true;
}

} // namespace

bool decryptBody(BodyCipher& cipher, bool begun, const FolderItem& inFile, std::uint64_t bodyStart,
                 std::uint64_t length, BinaryStream& out, const FolderItem& outFile,
                 const std::function<void(std::uint64_t)>& progress, const std::function<void()>& idle,
                 std::string& error)
{
    const FileDescriptor in = openForReading(inFile);
    if (!in) {
        error = "The encrypted file " + quoted(inFile) + " could not be opened: " + errnoText(errno);
        return false;
    }
    const std::uint64_t body = length > bodyStart ? length - bodyStart : 0;
    if (!begun) {
        ByteBuffer bytes(std::size_t(std::min<std::uint64_t>(body, BodyCipher::MaxHeaderSize)));
        error = readExactly(in.get(), bodyStart, bytes, ReadText, inFile);
        if (!error.empty())
            return false;
        if (!cipher.beginDecrypting(bytes)) {
            error = cipher.errorText();
            return false;
        }
    }
    if (cipher.segmented())
        return decryptSegments(cipher, in.get(), inFile, bodyStart, length, out, outFile, progress, idle, error);
    return decryptWhole(cipher, in.get(), inFile, bodyStart, length, out, outFile, progress, idle, error);
}

} // namespace lv
