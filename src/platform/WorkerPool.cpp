#include "platform/WorkerPool.h"

#include <algorithm>
#include <system_error>

#include "platform/Exceptions.h"

namespace lv {

WorkerPool::WorkerPool(unsigned threads)
{
    try {
        for (unsigned i = 0; i < std::max(threads, 1u); ++i)
            m_threads.emplace_back([this] { run(); });
    } catch (const std::system_error& e) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads)
            t.join();
        throw RuntimeException(std::string("Cannot start worker threads: ") + e.what(), e.code().value());
    }
}

WorkerPool::~WorkerPool()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_tasks);
    }
    m_wake.notify_all();
    for (auto& t : m_threads)
        t.join();
}

void WorkerPool::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

unsigned WorkerPool::hardwareThreads() noexcept
{
    return std::max(std::thread::hardware_concurrency(), 1u);
}

void WorkerPool::run()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_stopping)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

} // namespace lv
