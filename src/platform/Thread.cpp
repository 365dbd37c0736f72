#include "platform/Thread.h"

#include <iostream>
#include <system_error>

#include "platform/Exceptions.h"

namespace lv {

namespace {

thread_local Thread* t_current = nullptr;

std::mutex g_handlerMutex;
Thread::UnhandledHandler g_handler;

void reportUnhandled(std::exception_ptr error)
{
    Thread::UnhandledHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    try {
        if (handler) {
            handler(error);
            return;
        }
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::cerr << "Unhandled exception in thread: " << e.what() << std::endl;
    } catch (...) {
        // A handler that throws, or an exception that is no std::exception: nothing more to say.
        std::cerr << "Unhandled exception in thread" << std::endl;
    }
}

} // namespace

Thread::~Thread()
{
    if (current() == this) {
        // Destroyed by its own run: nobody is left to join it.
        if (m_thread.joinable())
            m_thread.detach();
        return;
    }
    kill();
    wait();
}

void Thread::start()
{
    if (current() == this)
        throw RuntimeException("Thread is already running");
    std::lock_guard lock(m_startMutex);
    if (m_running.load())
        throw RuntimeException("Thread is already running");
    if (m_thread.joinable())
        m_thread.join();  // the previous run has ended; reap it
    m_killed.store(false);
    m_running.store(true);
    try {
        m_thread = std::thread([this] { body(); });
    } catch (const std::system_error& e) {
        m_running.store(false);
        throw RuntimeException(std::string("Cannot start thread: ") + e.what(), e.code().value());
    }
}

void Thread::kill()
{
    if (current() == this) {
        m_killed.store(true);
        throw ThreadEnd{};
    }
    if (!m_running.load())
        return;
    {
        std::lock_guard lock(m_sleepMutex);
        m_killed.store(true);
    }
    m_wake.notify_all();
}

void Thread::wait()
{
    if (current() == this)
        throw RuntimeException("A thread cannot wait for itself");
    std::lock_guard lock(m_startMutex);
    if (m_thread.joinable())
        m_thread.join();
}

void Thread::yieldPoint()
{
    Thread* self = t_current;
    if (self && self->m_killed.load())
        throw ThreadEnd{};
}

void Thread::sleepFor(std::chrono::milliseconds duration)
{
    Thread* self = t_current;
    if (!self) {
        std::this_thread::sleep_for(duration);
        return;
    }
    {
        std::unique_lock lock(self->m_sleepMutex);
        self->m_wake.wait_for(lock, duration, [self] { return self->m_killed.load(); });
    }
    yieldPoint();
}

Thread* Thread::current() noexcept
{
    return t_current;
}

void Thread::setUnhandledExceptionHandler(UnhandledHandler handler)
{
    std::lock_guard lock(g_handlerMutex);
    g_handler = std::move(handler);
}

void Thread::body()
{
    t_current = this;
    try {
        execute();
    } catch (const ThreadEnd&) {
        // Killed: the stack is unwound, the run ends quietly.
    } catch (...) {
        reportUnhandled(std::current_exception());
    }
    t_current = nullptr;
    m_running.store(false);
}

} // namespace lv
