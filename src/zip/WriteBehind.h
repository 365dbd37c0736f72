#pragma once
// The parallel writer of an archive: the entries of items on disk are read and compressed by a
// pool of workers while the thread that adds them writes the finished ones into the archive, in
// the order they were added, through a buffer that a thread of its own puts on the disk, 1 MiB at
// a time, while adding goes on. With CRC-32 and sizes known before an entry's local header is
// written, nothing is written twice, except the two fields of an entry built in pieces.
//
// Memory in flight (payloads read, their compressed forms not yet written, and the buffers kept
// for reuse) stays below a bound whatever the job's size: adding waits, writing finished entries
// meanwhile, while the bound is reached. A payload longer than a thirty-second of the bound (32 MiB
// at most) is built in pieces of up to 2 MiB, so that one large file is compressed on every core and
// never held whole. Data that does not shrink in a quick sample is not deflated at all.
//
// A failure found behind (an item that cannot be opened or read, a file that changed, a write
// error) drops that entry and everything queued after it, and stays: every later add returns it.
//
// Every wait is a cancellation point of the calling Thread. The destructor stops the workers and
// drops whatever is not written yet.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteBuffer.h"
#include "zip/EntryPayload.h"
#include "zip/ZipEntry.h"

namespace lv {

class WorkerPool;
class ZipArchive;

class WriteBehind {
public:
    struct Limits {
        unsigned workers = 1;
        std::size_t memoryBound = std::size_t(256) << 20;
    };

    WriteBehind(ZipArchive& archive, Limits limits);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // A new entry: its central record complete but for method, CRC-32, compressed size and
    // offset; `payload` null for an entry without data.
    struct NewEntry {
        ZipEntryPtr entry;
        std::string encName;
        std::string extraBytes;
        std::shared_ptr<EntryPayload> payload;
        bool deflate = false;
    };
    // Queues the entry: the index it will have, or the code of a failure found behind (the
    // archive's message then says what failed).
    std::int32_t add(NewEntry entry);
    // Writes everything queued. False when a failure was found behind (now or before).
    bool drain();

    // A failure found behind, kept until the archive is closed.
    const std::optional<PayloadError>& failure() const noexcept { return m_failure; }
    // Whether an add or Close has passed the failure on already.
    bool failureReported() const noexcept { return m_failureReported; }
    void markFailureReported() noexcept { m_failureReported = true; }

private:
    struct Job;
    struct Unit;
    struct Shared;

    void queue(std::shared_ptr<Unit> unit);
    // Hands the units gathered so far to the workers.
    void flushBatch();
    static void build(Shared& shared, Unit& unit);
    // Writes the first queued unit when it is finished (or, with `wait`, once it is).
    bool writeHead(bool wait);
    void write(Unit& unit);
    void writeLocalHeader(Job& job, bool deflated, std::uint32_t crc, std::int64_t compressed);
    bool fitsArchive(const Job& job, std::int64_t dataBytes);
    void finishEntry(Job& job, std::uint32_t crc, std::int64_t compressed);
    bool append(std::span<const std::uint8_t> bytes);
    // Hands the buffered bytes to the writer thread (after the write before them has ended).
    void startFlush();
    // Takes in the writer thread's result once it has one (with `wait`, once it is done): its
    // bytes are on the disk, or the write failed. False while a write is still going on.
    bool settleFlush(bool wait);
    // Writes the buffered bytes now, after the writer thread's.
    bool flush();
    // Writes at once, with no write of the writer thread going on.
    bool writeAt(std::int64_t offset, std::span<const std::uint8_t> bytes);
    void writeFailed(std::int64_t offset, std::int64_t reached, int error);
    void commitWritten();
    void fail(PayloadError error, Job* job);
    std::int64_t end() const noexcept { return m_outStart + std::int64_t(m_out.size()); }

    ZipArchive& m_archive;
    Limits m_limits;
    std::size_t m_pieceSize;
    std::size_t m_wholeLimit;  // never below m_pieceSize
    std::shared_ptr<Shared> m_shared;
    std::deque<std::shared_ptr<Unit>> m_queue;
    std::vector<std::shared_ptr<Unit>> m_batch;  // queued, not yet handed to the workers
    std::size_t m_batchBytes = 0;
    std::int32_t m_entriesAhead = 0;  // added, not yet in the entry list

    // Output: bytes before m_diskEnd are on the disk; while a write of the writer thread goes
    // on, bytes from m_flushStart on are in m_flushing; bytes from m_outStart on wait in m_out.
    // Entries written but not yet on disk wait in m_written, and go into the entry list once
    // their last byte is.
    struct Flush;
    ByteBuffer m_out;
    std::int64_t m_outStart = 0;
    ByteBuffer m_flushing;
    std::int64_t m_flushStart = 0;
    bool m_flushPending = false;
    std::shared_ptr<Flush> m_flush;
    std::int64_t m_diskEnd = 0;
    struct Written {
        ZipEntryPtr entry;
        std::int64_t end;
        std::int64_t directoryBytes;
    };
    std::deque<Written> m_written;
    std::int64_t m_writtenDirectoryBytes = 0;
    // The local header of the entry being written in pieces, while it is; what the final-bytes
    // listener was told last.
    std::int64_t m_piecedStart = -1;
    std::int64_t m_toldEnd = -1;
    std::int64_t m_toldHeld = -1;

    std::optional<PayloadError> m_failure;
    bool m_failureReported = false;
    std::unique_ptr<WorkerPool> m_writer;  // the writer thread: stopped before the buffers go
    std::unique_ptr<WorkerPool> m_pool;    // last: stopped first
};

} // namespace lv
