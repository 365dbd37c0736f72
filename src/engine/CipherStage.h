#pragma once
// The cipher loops of both roads as pipelines: reading, the cipher, the MAC and writing each on a
// thread of their own over chunks of a few MiB, so that a job takes as long as its slowest step
// rather than all of them one after the other.
//
// BodyEncryption enciphers the work archive while it is still being written: the archiving
// worker tells it how far the archive's bytes are final, and it follows behind. decryptBody
// deciphers the body of an encrypted file, checking the tag while it deciphers.
//
// Failures are texts for the job's message; a source file that changes length while it is read
// is one ("it became shorter while it was read").

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/crypto/Ciphers.h"
#include "platform/BinaryStream.h"
#include "platform/ChunkPipeline.h"
#include "platform/FileDescriptor.h"
#include "platform/FolderItem.h"

namespace lv {

class BodyEncryption {
public:
    // Enciphers `source` (the work archive, growing) with `cipher`, whose beginEncrypting gave
    // `bodyHeader`, into `sink` (the file `sinkFile`) from its current position on: the body's
    // header first, then the ciphertext as the source's bytes become final. Threads start at
    // once. RuntimeException with the reason when `source` cannot be opened.
    BodyEncryption(std::unique_ptr<BodyCipher> cipher, const std::string& bodyHeader, const FolderItem& source,
                   BinaryStream& sink, const FolderItem& sinkFile);
    ~BodyEncryption();
    BodyEncryption(const BodyEncryption&) = delete;
    BodyEncryption& operator=(const BodyEncryption&) = delete;

    // The source's bytes before `end` will not change any more. Any thread.
    void available(std::uint64_t end);
    // The source is complete at `length` bytes.
    void complete(std::uint64_t length);
    // Waits for the whole body, then writes its end (the last block and the tag). `idle` is
    // called every few milliseconds meanwhile. False with the reason in `error`.
    bool finish(const std::function<void()>& idle, std::string& error);
    // Source bytes enciphered and written so far.
    std::uint64_t done() const noexcept { return m_done.load(); }
    // After finish: the body's length in the sink.
    std::uint64_t bodyLength() const noexcept { return m_bodyEnd - m_bodyStart + m_bodyHeaderSize; }

private:
    bool fill(ChunkPipeline::Chunk& chunk, bool& end, std::string& error);

    std::unique_ptr<BodyCipher> m_cipher;
    FolderItem m_source;
    FileDescriptor m_in;
    BinaryStream& m_sink;
    FolderItem m_sinkFile;
    std::uint64_t m_bodyStart = 0;  // sink offset of the first ciphertext byte
    std::uint64_t m_bodyHeaderSize = 0;
    std::uint64_t m_bodyEnd = 0;    // sink offset behind the tag, once finished

    std::mutex m_mutex;
    std::condition_variable m_more;
    std::uint64_t m_available = 0;
    bool m_complete = false;
    std::uint64_t m_length = 0;
    std::uint64_t m_read = 0;  // source bytes handed to the pipeline (whole blocks)
    bool m_stop = false;
    std::atomic<std::uint64_t> m_done{0};
    std::unique_ptr<ChunkPipeline> m_pipeline;  // last: stopped first
};

// Deciphers the body of the encrypted file `in` (from `bodyStart` to `length`, its length when
// the job began) into `out` (the file `outFile`) with `cipher`, which has either begun already
// (its header taken, see KeyCheck) or not (then the body's header is read here). `progress` gets
// the read position in `in` after each chunk, from the reading thread; `idle` is called every
// few milliseconds. False with the reason in `error` (a body that is not authentic included).
bool decryptBody(BodyCipher& cipher, bool begun, const FolderItem& in, std::uint64_t bodyStart, std::uint64_t length,
                 BinaryStream& out, const FolderItem& outFile, const std::function<void(std::uint64_t)>& progress,
                 const std::function<void()>& idle, std::string& error);

} // namespace lv
