#pragma once
// Bulk data passed in chunks through a chain of stages, each stage on a thread of its own, so
// that all stages work at once on consecutive chunks; every chunk passes every stage in order.
// A fixed set of buffers goes round: the source fills one, each stage works on it in place, and
// after the last stage it is free again. Nothing is copied from stage to stage.
//
// A stage may run on several threads at once (each chunk still passes it once); the stage after
// it gets the chunks back in the source's order.
//
// A stage that fails stops the pipeline with its reason. The destructor stops it and waits for
// its threads, so an exception (a thread's end included) in the thread that waits leaves nothing
// running.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ByteBuffer.h"

namespace lv {

class ChunkPipeline {
public:
    struct Chunk {
        ByteBuffer bytes;          // its size is what the source filled in
        std::uint64_t offset = 0;  // where the chunk lies in the data, set by the source
        std::uint64_t sequence = 0;  // the chunk's place in the source's order, counted from 0
    };
    // Fills `chunk` (resizing its buffer up to its capacity), or sets `end` when the data is
    // over (an empty chunk then goes no further). False stops everything, with the reason in
    // `error`. A source that waits for its data must wake up when `stopping()` turns true.
    using Source = std::function<bool(Chunk& chunk, bool& end, std::string& error)>;
    // Works on one chunk; false stops everything, with the reason in `error`.
    using Stage = std::function<bool(Chunk& chunk, std::string& error)>;

    // `buffers` chunks of `chunkSize` bytes each. Starts the threads at once.
    ChunkPipeline(std::size_t chunkSize, std::size_t buffers, Source source, std::vector<Stage> stages);
    // The same with `threads[i]` threads (at least 1) for stage i; stages beyond the list get one.
    ChunkPipeline(std::size_t chunkSize, std::size_t buffers, Source source, std::vector<Stage> stages,
                  const std::vector<unsigned>& threads);
    ~ChunkPipeline();
    ChunkPipeline(const ChunkPipeline&) = delete;
    ChunkPipeline& operator=(const ChunkPipeline&) = delete;

    // Waits until the source has ended and every chunk has passed the last stage, or a stage has
    // failed; calls `idle` every few milliseconds meanwhile (progress, cancellation points).
    // True when all went well; otherwise false with the first failure's reason in `error`.
    bool wait(const std::function<void()>& idle, std::string& error);
    // Asks every thread to end as soon as it can.
    void stop();
    bool stopping() const noexcept { return m_stopping.load(); }

private:
    void runSource();
    void runStage(std::size_t index);
    // Under the lock: `chunk` has passed stage `index`; it goes on in the source's order. How many
    // chunks went on.
    std::size_t passOn(std::size_t index, Chunk* chunk);
    // After a chunk went to the stage at `index` (the source's free list beyond the last stage).
    void wake(std::size_t index, std::size_t chunks);
    // After m_done[done] was set: every thread of stage `done` looks again (wait(), past the last).
    void wakeEnded(std::size_t done);
    void wakeAll();
    void fail(const std::string& error);
    // Runs one step of a thread; false, the pipeline failed, when it failed or threw.
    bool succeeded(const std::function<bool(std::string&)>& step);

    Source m_source;
    std::vector<Stage> m_stages;
    std::vector<Chunk> m_chunks;

    std::mutex m_mutex;
    // Each waits for its own reason, so that a chunk moving on wakes the one thread that takes it
    // rather than all of them.
    std::condition_variable m_freed;                 // the source: a buffer is free
    std::vector<std::condition_variable> m_queued;   // per stage: a chunk to take, or the stage before ended
    std::condition_variable m_finished;              // wait(): the last stage ended, or a failure
    std::deque<Chunk*> m_free;
    std::vector<std::deque<Chunk*>> m_queues;  // one per stage
    std::vector<std::map<std::uint64_t, Chunk*>> m_early;  // per stage: done ahead of their turn
    std::vector<std::uint64_t> m_nextOut;      // per stage: the sequence to pass on next
    std::vector<unsigned> m_busy;              // per stage: threads at work on a chunk
    std::vector<bool> m_done;                  // source first, then one per stage
    std::atomic<bool> m_stopping{false};
    bool m_failed = false;
    std::string m_error;
    std::vector<std::thread> m_threads;
};

} // namespace lv
