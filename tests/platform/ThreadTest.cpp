#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include "platform/BinaryStream.h"
#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "support/TempDir.h"

namespace lv {
namespace {

using namespace std::chrono_literals;

// A Thread whose body is given by the test.
class LambdaThread : public Thread {
public:
    explicit LambdaThread(std::function<void()> body) : m_body(std::move(body)) {}
    ~LambdaThread() override
    {
        kill();
        wait();
    }

protected:
    void execute() override { m_body(); }

private:
    std::function<void()> m_body;
};

std::size_t openDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Waits (generously) until `done` holds; false when it never did.
bool eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 3000 && !done(); ++i)
        std::this_thread::sleep_for(10ms);
    return done();
}

// Restores the default handler when a test ends.
struct HandlerGuard {
    ~HandlerGuard() { Thread::setUnhandledExceptionHandler(nullptr); }
};

TEST(Thread, KilledThreadStopsAtItsNextYieldPointAndClosesItsStreams)
{
    test::TempDir dir;
    const std::size_t before = openDescriptors();

    std::promise<void> opened;
    std::promise<void> killed;
    std::atomic<bool> passedYield{false};
    LambdaThread worker([&] {
        int fd1 = ::open((dir / "a").c_str(), O_RDWR | O_CREAT, 0600);
        int fd2 = ::open((dir / "b").c_str(), O_RDWR | O_CREAT, 0600);
        BinaryStream a(fd1, true);
        BinaryStream b(fd2, true);
        opened.set_value();
        killed.get_future().wait();  // no cancellation point until the test has killed us
        Thread::yieldPoint();
        passedYield = true;
    });
    worker.start();
    opened.get_future().wait();
    EXPECT_EQ(openDescriptors(), before + 2);
    EXPECT_TRUE(worker.isRunning());

    worker.kill();
    EXPECT_TRUE(worker.killRequested());
    killed.set_value();
    worker.wait();

    EXPECT_FALSE(worker.isRunning());
    EXPECT_FALSE(passedYield);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(Thread, KillWakesASleepingThread)
{
    std::atomic<bool> asleep{false};
    LambdaThread worker([&] {
        asleep = true;
        Thread::sleepFor(std::chrono::hours(1));
        ADD_FAILURE() << "slept through the kill";
    });
    worker.start();
    ASSERT_TRUE(eventually([&] { return asleep.load(); }));
    worker.kill();
    EXPECT_TRUE(eventually([&] { return !worker.isRunning(); }));
}

TEST(Thread, ThreadThatKillsItselfStopsAtOnce)
{
    HandlerGuard guard;
    std::atomic<int> handled{0};
    Thread::setUnhandledExceptionHandler([&](std::exception_ptr) { ++handled; });

    std::atomic<bool> afterKill{false};
    LambdaThread* self = nullptr;
    LambdaThread worker([&] {
        self->kill();
        afterKill = true;
    });
    self = &worker;
    worker.start();
    worker.wait();
    EXPECT_FALSE(afterKill);
    EXPECT_EQ(handled, 0);  // a thread end is no error
}

TEST(Thread, RunsAgainAfterARunHasEnded)
{
    std::atomic<int> runs{0};
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    LambdaThread worker([&] {
        ++runs;
        if (runs == 1)
            gate.wait();
    });
    worker.start();
    EXPECT_THROW(worker.start(), RuntimeException);  // still running
    release.set_value();
    worker.wait();
    worker.start();
    worker.wait();
    EXPECT_EQ(runs, 2);

    // A killed run does not carry its kill over into the next one.
    std::promise<void> killedFirst;
    std::shared_future<void> afterKill = killedFirst.get_future().share();
    std::atomic<int> completed{0};
    LambdaThread killedOnce([&] {
        afterKill.wait();
        Thread::yieldPoint();
        ++completed;
    });
    killedOnce.start();
    killedOnce.kill();
    killedFirst.set_value();
    killedOnce.wait();
    EXPECT_EQ(completed, 0);
    killedOnce.start();
    killedOnce.wait();
    EXPECT_EQ(completed, 1);
}

TEST(Thread, OtherExceptionsReachTheHandlerOnTheWorker)
{
    HandlerGuard guard;
    std::promise<std::pair<std::string, std::thread::id>> seen;
    Thread::setUnhandledExceptionHandler([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            seen.set_value({e.what(), std::this_thread::get_id()});
        }
    });

    std::thread::id workerId;
    LambdaThread worker([&] {
        workerId = std::this_thread::get_id();
        throw OutOfBoundsException("index 7");
    });
    worker.start();
    auto [message, where] = seen.get_future().get();
    worker.wait();
    EXPECT_EQ(message, "index 7");
    EXPECT_EQ(where, workerId);
    EXPECT_FALSE(worker.isRunning());
}

TEST(Thread, CancellationPointsOutsideAThreadDoNothing)
{
    EXPECT_EQ(Thread::current(), nullptr);
    EXPECT_NO_THROW(Thread::yieldPoint());
    EXPECT_NO_THROW(Thread::sleepFor(1ms));

    Thread* seen = nullptr;
    LambdaThread worker([&] { seen = Thread::current(); });
    worker.kill();  // not running: no effect on the run that follows
    worker.start();
    worker.wait();
    EXPECT_EQ(seen, &worker);
    EXPECT_NO_THROW(worker.wait());  // waiting again returns at once
}

} // namespace
} // namespace lv
