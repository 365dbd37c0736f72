// Work handed to another thread through Qt: it runs on the thread it was sent to, in the order
// sent, sees what its sender wrote before sending it, and is dropped unrun when its receiver
// goes first. In the ThreadSanitizer build a hand-over the sanitizer cannot follow fails these
// tests with a race report.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/HandOver.h"

namespace lv {
namespace {

// Plain data a sender fills in and the work it hands over reads.
struct Note {
    std::string text;
    QThread* readOn = nullptr;
};

// Sends `count` notes from a thread of its own; `sent` is set (relaxed, so that it orders nothing
// for the sanitizer) once all are queued. The thread is joined by the caller, after delivery.
std::thread sendNotes(QObject* receiver, int count, std::vector<std::shared_ptr<Note>>& read, std::atomic<bool>& sent)
{
    return std::thread([receiver, count, &read, &sent] {
        for (int i = 0; i < count; ++i) {
            auto note = std::make_shared<Note>();
            note->text = "note " + std::to_string(i);
            postToThreadOf(receiver, [note, &read] {
                note->readOn = QThread::currentThread();
                read.push_back(note);
            });
        }
        sent.store(true, std::memory_order_relaxed);
    });
}

void awaitRelaxed(const std::atomic<bool>& flag)
{
    while (!flag.load(std::memory_order_relaxed)) std::this_thread::yield();
}

TEST(HandOver, WorkFromAnotherThreadRunsOnTheReceiversThreadInOrderAndSeesWhatItsSenderWrote)
{
    QObject receiver;
    std::vector<std::shared_ptr<Note>> read;
    std::atomic<bool> sent{false};
    std::thread sender = sendNotes(&receiver, 3, read, sent);
    awaitRelaxed(sent);
    // Delivered straight from the queue: no wake-up of the event loop orders anything here.
    QCoreApplication::sendPostedEvents(&receiver);
    sender.join();

    ASSERT_EQ(read.size(), 3u);
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i]->text, "note " + std::to_string(i));
        EXPECT_EQ(read[i]->readOn, receiver.thread());
    }
}

TEST(HandOver, WorkForAReceiverThatGoesIsDroppedUnrun)
{
    std::vector<std::shared_ptr<Note>> read;
    std::atomic<bool> sent{false};
    auto receiver = std::make_unique<QObject>();
    std::thread sender = sendNotes(receiver.get(), 2, read, sent);
    awaitRelaxed(sent);
    receiver.reset();
    QCoreApplication::sendPostedEvents();
    sender.join();
    EXPECT_TRUE(read.empty());

    // A relay detached by its receiver drops what is posted afterwards.
    QObject owner;
    auto relay = std::make_shared<Relay>(&owner);
    relay->detach();
    bool ran = false;
    std::thread([relay, &ran] { relay->post([&ran] { ran = true; }); }).join();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ran);
}

TEST(HandOver, PoolWorkRunsOnAnotherThreadAndSeesWhatItsSenderWrote)
{
    // One pool thread, busy when the work is queued: it takes the work straight from the queue
    // once free, with no new thread and no wake-up in between.
    QThreadPool* pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    pool->setMaxThreadCount(1);
    std::atomic<bool> busy{false}, released{false};
    startInPool([&busy, &released] {
        busy.store(true, std::memory_order_relaxed);
        awaitRelaxed(released);
    });
    awaitRelaxed(busy);

    auto note = std::make_shared<Note>();
    note->text = "for the pool";
    std::string seen;
    std::atomic<bool> done{false};
    startInPool([note, &seen, &done] {
        note->readOn = QThread::currentThread();
        seen = note->text;
        done.store(true, std::memory_order_release);
    });
    released.store(true, std::memory_order_relaxed);
    QElapsedTimer timer;
    timer.start();
    while (!done.load(std::memory_order_acquire) && timer.elapsed() < 10000) std::this_thread::yield();
    pool->setMaxThreadCount(threads);

    ASSERT_TRUE(done.load(std::memory_order_acquire));
    EXPECT_EQ(seen, "for the pool");
    EXPECT_NE(note->readOn, QThread::currentThread());
}

} // namespace
} // namespace lv
