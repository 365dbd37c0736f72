#include "app/QtWindowAttention.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

namespace lv {

namespace {

template <typename F>
void onGuiThread(QObject* context, F work)
{
    if (QThread::currentThread() == context->thread())
        work();
    else
        QMetaObject::invokeMethod(context, work, Qt::QueuedConnection);
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
