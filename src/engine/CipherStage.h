#pragma once
// The cipher loops of both roads as pipelines (reading, the cipher and its MAC, writing), so that
// a job takes as long as its slowest step rather than all of them one after the other.
//
// BodyEncryption enciphers the work archive in segments while it is still being written: the
// archiving worker tells it how far the archive's bytes are final, and it follows behind, a pool
// of workers sealing the segments. decryptBody deciphers the body of an encrypted file: a body in
// segments has each segment's tag checked, by a pool of workers, before any of its plaintext is
// written; an older body in one piece has its one tag checked by TagCheck beside the deciphering,
// in full before decryptBody returns. The segments in flight take a bounded amount of memory,
// whatever size the file's segments are.
//
// Failures are texts for the job's message; a source file that changes length while it is read
// is one ("it became shorter while it was read").

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/crypto/Ciphers.h"
#include "platform/BinaryStream.h"
#include "platform/BufferPool.h"
#include "platform/ChunkPipeline.h"
#include "platform/FileDescriptor.h"
#include "platform/FolderItem.h"

namespace lv {

class BodyEncryption {
public:
    // Enciphers `source` (the work archive, growing) in segments with `cipher`, whose
    // beginSegments gave `bodyHeader`, into `sink` (the file `sinkFile`) from its current position
    // on: the body's header first, then the segments as the source's bytes become final. A pool of
    // workers, one per core, seals the segments; one writer puts them in their places. Threads
    // start at once. RuntimeException with the reason when `source` cannot be opened.
    BodyEncryption(std::unique_ptr<BodyCipher> cipher, const std::string& bodyHeader, const FolderItem& source,
                   BinaryStream& sink, const FolderItem& sinkFile);
    ~BodyEncryption();
    BodyEncryption(const BodyEncryption&) = delete;
    BodyEncryption& operator=(const BodyEncryption&) = delete;

    // The file's header in front of the body, which every segment's tag binds: the workers seal
    // nothing before it is known. Once, any thread.
    void setOuterHeader(const std::string& header);
    bool hasOuterHeader() const;
    // The source's bytes before `end` will not change any more, but for the 8 bytes at `held`
    // when it is not negative: the segments that hold them wait, the later ones go on. Any thread.
    void available(std::uint64_t end, std::int64_t held = -1);
    // The source is complete at `length` bytes.
    void complete(std::uint64_t length);
    // Waits for the whole body (after setOuterHeader). `idle` is called every few milliseconds
    // meanwhile. False with the reason in `error`.
    bool finish(const std::function<void()>& idle, std::string& error);
    // Source bytes enciphered and written so far.
    std::uint64_t done() const noexcept { return m_done.load(); }
    // After finish: the body's length in the sink.
    std::uint64_t bodyLength() const noexcept { return m_bodyEnd - m_bodyStart + m_bodyHeaderSize; }

private:
    bool fill(ChunkPipeline::Chunk& chunk, bool& end, std::string& error);
    bool seal(ChunkPipeline::Chunk& chunk, std::string& error);
    bool isLast(const ChunkPipeline::Chunk& chunk);
    std::uint64_t storedOffset(std::uint64_t plainOffset) const;

    std::unique_ptr<BodyCipher> m_cipher;
    FolderItem m_source;
    FileDescriptor m_in;
    BinaryStream& m_sink;
    FolderItem m_sinkFile;
    std::uint64_t m_bodyStart = 0;  // sink offset of the first segment
    std::uint64_t m_bodyHeaderSize = 0;
    std::uint64_t m_bodyEnd = 0;    // sink offset behind the last segment, once finished

    mutable std::mutex m_mutex;
    std::condition_variable m_more;
    std::string m_outerHeader;
    bool m_haveOuterHeader = false;
    std::uint64_t m_available = 0;
    std::int64_t m_held = -1;
    bool m_complete = false;
    std::uint64_t m_length = 0;
    std::uint64_t m_read = 0;  // source bytes handed to the pipeline or waiting (whole segments)
    std::deque<std::uint64_t> m_waiting;  // offsets of segments passed over while they held bytes not final
    bool m_stop = false;
    std::atomic<std::uint64_t> m_done{0};
    std::unique_ptr<ChunkPipeline> m_pipeline;  // last: stopped first
};

// The tag of a body checked on a thread of its own, behind the deciphering, which hands it copies
// of the very ciphertext it read (a file changed meanwhile cannot show the MAC other bytes than
// the cipher). Up to `buffers` chunks wait for the MAC, so the deciphering runs that far ahead.
// The destructor stops the thread and waits for it.
class TagCheck {
public:
    TagCheck(BodyCipher& cipher, std::size_t chunkSize, std::size_t buffers);
    ~TagCheck();
    TagCheck(const TagCheck&) = delete;
    TagCheck& operator=(const TagCheck&) = delete;

    // The next ciphertext (at most chunkSize bytes, whole blocks); waits while every buffer is
    // taken. False when the check has stopped.
    bool feed(std::span<const std::uint8_t> ciphertext);
    // The last block and the tag, after the last feed: the check ends once the MAC has taken
    // everything.
    void finish(std::span<const std::uint8_t> tail);
    // Gives up: the thread ends as soon as it can, and the body counts as not authentic.
    void stop();
    // Waits for the outcome, calling `idle` every few milliseconds: true when the body is
    // authentic, else false with the reason in `error`. Any thread, several at once.
    bool wait(const std::function<void()>& idle, std::string& error);

private:
    void run();

    BodyCipher& m_cipher;
    BufferPool m_pool;          // copies go round instead of being made afresh
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_available;    // buffers that may still be filled
    std::deque<ByteBuffer> m_queue;
    ByteBuffer m_tail;
    bool m_finishing = false;  // the tail is in
    bool m_stop = false;
    bool m_ended = false;
    bool m_authentic = false;
    std::string m_error;
    std::thread m_thread;       // last: started once everything else is ready
};

// Deciphers the body of the encrypted file `in` (from `bodyStart` to `length`, its length when
// the job began) into `out` (the file `outFile`) with `cipher`, which has either begun already
// (its header taken, see KeyCheck) or not (then the body's header is read here). `progress` gets
// the read position in `in` after each chunk, from the reading thread; `idle` is called every
// few milliseconds.
// True only once the whole body is known to be authentic: a body in segments has each segment
// checked before any of it is written; an older body has its one tag checked before this returns.
// False with the reason in `error`; when the body is not authentic, that is the reason given.
bool decryptBody(BodyCipher& cipher, bool begun, const FolderItem& in, std::uint64_t bodyStart, std::uint64_t length,
                 BinaryStream& out, const FolderItem& outFile, const std::function<void(std::uint64_t)>& progress,
                 const std::function<void()>& idle, std::string& error);

} // namespace lv
