#include "ui/main/AsyncDragWindow.h"

#include <QCloseEvent>

#include "ui/main/Resize.h"

namespace lv {

AsyncDragWindow::AsyncDragWindow(QWidget* parent) : QMainWindow(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMilliseconds);
    connect(&m_settle, &QTimer::timeout, this, &AsyncDragWindow::settle);
}

int AsyncDragWindow::Left() const { return Resize::contentPosition(this).x(); }
int AsyncDragWindow::Top() const { return Resize::contentPosition(this).y(); }

void AsyncDragWindow::setLeft(int left)
{
    Resize::setContentPosition(this, QPoint(left, Top()));
    m_lastLeft = left;
}

void AsyncDragWindow::setTop(int top)
{
    Resize::setContentPosition(this, QPoint(Left(), top));
    m_lastTop = top;
}

void AsyncDragWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    m_lastLeft = Left();
    m_lastTop = Top();
    Event_Open();
}

void AsyncDragWindow::closeEvent(QCloseEvent* event)
{
    if (Event_Close())
        event->accept();
    else
        event->ignore();
}

void AsyncDragWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (!m_opened) return;
    if (!m_moving) {
        m_moving = true;
        emit moveStarted();
    }
    m_settle.start();
}

void AsyncDragWindow::settle()
{
    m_moving = false;
    emit moveCompleted();
    const int left = Left();
    const int top = Top();
    if (left != m_lastLeft || top != m_lastTop) {
        m_lastLeft = left;
        m_lastTop = top;
        emit moved();
    }
}

} // namespace lv
