#include "zip/WriteBehind.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/BufferPool.h"
#include "platform/ByteOrder.h"
#include "platform/Thread.h"
#include "platform/WorkerPool.h"
#include "platform/compression/Crc.h"
#include "zip/EntryBuilder.h"
#include "zip/ZipArchive.h"
#include "zip/ZipRecords.h"

namespace lv {

using namespace zip;

namespace {

// Output goes to the writer thread in pieces of about this size; bytes this many or more at once
// are written without a copy.
constexpr std::size_t FlushSize = std::size_t(1) << 20;
constexpr std::size_t DirectWrite = std::size_t(4) << 20;
constexpr std::size_t MaxWhole = std::size_t(32) << 20;
// A piece and its deflated form each fill one huge page at most.
constexpr std::size_t MaxPiece = (std::size_t(2) << 20) - (std::size_t(64) << 10);
constexpr std::size_t MinPiece = std::size_t(64) << 10;
constexpr std::chrono::milliseconds WaitStep{20};
constexpr std::size_t BatchEntries = 16;
constexpr std::size_t BatchBytes = std::size_t(256) << 10;
constexpr const char* WriteErrorText = "Write error, the archived item may be corrupted";
constexpr const char* TooLargeText = "The archive would grow beyond 2 GB, which the zip format used here cannot hold";

std::span<const std::uint8_t> asBytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

} // namespace

struct WriteBehind::Job {
    ZipEntryPtr entry;
    std::string encName;
    std::string extraBytes;
    std::shared_ptr<EntryPayload> payload;
    bool deflate = false;
    // The writer's state of an entry built in pieces.
    std::int64_t start = -1;  // offset of its local header once written
    bool deflated = false;
    std::uint32_t crc = 0;
    std::int64_t written = 0;

