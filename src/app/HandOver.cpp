#include "app/HandOver.h"

#include <QMetaObject>
#include <QThreadPool>

namespace lv {

namespace {

// Recursive: the sender still holds it when the copies of the work it made are destroyed.
std::recursive_mutex& handOverLock()
{
    static std::recursive_mutex lock;
    return lock;
}

void awaitSender() { std::lock_guard lock(handOverLock()); }

// The work as Qt carries it.
class Handed {
public:
    explicit Handed(std::function<void()> work) : m_work(std::move(work)) {}
    Handed(Handed&&) = default;
    Handed(const Handed&) = default;
    ~Handed() { awaitSender(); }

    void operator()()
    {
        awaitSender();
        m_work();
    }

private:
    std::function<void()> m_work;
};

} // namespace

void postToThreadOf(QObject* context, std::function<void()> work)
{
    std::lock_guard lock(handOverLock());
    QMetaObject::invokeMethod(context, Handed(std::move(work)), Qt::QueuedConnection);
}

void startInPool(std::function<void()> work)
{
    std::lock_guard lock(handOverLock());
    QThreadPool::globalInstance()->start(Handed(std::move(work)));
}

void Relay::detach()
{
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
}

void Relay::post(std::function<void()> work)
{
    std::lock_guard lock(m_mutex);
    // Posted events of a receiver that goes are dropped with it.
    if (m_receiver) postToThreadOf(m_receiver, std::move(work));
}

} // namespace lv
