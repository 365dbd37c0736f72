#include "app/X11Focus.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

namespace lv::X11Focus {

void giveTo(QWidget* window)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !window || !window->isVisible() || window->isMinimized()) return;
    xcb_connection_t* connection = x11->connection();
    if (!connection) return;
    xcb_set_input_focus(connection, XCB_INPUT_FOCUS_PARENT, xcb_window_t(window->winId()), XCB_CURRENT_TIME);
    xcb_flush(connection);
}

} // namespace lv::X11Focus
