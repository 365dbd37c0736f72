#pragma once
// Work handed from one thread to another through Qt: queued to the thread of a QObject, or
// started on Qt's global thread pool.
//
// Each hand-over takes a lock of ours on both sides: the sender holds it while the work is made
// and queued, and the work takes it before it touches anything it carries (and again as it is
// destroyed, run or not). Qt orders the same steps with its own locks, but Qt is built without
// ThreadSanitizer, which cannot see them; through this lock it sees the order, and so still
// reports any race of ours in the work itself.

#include <QObject>

#include <functional>
#include <mutex>

namespace lv {

// Queues `work` to run on the thread `context` lives in (never at once). Work still queued when
// `context` goes is dropped.
void postToThreadOf(QObject* context, std::function<void()> work);

// Runs `work` on a thread of Qt's global pool.
void startInPool(std::function<void()> work);

// Carries work from other threads to a receiver on the main thread. The receiver detaches it
// before it goes; work posted afterwards is dropped.
class Relay {
public:
    explicit Relay(QObject* receiver) : m_receiver(receiver) {}
    void detach();
    void post(std::function<void()> work);

private:
    std::mutex m_mutex;
    QObject* m_receiver;
};

} // namespace lv