    std::int64_t headerBytes() const { return std::int64_t(local::Size + encName.size() + extraBytes.size()); }
    std::int64_t directoryBytes() const { return std::int64_t(central::Size + encName.size() + extraBytes.size()); }
};

struct WriteBehind::Unit {
    std::shared_ptr<Job> job;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool whole = true;
    bool last = true;
    std::size_t cost = 0;  // memory reserved for it
    bool done = false;     // guarded by Shared::mutex
    BuiltPayload result;
};

// The result of a write on the writer thread.
struct WriteBehind::Flush {
    std::mutex mutex;
    std::condition_variable ended;
    std::atomic<bool> done{false};
    bool ok = false;
    std::int64_t reached = 0;  // where a failed write stopped
    int error = 0;             // and why
};

struct WriteBehind::Shared {
    explicit Shared(std::size_t bound) : pool(bound / 2) {}
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t inFlight = 0;  // bytes reserved for or held by units not yet written
    std::atomic<bool> stopping{false};
    BufferPool pool;  // buffers of written units, for the next ones; counts against the bound
};

WriteBehind::WriteBehind(ZipArchive& archive, Limits limits)
    : m_archive(archive),
      m_limits(limits),
      m_pieceSize(std::clamp(limits.memoryBound / 16, MinPiece, MaxPiece)),
      // Files of a few MiB already keep a worker busy for a while: one longer than that, built
      // whole, leaves the others idle at the end of the job, and holds much of the bound.
      m_wholeLimit(std::clamp(limits.memoryBound / 32, m_pieceSize, MaxWhole)),
      m_shared(std::make_shared<Shared>(limits.memoryBound)),
      m_outStart(archive.startOfDirInArchive),
      m_flush(std::make_shared<Flush>()),
      m_diskEnd(m_outStart)
{
    m_limits.workers = std::max(m_limits.workers, 1u);
    m_toldEnd = m_outStart;
    // At their size from the start: growing would copy, and fault in new pages each time.
    m_out.reserve(FlushSize);
    m_flushing.reserve(FlushSize);
}

WriteBehind::~WriteBehind()
{
    m_shared->stopping = true;
    m_pool.reset();
}

std::int32_t WriteBehind::add(NewEntry e)
{
    if (m_failure) {
        m_archive.errmsg = m_failure->message;
        m_archive.z_detail(m_failure->detail);
        m_failureReported = true;
        return m_failure->code;
    }
    if (m_archive.d->entryCount() + m_entriesAhead >= MaxEntries) {
        m_archive.errmsg = "The archive cannot hold more than 65535 entries";
        return zipResult::ReadWriteError;
    }
    auto job = std::make_shared<Job>();
    job->entry = std::move(e.entry);
    job->encName = std::move(e.encName);
    job->extraBytes = std::move(e.extraBytes);
    job->payload = std::move(e.payload);
    job->deflate = e.deflate;
    ++m_entriesAhead;
    const std::int32_t index = m_archive.d->entryCount() + m_entriesAhead;

    const std::uint64_t length = job->payload ? job->payload->length() : 0;
    if (length <= m_wholeLimit) {
        auto unit = std::make_shared<Unit>();
        unit->job = job;
        unit->length = length;
        unit->cost = bytebuffer::footprint(std::size_t(length)) * (job->deflate ? 2 : 1);
        queue(std::move(unit));
    } else {
        for (std::uint64_t at = 0; at < length && !m_failure; at += m_pieceSize) {
            auto unit = std::make_shared<Unit>();
            unit->job = job;
            unit->offset = at;
            unit->length = std::min<std::uint64_t>(m_pieceSize, length - at);
            unit->whole = false;
            unit->last = at + unit->length == length;
            unit->cost = bytebuffer::footprint(std::size_t(unit->length)) +
                         (job->deflate ? bytebuffer::footprint(EntryBuilder::pieceOutputRoom(unit->length)) : 0);
            queue(std::move(unit));
        }
    }
    if (m_failure) {
        m_archive.errmsg = m_failure->message;
        m_archive.z_detail(m_failure->detail);
        m_failureReported = true;
        return m_failure->code;
    }
    return index;
}

void WriteBehind::queue(std::shared_ptr<Unit> unit)
{
    // Room first: kept buffers are freed, then finished entries written, until the unit fits.
    for (;;) {
        {
            std::unique_lock lock(m_shared->mutex);
            const std::size_t bound = m_limits.memoryBound;
            const bool fits = m_shared->inFlight + unit->cost <= bound;
            if (fits || m_queue.empty()) {
                const std::size_t left = fits ? bound - m_shared->inFlight - unit->cost : 0;
                if (m_shared->pool.pooledBytes() > left)
                    m_shared->pool.shrinkTo(left);
                m_shared->inFlight += unit->cost;
                break;
            }
        }
        if (!writeHead(false)) {
            flushBatch();
            std::unique_lock lock(m_shared->mutex);
            m_shared->changed.wait_for(lock, WaitStep);
        }
        Thread::yieldPoint();
        if (m_failure)
            return;
    }
    m_queue.push_back(unit);
    if (!unit->job->payload) {
        unit->done = true;
    } else {
        // Small entries go to the workers a few at a time: one wake-up each would cost more
        // than building them.
        m_batch.push_back(unit);
        m_batchBytes += std::size_t(unit->length);
        if (m_batch.size() >= BatchEntries || m_batchBytes >= BatchBytes)
            flushBatch();
    }
    // Whatever is finished at the head goes out now.
    while (!m_failure && writeHead(false)) {
    }
}

void WriteBehind::build(Shared& shared, Unit& unit)
{
    BuiltPayload result;
    if (!shared.stopping) {
        Job& job = *unit.job;
        try {
            result = unit.whole ? EntryBuilder::whole(*job.payload, job.deflate, shared.pool)
                                : EntryBuilder::piece(*job.payload, unit.offset, unit.length, unit.last, job.deflate,
                                                      shared.pool);
        } catch (const std::exception&) {
            result = {};
            result.error = PayloadError{zipResult::ReadWriteError, "Not enough memory to compress the item"};
        }
    }
    const std::size_t kept =
        bytebuffer::footprint(result.stored.capacity()) + bytebuffer::footprint(result.plain.capacity());
    std::lock_guard lock(shared.mutex);
    unit.result = std::move(result);
    // What the unit holds until it is written, rather than what was reserved for it.
    shared.inFlight = shared.inFlight - std::min(shared.inFlight, unit.cost) + kept;
    unit.cost = kept;
    unit.done = true;
    shared.changed.notify_all();
}

void WriteBehind::flushBatch()
{
    if (m_batch.empty())
        return;
    if (!m_pool)
        m_pool = std::make_unique<WorkerPool>(m_limits.workers);
    m_pool->post([shared = m_shared, units = std::move(m_batch)] {
        for (const auto& unit : units)
            build(*shared, *unit);
    });
    m_batch.clear();
    m_batchBytes = 0;
}

bool WriteBehind::writeHead(bool wait)
{
    if (m_queue.empty())
        return false;
    std::shared_ptr<Unit> unit = m_queue.front();
    if (wait)
        flushBatch();
    {
        std::unique_lock lock(m_shared->mutex);
        while (!unit->done) {
            if (!wait)
                return false;
            m_shared->changed.wait_for(lock, WaitStep);
            lock.unlock();
            Thread::yieldPoint();
            lock.lock();
        }
    }
    m_queue.pop_front();
    write(*unit);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->inFlight -= std::min(m_shared->inFlight, unit->cost);
    }
    m_shared->pool.give(std::move(unit->result.stored));
    m_shared->pool.give(std::move(unit->result.plain));
    Thread::yieldPoint();
    return true;
}

