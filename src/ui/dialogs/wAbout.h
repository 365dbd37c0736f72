#pragma once
// The about window: the logo, the name, the version of this build, the copyright and, below them,
// a scrolling read-only field of credits written in a small mark-up (see StyleTags). The credits
// field answers the Edit commands; the window answers the shared commands but About and
// Preferences. Only a close button in the title bar.
//
//   layout          content    copyright label top  credits field
//   with credits    284 x 326  280                  0, 133, 284 x 138, shown
//   without         284 x 178  132                  hidden

#include <QLabel>
#include <QString>

#include "ui/dialogs/DialogWindow.h"
#include "ui/dialogs/SingleWindow.h"
#include "ui/dialogs/KQEditField.h"

namespace lv {

class wAbout : public DialogWindow, public SingleWindow<wAbout> {
    Q_OBJECT
public:
    static const QString& creditsText();
    static const QString& copyrightText();

    // Sets the window up with or without the credits and shows it (an open one comes to the front).
    void Show(bool useCredits);
    // Fills the labels and the credits afresh and sizes the window for UseCredits.
    void SetupWindow();
    // Puts `text` into the credits field; with `styled` its tags become styles, else it shows as is.
    void SetCreditsFieldText(const QString& text, bool styled);

    bool UseCredits = true;

    KQTextField* EditAppCredits = nullptr;
    QWidget* AppIconCanvas = nullptr;
    QLabel* StatAppName = nullptr;
    QLabel* StatAppVersion = nullptr;
    QLabel* StatAppCopyright = nullptr;

private:
    friend SingleWindow<wAbout>;
    wAbout();
};

} // namespace lv
