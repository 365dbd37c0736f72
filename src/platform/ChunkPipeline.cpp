#include "platform/ChunkPipeline.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "platform/Exceptions.h"

namespace lv {

namespace {
constexpr std::chrono::milliseconds WaitStep{20};
}

ChunkPipeline::ChunkPipeline(std::size_t chunkSize, std::size_t buffers, Source source, std::vector<Stage> stages)
    : ChunkPipeline(chunkSize, buffers, std::move(source), std::move(stages), {})
{
}

ChunkPipeline::ChunkPipeline(std::size_t chunkSize, std::size_t buffers, Source source, std::vector<Stage> stages,
                             const std::vector<unsigned>& threads)
    : m_source(std::move(source)), m_stages(std::move(stages)), m_chunks(std::max<std::size_t>(buffers, 1)),
      m_queued(m_stages.size()), m_queues(m_stages.size()), m_early(m_stages.size()), m_nextOut(m_stages.size(), 0),
      m_busy(m_stages.size(), 0), m_done(m_stages.size() + 1, false)
{
    for (Chunk& c : m_chunks) {
        c.bytes.reserve(chunkSize);
        m_free.push_back(&c);
    }
    try {
        m_threads.emplace_back([this] { runSource(); });
        for (std::size_t i = 0; i < m_stages.size(); ++i)
            for (unsigned n = 0; n < std::max(1u, i < threads.size() ? threads[i] : 1u); ++n)
                m_threads.emplace_back([this, i] { runStage(i); });
    } catch (const std::system_error& e) {
        stop();
        for (auto& t : m_threads)
            t.join();
        throw RuntimeException(std::string("Cannot start threads: ") + e.what(), e.code().value());
    }
}

ChunkPipeline::~ChunkPipeline()
{
    stop();
    for (auto& t : m_threads)
        t.join();
}

void ChunkPipeline::wakeAll()
{
    m_freed.notify_all();
    for (auto& queued : m_queued)
        queued.notify_all();
    m_finished.notify_all();
}

void ChunkPipeline::wake(std::size_t index, std::size_t chunks)
{
    if (chunks == 0)
        return;
    if (index >= m_queued.size())
        m_freed.notify_one();
    else if (chunks == 1)
        m_queued[index].notify_one();
    else
        m_queued[index].notify_all();
}

void ChunkPipeline::wakeEnded(std::size_t done)
{
    if (done < m_queued.size())
        m_queued[done].notify_all();
    else
        m_finished.notify_all();
}

void ChunkPipeline::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wakeAll();
}

void ChunkPipeline::fail(const std::string& error)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_failed) {
            m_failed = true;
            m_error = error;
        }
        m_stopping = true;
    }
    wakeAll();
}

bool ChunkPipeline::succeeded(const std::function<bool(std::string&)>& step)
{
    std::string error;
    bool ok = false;
    try {
        ok = step(error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!ok)
        fail(error);
    return ok;
}

void ChunkPipeline::runSource()
{
    std::uint64_t sequence = 0;
    for (;;) {
        Chunk* chunk = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_freed.wait(lock, [this] { return m_stopping || !m_free.empty(); });
            if (m_stopping)
                return;
            chunk = m_free.front();
            m_free.pop_front();
        }
        chunk->bytes.clear();
        bool end = false;
        if (!succeeded([&](std::string& error) { return m_source(*chunk, end, error); }))
            return;
        bool queued = false;
        {
            std::lock_guard lock(m_mutex);
            if (chunk->bytes.empty() || m_queues.empty()) {
                m_free.push_back(chunk);
            } else {
                chunk->sequence = sequence++;
                m_queues[0].push_back(chunk);
                queued = true;
            }
            if (end)
                m_done[0] = true;
        }
        if (end) {
            wakeEnded(0);
            return;
        }
        wake(0, queued ? 1 : 0);
    }
}

void ChunkPipeline::runStage(std::size_t index)
{
    for (;;) {
        Chunk* chunk = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_queued[index].wait(lock, [&] { return m_stopping || !m_queues[index].empty() || m_done[index]; });
            if (m_stopping)
                return;
            if (m_queues[index].empty()) {
                // The stage before has ended and left nothing; the last of this stage's threads
                // to finish its chunk says so.
                if (m_busy[index] == 0 && !m_done[index + 1]) {
                    m_done[index + 1] = true;
                    lock.unlock();
                    wakeEnded(index + 1);
                }
                return;
            }
            chunk = m_queues[index].front();
            m_queues[index].pop_front();
            ++m_busy[index];
        }
        if (!succeeded([&](std::string& error) { return m_stages[index](*chunk, error); }))
            return;
        std::size_t passed = 0;
        {
            std::lock_guard lock(m_mutex);
            --m_busy[index];
            passed = passOn(index, chunk);
        }
        wake(index + 1, passed);
    }
}

std::size_t ChunkPipeline::passOn(std::size_t index, Chunk* chunk)
{
    auto& early = m_early[index];
    early.emplace(chunk->sequence, chunk);
    std::size_t passed = 0;
    for (auto it = early.begin(); it != early.end() && it->first == m_nextOut[index]; it = early.erase(it)) {
        ++m_nextOut[index];
        ++passed;
        if (index + 1 < m_queues.size())
            m_queues[index + 1].push_back(it->second);
        else
            m_free.push_back(it->second);
    }
    return passed;
}

bool ChunkPipeline::wait(const std::function<void()>& idle, std::string& error)
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_finished.wait_for(lock, WaitStep, [this] { return m_failed || m_done.back(); });
            if (m_failed) {
                error = m_error;
                return false;
            }
            if (m_done.back())
                return true;
        }
        if (idle)
            idle();
    }
}

} // namespace lv
