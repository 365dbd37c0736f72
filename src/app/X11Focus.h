#pragma once
// Handing the keyboard focus to a window of the program on X11. Qt asks for it with the time of
// the program's last X event, which the server ignores once anything else took the focus since:
// a program that was idle while a later start handed over to it would not come forward.

class QWidget;

namespace lv::X11Focus {

// Gives `window` (shown, top level) the input focus now; does nothing outside X11.
void giveTo(QWidget* window);

} // namespace lv::X11Focus
