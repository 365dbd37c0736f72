#pragma once
// One window of a class at a time: `instance` returns the open one or builds a new one, `current`
// the open one or null. A window that closes is destroyed (Qt::WA_DeleteOnClose), so the next
// `instance` builds it afresh. The window class derives from SingleWindow<itself> and befriends it
// when its constructor is private.

#include <QPointer>

namespace lv {

template <typename Window>
class SingleWindow {
public:
    static Window* instance()
    {
        if (!s_open) s_open = new Window;
        return s_open;
    }
    static Window* current() { return s_open; }

private:
    static inline QPointer<Window> s_open;
};

} // namespace lv