void WriteBehind::write(Unit& unit)
{
    Job& job = *unit.job;
    BuiltPayload& r = unit.result;
    if (r.error) {
        fail(*r.error, &job);
        return;
    }
    if (unit.whole) {
        // A file whose size read as 0 holds what reading it gave.
        if (job.payload && job.payload->unsized())
            job.entry->z_Header().setUInt32Value(central::UncompressedSize, std::uint32_t(r.length));
        const std::int64_t compressed = std::int64_t(r.stored.size());
        if (!fitsArchive(job, compressed))
            return;
        writeLocalHeader(job, r.deflated, r.crc, compressed);
        if (append(r.stored))
            finishEntry(job, r.crc, compressed);
        return;
    }
    if (unit.offset == 0) {
        // Each piece went in deflated or as stored blocks, whichever is smaller, so an entry
        // whose start does not shrink is still deflated where the rest does.
        job.deflated = job.deflate;
        job.crc = r.crc;
        writeLocalHeader(job, job.deflated, 0, 0);
        m_piecedStart = job.start;
    } else {
        job.crc = Crc32Combine(job.crc, r.crc, unit.length);
    }
    const std::span<const std::uint8_t> bytes =
        job.deflated ? std::span<const std::uint8_t>(r.stored)
                     : std::span<const std::uint8_t>(r.plain).first(std::size_t(unit.length));
    if (!fitsArchive(job, job.written + std::int64_t(bytes.size())) || !append(bytes))
        return;
    job.written += std::int64_t(bytes.size());
    if (!unit.last)
        return;
    job.payload->release();
    std::uint8_t fields[8];
    bytes::storeLE32(std::span<std::uint8_t, 4>(fields, 4), job.crc);
    bytes::storeLE32(std::span<std::uint8_t, 4>(fields + 4, 4), std::uint32_t(job.written));
    const std::int64_t at = job.start + std::int64_t(local::Crc32);
    if (at >= m_outStart) {
        std::copy(std::begin(fields), std::end(fields), m_out.begin() + std::ptrdiff_t(at - m_outStart));
    } else {
        // Not before the write that holds the header's first form has ended.
        settleFlush(true);
        if (m_failure || !writeAt(at, fields))
            return;
    }
    m_piecedStart = -1;
    finishEntry(job, job.crc, job.written);
}

