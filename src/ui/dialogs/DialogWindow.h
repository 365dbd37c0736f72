#pragma once
// The base of the program's own small windows that show the menu bar: the preferences, cipher
// choice and about windows. Each answers the shared menu commands it registers in its table; its
// content is the central widget. A window is a single instance: closing destroys it.

#include <QMainWindow>

#include <initializer_list>

#include "app/CommandTarget.h"
#include "ui/main/CommandTable.h"

namespace lv {

class DialogWindow : public QMainWindow, public CommandTarget {
    Q_OBJECT
public:
    bool answersCommand(const QString& name) const override { return m_commands.answers(name); }
    bool doCommand(const QString& name) override { return m_commands.run(name); }

    // Shows the window, or brings it to the front when it is open; the first time in the middle of
    // the screen that holds the main window.
    void showInFront();

protected:
    // `buttons`: the title bar buttons beside the close button (Qt::WindowMinimizeButtonHint or
    // none). `commands`: the shared menu commands the window answers.
    DialogWindow(const char* name, const QString& title, Qt::WindowFlags buttons,
                 std::initializer_list<const char*> commands);

    CommandTable m_commands;

private:
    bool m_placed = false;
};

} // namespace lv
