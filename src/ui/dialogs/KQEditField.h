#pragma once
// Text fields that answer the Edit menu themselves while they have the keyboard focus: Select
// All, Copy, Cut and Paste go to the focused field before any window (see CommandTarget).
//
//   EditSelectAll  selects the whole text
//   EditCopy       copies the selection to the clipboard
//   EditCut        copies the selection, then removes it; a read-only field only copies
//   EditPaste      pastes into an editable field; a read-only field does nothing
//
// Every handler answers "not handled" (false). An empty selection copies nothing and leaves the
// clipboard as it was. Two kinds: the one-line KQEditField (the preferences window's default file
// name) and the multi-line KQTextField (the about window's credits).

#include <QLineEdit>
#include <QTextEdit>

#include "app/CommandTarget.h"

namespace lv {

template <typename Field>
class KQEditCommands : public Field, public CommandTarget {
public:
    using Field::Field;

    bool answersCommand(const QString& name) const override
    {
        return name == QLatin1String("EditSelectAll") || name == QLatin1String("EditCopy") ||
               name == QLatin1String("EditCut") || name == QLatin1String("EditPaste");
    }

    bool doCommand(const QString& name) override
    {
        if (name == QLatin1String("EditSelectAll")) {
            this->selectAll();
        } else if (name == QLatin1String("EditCopy")) {
            this->copy();
        } else if (name == QLatin1String("EditCut")) {
            if (this->isReadOnly())
                this->copy();
            else
                this->cut();
        } else if (name == QLatin1String("EditPaste")) {
            if (!this->isReadOnly()) this->paste();
        }
        return false;
    }
};

using KQEditField = KQEditCommands<QLineEdit>;
using KQTextField = KQEditCommands<QTextEdit>;

} // namespace lv
