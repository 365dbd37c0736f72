#pragma once
// A worker thread with cooperative cancellation.
//
// `start()` runs `execute()` on a new operating-system thread. `kill()` asks it to stop: the next
// cancellation point it passes (`Thread::yieldPoint()`, `Thread::sleepFor()`) throws ThreadEnd,
// which unwinds the worker's stack (RAII closes its streams) and ends the thread quietly. A
// thread that kills itself stops at once. A thread object can be started again once its previous
// run has ended.
//
// A subclass whose `execute()` uses its own members must stop the thread (`kill()`, `wait()`) in
// its own destructor: the base destructor runs after those members are gone.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace lv {

class Thread {
public:
    Thread() = default;
    // Kills the thread and waits for it to end.
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts a run; RuntimeException when a run is still going on (also when called from the
    // thread itself) or when no thread can be made.
    void start();
    // Asks the running thread to stop at its next cancellation point; called from the thread
    // itself it throws ThreadEnd at once. No effect when the thread is not running.
    void kill();
    // Waits until the current run (if any) has ended. RuntimeException when called from the
    // thread itself.
    void wait();
    bool isRunning() const noexcept { return m_running.load(); }
    bool killRequested() const noexcept { return m_killed.load(); }

    // A cancellation point for the calling thread: throws ThreadEnd when it is a killed Thread;
    // does nothing on a thread that is no Thread (the GUI thread, a test).
    static void yieldPoint();
    // Sleeps, waking at once (and throwing ThreadEnd) when the calling Thread is killed.
    static void sleepFor(std::chrono::milliseconds duration);
    // The Thread the caller runs on, or nullptr.
    static Thread* current() noexcept;

    // Called on the worker thread for an exception other than ThreadEnd that escapes
    // `execute()`. The default (also restored by an empty handler) writes it to standard error.
    using UnhandledHandler = std::function<void(std::exception_ptr)>;
    static void setUnhandledExceptionHandler(UnhandledHandler handler);

protected:
    // The body of the thread.
    virtual void execute() = 0;

private:
    void body();

    std::thread m_thread;
    std::mutex m_startMutex;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_killed{false};
    // Wakes a sleeping run when it is killed.
    std::mutex m_sleepMutex;
    std::condition_variable m_wake;
};

} // namespace lv
