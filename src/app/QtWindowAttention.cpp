#include "app/QtWindowAttention.h"

#include <QApplication>
#include <QThread>
#include <QWidget>

#include "app/HandOver.h"

namespace lv {

namespace {

void onGuiThread(QObject* context, std::function<void()> work)
{
    if (QThread::currentThread() == context->thread())
        work();
    else
        postToThreadOf(context, std::move(work));
}

} // namespace

void QtWindowAttention::requestAttention()
{
    onGuiThread(this, [this] {
        if (m_window) QApplication::alert(m_window->window(), 0);
    });
}

void QtWindowAttention::bringAllToFront()
{
    onGuiThread(this, [this] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && !w->isMinimized()) w->raise();
        QWidget* front = QApplication::activeWindow() ? QApplication::activeWindow() : m_window;
        if (front) {
            front->raise();
            front->activateWindow();
        }
    });
}

} // namespace lv
