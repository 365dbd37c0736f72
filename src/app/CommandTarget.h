#pragma once
// A window or text field that answers commands of the menu bar, by the menu item's name
// ("FileCloseWindow", "EditCopy", ...). A chosen command goes to the focused field when it
// answers it, else to the front window when it answers it, else nowhere.

#include <QString>

namespace lv {

class MainMenu;

class CommandTarget {
public:
    virtual ~CommandTarget() = default;

    // True when this target has a handler for the command.
    virtual bool answersCommand(const QString& name) const = 0;
    // Runs the handler; its result (true: handled).
    virtual bool doCommand(const QString& name) = 0;
    // Called on the front window at every enabling update, after the menu bar has set every item
    // by the rule above: the window may enable items that are not enabled automatically.
    virtual void enableMenuItems(MainMenu&) {}
};

} // namespace lv
