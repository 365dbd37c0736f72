#pragma once
// A fixed set of threads that run posted tasks, first posted first started.
//
// A task must not throw (an exception that escapes it ends the program). The pool's threads live
// as long as the pool: its destructor drops the tasks not yet started and waits for the running
// ones, so tasks that may run long should watch a stop flag of their owner.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lv {

class WorkerPool {
public:
    // `threads` at least 1. RuntimeException when the threads cannot be started.
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void post(std::function<void()> task);
    unsigned size() const noexcept { return unsigned(m_threads.size()); }

    // The number of threads worth running on this machine (its cores), at least 1.
    static unsigned hardwareThreads() noexcept;

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace lv
