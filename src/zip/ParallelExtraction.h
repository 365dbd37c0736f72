#pragma once
// Every entry of an open archive extracted through an extraction job by a pool of threads, one
// per core (at most MaxThreads), each reading the archive through a stream of its own.
//
// The outcome is the one of extracting the entries one after the other in the archive's order:
// entries whose places meet (ExtractionSchedule) take turns in that order, and when entries
// fail, the first failing one in the archive's order is reported once every entry before it is
// done; entries after it are stopped at their next cancellation point, and no further entry
// starts. The job's record holds whatever was made, for its clean-up.
//
// The calling thread hands out nothing itself: it waits, passes each finished entry on and stays
// a cancellation point (a killed caller leaves `run` within a few milliseconds). The destructor
// stops the pool and waits for its threads, so nothing of the run outlives the object.
//
// An archive with a progress monitor when `run` begins (set before this object was made or
// after) is extracted by the calling thread alone, one entry after the other: the monitor hears
// from the archive's own thread, one call at a time, in order, and its abort stops the entry at
// once.
//
// Implementation: ParallelExtraction.cpp.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zip/ExtractionSchedule.h"

namespace lv {

class ExtractionJob;
class ZipArchive;
class ZipEntry;

class ParallelExtraction {
public:
    // Bounds the memory in flight (each thread holds at most one entry of up to 8 MiB whole, or
    // a few 1 MiB blocks of a longer one).
    static constexpr unsigned MaxThreads = 16;

    struct Failure {
        std::int32_t index = 0;  // 1-based entry index
        std::string message;     // "Extraction of "name" failed: reason", or the exception's text
        bool exception = false;  // the extraction raised an exception instead of failing
    };

    // Test hook: called on the thread that extracts entry `index`, just before it does.
    using StepHook = std::function<void(std::int32_t index)>;
    // Called on the calling thread for each entry extracted, in the order they end.
    using EntryDone = std::function<void(ZipEntry& entry)>;

    // `threads` 0: one per core; none with a progress monitor set already. RuntimeException when
    // the archive cannot be read again.
    ParallelExtraction(ZipArchive& archive, ExtractionJob& job, unsigned threads = 0);
    ~ParallelExtraction();
    ParallelExtraction(const ParallelExtraction&) = delete;
    ParallelExtraction& operator=(const ParallelExtraction&) = delete;

    // Extracts every entry; nullopt when all were extracted, else the failure to report.
    std::optional<Failure> run(const StepHook& stepHook = {}, const EntryDone& entryDone = {});

    unsigned threadCount() const noexcept { return unsigned(m_workers.size()); }

private:
    class Worker;
    friend class Worker;

    // The body of each worker thread.
    void work(Worker& worker);
    // Under the lock: entry `m_next` may start now.
    bool mayStart() const;
    // Under the lock: every entry is done, or the first failure is known and nothing runs.
    bool isFinished() const;
    // Under the lock: entry `index`, which `worker` took, has ended: extracted, failed with
    // `failure`, or stopped.
    void endEntry(Worker& worker, std::int32_t index, std::optional<Failure> failure, bool extracted);
    void stopWorkers();
    // Every entry in order on the calling thread, through the archive's own stream.
    std::optional<Failure> runHere(const StepHook& stepHook, const EntryDone& entryDone);

    ZipArchive& m_archive;
    ExtractionJob& m_job;
    ExtractionSchedule m_schedule;
    std::vector<std::unique_ptr<Worker>> m_workers;

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;  // wakes the workers
    std::condition_variable m_entryEnded;     // wakes the calling thread when it has to act
    StepHook m_stepHook;
    std::int32_t m_next = 1;                  // the next entry to hand out
    std::vector<std::int32_t> m_inFlight;
    std::vector<std::int32_t> m_extracted;    // not yet passed on by the calling thread
    std::optional<Failure> m_failure;
    bool m_stopping = false;
};

} // namespace lv
