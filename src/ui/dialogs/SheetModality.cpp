#include "ui/dialogs/SheetModality.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <memory>

#include "app/X11Focus.h"

namespace lv {

SheetModality::SheetModality(QWidget* sheet, QWidget* window) : QObject(sheet), m_sheet(sheet), m_window(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

QWidget* SheetModality::windowOf(const QWidget* sheet)
{
    if (!sheet) return nullptr;
    auto* hold = sheet->findChild<SheetModality*>(QString(), Qt::FindDirectChildrenOnly);
    return hold ? hold->m_window.data() : nullptr;
}

bool SheetModality::inWindow(const QObject* object) const
{
    if (object == m_window->windowHandle()) return true;
    return object->isWidgetType() && static_cast<const QWidget*>(object)->window() == m_window;
}

bool SheetModality::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_sheet || !m_window || !m_sheet->isVisible() || !inWindow(watched)) return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        forwardKey(event);
        return true;
    case QEvent::ShortcutOverride:
        // Claimed, so that the key comes as a key press (and goes on to the sheet) rather than
        // as one of the window's shortcuts.
        event->accept();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    case QEvent::Close:
        // The window system's close (the title bar's button); the program's own closes pass.
        return watched == m_window->windowHandle();
    case QEvent::WindowActivate:
        if (watched == m_window) takeFocusBack();
        return false;
    default:
        return false;
    }
}

void SheetModality::forwardKey(QEvent* event)
{
    QWindow* sheet = m_sheet->windowHandle();
    if (!sheet) return;
    // Through the sheet's window, as a key of its own: to its focus field, Tab moving on, Return
    // pressing its default button.
    const std::unique_ptr<QEvent> copy(event->clone());
    QCoreApplication::sendEvent(sheet, copy.get());
}

void SheetModality::handFocusBack()
{
    // Without a window manager nobody else would: the focus would fall to the desktop, and
    // Return (OK) or Escape (Cancel) in the job view would reach nothing.
    if (!m_window || !m_window->isVisible()) return;
    m_window->activateWindow();
    X11Focus::giveTo(m_window);
}

void SheetModality::takeFocusBack()
{
    if (m_focusQueued) return;
    m_focusQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_focusQueued = false;
        if (!m_sheet || !m_sheet->isVisible() || !m_window || !m_window->isActiveWindow()) return;
        m_sheet->raise();
        m_sheet->activateWindow();
        X11Focus::giveTo(m_sheet);
    });
}

} // namespace lv