void WriteBehind::writeLocalHeader(Job& job, bool deflated, std::uint32_t crc, std::int64_t compressed)
{
    MemoryBlock& rec = job.entry->z_Header();
    rec.setUInt16Value(central::Method, deflated ? MethodDeflated : MethodStored);
    const std::uint32_t size = rec.uint32Value(central::UncompressedSize);
    std::array<std::uint8_t, local::Size> h{};
    const auto at = [&h](std::size_t offset) { return h.data() + offset; };
    bytes::storeLE32(std::span<std::uint8_t, 4>(at(local::Signature), 4), LocalHeaderSignature);
    // Version, flags, method, time and date stand in both records in the same order.
    const auto shared = rec.bytes().subspan(central::VersionNeeded, 10);
    std::copy(shared.begin(), shared.end(), at(local::VersionNeeded));
    bytes::storeLE32(std::span<std::uint8_t, 4>(at(local::Crc32), 4), crc);
    bytes::storeLE32(std::span<std::uint8_t, 4>(at(local::CompressedSize), 4), std::uint32_t(compressed));
    bytes::storeLE32(std::span<std::uint8_t, 4>(at(local::UncompressedSize), 4), size);
    bytes::storeLE16(std::span<std::uint8_t, 2>(at(local::NameLength), 2), std::uint16_t(job.encName.size()));
    bytes::storeLE16(std::span<std::uint8_t, 2>(at(local::ExtraLength), 2), std::uint16_t(job.extraBytes.size()));
    job.start = end();
    if (append(h) && append(asBytes(job.encName)))
        append(asBytes(job.extraBytes));
}

bool WriteBehind::fitsArchive(const Job& job, std::int64_t dataBytes)
{
    const std::int64_t start = job.start >= 0 ? job.start : end();
    const std::int64_t directory =
        m_archive.z_directorySize() + m_writtenDirectoryBytes + job.directoryBytes();
    if (start + job.headerBytes() + dataBytes + directory <= MaxOffset)
        return true;
    fail({zipResult::ReadWriteError, TooLargeText}, const_cast<Job*>(&job));
    return false;
}

void WriteBehind::finishEntry(Job& job, std::uint32_t crc, std::int64_t compressed)
{
    MemoryBlock& rec = job.entry->z_Header();
    rec.setUInt32Value(central::Crc32, crc);
    rec.setUInt32Value(central::CompressedSize, std::uint32_t(compressed));
    rec.setUInt32Value(central::LocalHeaderOffset, std::uint32_t(job.start));
    m_written.push_back({job.entry, end(), job.directoryBytes()});
    m_writtenDirectoryBytes += job.directoryBytes();
    commitWritten();
}

bool WriteBehind::append(std::span<const std::uint8_t> bytes)
{
    if (m_failure)
        return false;
    if (m_out.size() + bytes.size() > FlushSize && !m_out.empty())
        startFlush();
    if (m_failure)
        return false;
    if (bytes.size() >= DirectWrite) {
        settleFlush(true);
        if (m_failure || !writeAt(m_outStart, bytes))
            return false;
        m_outStart += std::int64_t(bytes.size());
        m_diskEnd = m_outStart;
        commitWritten();
        return true;
    }
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    // A write found failed here has dropped the buffer, these bytes with it.
    settleFlush(false);
    return !m_failure;
}

void WriteBehind::startFlush()
{
    // One write at a time, in order: a failed one tells where the disk's bytes end.
    settleFlush(true);
    if (m_failure || m_out.empty())
        return;
    std::swap(m_out, m_flushing);
    m_flushStart = m_outStart;
    m_outStart += std::int64_t(m_flushing.size());
    m_flushPending = true;
    m_flush->done = false;
    if (!m_writer)
        m_writer = std::make_unique<WorkerPool>(1);
    // Writing costs the adding thread as much as building records does: it goes on meanwhile.
    m_writer->post([flush = m_flush, &zs = *m_archive.d->zipStream, at = m_flushStart,
                    bytes = std::span<const std::uint8_t>(m_flushing)] {
        zs.setPosition(std::uint64_t(at));
        const bool ok = zs.write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        const std::int64_t reached = std::int64_t(zs.position());
        const int error = zs.lastErrorCode();
        if (!ok)
            zs.clearError();
        {
            std::lock_guard lock(flush->mutex);
            flush->ok = ok;
            flush->reached = reached;
            flush->error = error;
            flush->done = true;
        }
        flush->ended.notify_all();
    });
}

bool WriteBehind::settleFlush(bool wait)
{
    if (!m_flushPending)
        return true;
    if (!wait && !m_flush->done.load())
        return false;
    {
        std::unique_lock lock(m_flush->mutex);
        while (!m_flush->done) {
            m_flush->ended.wait_for(lock, WaitStep);
            lock.unlock();
            Thread::yieldPoint();
            lock.lock();
        }
    }
    m_flushPending = false;
    const std::int64_t end = m_flushStart + std::int64_t(m_flushing.size());
    m_flushing.clear();
    if (m_flush->ok) {
        m_diskEnd = end;
        commitWritten();
    } else {
        writeFailed(m_flushStart, m_flush->reached, m_flush->error);
    }
    return true;
}

