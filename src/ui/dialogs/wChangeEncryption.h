#pragma once
// The cipher choice window, "Encryption Type": the cipher of the next encryptions, taking effect
// the moment a choice is made (Globals.CurrentEncryptionType). It is not a setting: the next start
// takes the default cipher of the preferences again. OK (or Return) only closes the window; there
// is no cancel, so closing it any other way keeps the choice made.
//
// The window reads the current cipher when it is built; an open window does not follow changes
// made elsewhere. Opened by "Change Algorithm" in the main window's menus.

#include <QRadioButton>

#include "ui/dialogs/DialogWindow.h"
#include "ui/dialogs/SingleWindow.h"

class QPushButton;

namespace lv {

class wChangeEncryption : public DialogWindow, public SingleWindow<wChangeEncryption> {
    Q_OBJECT
public:
    QRadioButton* rbBlowfish = nullptr;
    QRadioButton* rbSerpent = nullptr;
    QPushButton* bOK = nullptr;
    QRadioButton* rbAES = nullptr;

    void bOK_Action();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend SingleWindow<wChangeEncryption>;
    wChangeEncryption();
};

} // namespace lv
