#include "zip/ParallelExtraction.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/BinaryStream.h"
#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/ExtractionJob.h"
#include "zip/ZipArchive.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

// How often the waiting caller looks whether it was killed.
constexpr std::chrono::milliseconds CancelPoll{10};

} // namespace

class ParallelExtraction::Worker final : public Thread {
public:
    Worker(ParallelExtraction& owner, BinaryStreamPtr stream, std::uint64_t length)
        : m_owner(owner), m_stream(std::move(stream)), m_reader{*m_stream, length, ExtractionJob::ChunkSize}
    {
    }
    ~Worker() override
    {
        kill();
        wait();
    }

    const ZipEntry::ArchiveReader& reader() const noexcept { return m_reader; }
    std::int32_t entry = 0;  // the entry it extracts (under the owner's lock); 0 when none

protected:
    void execute() override { m_owner.work(*this); }

private:
    ParallelExtraction& m_owner;
    BinaryStreamPtr m_stream;
    ZipEntry::ArchiveReader m_reader;
};

ParallelExtraction::ParallelExtraction(ZipArchive& archive, ExtractionJob& job, unsigned threads)
    : m_archive(archive), m_job(job), m_schedule(archive)
{
    if (archive.ProgressMonitor())
        return;
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = std::min({threads, MaxThreads, unsigned(std::max(m_schedule.count(), 1))});
    const FolderItem& file = archive.data()->theFile;
    for (unsigned i = 0; i < threads; ++i) {
        BinaryStreamPtr stream = file.openAsBinaryFile(false);
        if (!stream)
            throw RuntimeException("The archive \"" + file.displayName() + "\" could not be read: " + file.lastErrorText());
        stream->setLittleEndian(true);
        const std::uint64_t length = stream->length();
        m_workers.push_back(std::make_unique<Worker>(*this, std::move(stream), length));
    }
}

ParallelExtraction::~ParallelExtraction() { stopWorkers(); }

void ParallelExtraction::stopWorkers()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    // A worker in the middle of an entry stops at its next cancellation point; its work file
    // goes as its stack unwinds.
    for (auto& w : m_workers)
        w->kill();
    m_workAvailable.notify_all();
    for (auto& w : m_workers)
        w->wait();
}

bool ParallelExtraction::isFinished() const
{
    return m_inFlight.empty() && (m_failure || m_next > m_schedule.count());
}

bool ParallelExtraction::mayStart() const
{
    if (m_failure || m_next > m_schedule.count())
        return false;
    return std::none_of(m_inFlight.begin(), m_inFlight.end(),
                        [&](std::int32_t other) { return m_schedule.meet(m_next, other); });
}

std::optional<ParallelExtraction::Failure> ParallelExtraction::run(const StepHook& stepHook, const EntryDone& entryDone)
{
    // A monitor set after this object was made finds the workers idle: they never start.
    if (m_workers.empty() || m_archive.ProgressMonitor())
        return runHere(stepHook, entryDone);
    m_stepHook = stepHook;
    for (auto& w : m_workers)
        w->start();

    for (;;) {
        Thread::yieldPoint();
        std::vector<std::int32_t> extracted;
        bool finished = false;
        {
            std::unique_lock lock(m_mutex);
            m_entryEnded.wait_for(lock, CancelPoll, [&] { return isFinished(); });
            extracted.swap(m_extracted);
            finished = isFinished();
        }
        if (entryDone)
            for (const std::int32_t index : extracted)
                entryDone(*m_archive.Entry(index));
        if (finished)
            break;
    }
    stopWorkers();
    std::lock_guard lock(m_mutex);
    return m_failure;
}

std::optional<ParallelExtraction::Failure> ParallelExtraction::runHere(const StepHook& stepHook,
                                                                      const EntryDone& entryDone)
{
    for (std::int32_t index = 1; index <= m_schedule.count(); ++index) {
        if (stepHook)
            stepHook(index);
        Thread::yieldPoint();
        ZipEntry& entry = *m_archive.Entry(index);
        try {
            std::string error;
            if (!m_job.extract(entry, error))
                return Failure{index, error, false};
        } catch (const ThreadEnd&) {
            throw;
        } catch (const std::exception& e) {
            return Failure{index, e.what(), true};
        }
        if (entryDone)
            entryDone(entry);
    }
    return std::nullopt;
}

void ParallelExtraction::work(Worker& self)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workAvailable.wait(lock, [&] { return m_stopping || self.killRequested() || mayStart(); });
        if (m_stopping || self.killRequested())
            return;
        const std::int32_t index = m_next++;
        m_inFlight.push_back(index);
        self.entry = index;
        if (mayStart())
            m_workAvailable.notify_one();
        lock.unlock();

        std::optional<Failure> failure;
        try {
            if (m_stepHook)
                m_stepHook(index);
            Thread::yieldPoint();
            std::string error;
            if (!m_job.extract(*m_archive.Entry(index), self.reader(), error))
                failure = Failure{index, error, false};
        } catch (const ThreadEnd&) {
            lock.lock();
            endEntry(self, index, std::nullopt, false);
            throw;
        } catch (const std::exception& e) {
            failure = Failure{index, e.what(), true};
        }
        lock.lock();
        const bool extracted = !failure;
        endEntry(self, index, std::move(failure), extracted);
    }
}

void ParallelExtraction::endEntry(Worker& self, std::int32_t index, std::optional<Failure> failure, bool extracted)
{
    std::erase(m_inFlight, index);
    self.entry = 0;
    if (extracted)
        m_extracted.push_back(index);
    if (failure && (!m_failure || failure->index < m_failure->index)) {
        m_failure = std::move(failure);
        // Entries after the first failure are of no use any more.
        for (auto& w : m_workers)
            if (w->entry > m_failure->index)
                w->kill();
        m_workAvailable.notify_all();
    } else if (mayStart()) {
        m_workAvailable.notify_one();
    }
    // The calling thread looks in now and then; it is woken only for the end.
    if (isFinished())
        m_entryEnded.notify_one();
}

} // namespace lv