bool WriteBehind::flush()
{
    settleFlush(true);
    // Also after a failure: the buffer then holds only the entries before the failed one.
    if (!m_out.empty()) {
        if (!writeAt(m_outStart, m_out))
            return false;
        m_outStart += std::int64_t(m_out.size());
        m_out.clear();
    }
    m_diskEnd = m_outStart;
    commitWritten();
    return true;
}

bool WriteBehind::writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes)
{
    BinaryStream& zs = *m_archive.d->zipStream;
    zs.setPosition(std::uint64_t(offset));
    if (zs.write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
        return true;
    const std::int64_t reached = std::int64_t(zs.position());
    const int error = zs.lastErrorCode();
    zs.clearError();
    writeFailed(offset, reached, error);
    return false;
}

void WriteBehind::writeFailed(std::int64_t offset, std::int64_t reached, int error)
{
    // Entries that reached the disk whole stay; the rest is lost with the buffer.
    if (offset == m_diskEnd && reached > m_diskEnd) {
        m_diskEnd = reached;
        commitWritten();
    }
    m_written.clear();
    m_writtenDirectoryBytes = 0;
    m_out.clear();
    m_outStart = m_diskEnd = m_archive.startOfDirInArchive;
    fail({zipResult::ReadWriteError, WriteErrorText, m_archive.z_writeFailureDetail(error)}, nullptr);
}

void WriteBehind::commitWritten()
{
    while (!m_written.empty() && m_written.front().end <= m_diskEnd) {
        Written& w = m_written.front();
        m_archive.d->entries_1.push_back(w.entry);
        m_archive.startOfDirInArchive = w.end;
        m_writtenDirectoryBytes -= w.directoryBytes;
        --m_entriesAhead;
        m_written.pop_front();
    }
    if (!m_archive.finalBytesListener)
        return;
    std::int64_t end = m_archive.startOfDirInArchive;
    std::int64_t held = ZipArchive::NothingHeld;
    // A large entry right behind the finished ones: what of it is on the disk is final but for
    // its header's CRC and size, so a reader need not wait for all of it.
    constexpr std::int64_t HeldBytes = 8;
    if (m_piecedStart >= 0 && m_written.empty() && m_piecedStart == end &&
        m_diskEnd > m_piecedStart + std::int64_t(local::Crc32) + HeldBytes) {
        end = m_diskEnd;
        held = m_piecedStart + std::int64_t(local::Crc32);
    }
    if (end == m_toldEnd && held == m_toldHeld)
        return;
    m_toldEnd = end;
    m_toldHeld = held;
    m_archive.finalBytesListener(end, held);
}

void WriteBehind::fail(PayloadError error, Job* job)
{
    if (m_failure)
        return;
    // The write going on first: its failure, if it fails, is the one to report.
    settleFlush(true);
    if (m_failure) {
        if (job && job->payload)
            job->payload->release();
        return;
    }
    m_piecedStart = -1;
    // The failed entry's bytes are dead: the next entry or the directory goes where it began.
    if (job && job->start >= 0) {
        if (job->start >= m_outStart) {
            m_out.resize(std::size_t(job->start - m_outStart));
        } else {
            m_out.clear();
            m_outStart = m_diskEnd = job->start;
        }
    }
    if (job && job->payload)
        job->payload->release();
    m_archive.errmsg = error.message;
    m_archive.z_detail(error.detail);
    m_failure = std::move(error);
    m_failureReported = false;
    m_shared->stopping = true;
    {
        std::lock_guard lock(m_shared->mutex);
        for (const auto& unit : m_queue)
            m_shared->inFlight -= std::min(m_shared->inFlight, unit->cost);
    }
    m_queue.clear();
    m_batch.clear();
    m_batchBytes = 0;
    m_entriesAhead = std::int32_t(m_written.size());
}

bool WriteBehind::drain()
{
    while (!m_queue.empty())
        writeHead(true);
    flush();
    return !m_failure;
}

} // namespace lv
