#pragma once
// The preferences window: the user's settings on three pages (General, Notifications, Updates)
// chosen with the toolbar; the window's height follows the page (448, 89 or 86; always 340 wide),
// animated, keeping its top edge and its middle in place.
//
// Every control shows its setting when the window opens and writes it back the moment it changes;
// opening the window changes nothing, and there is no OK or Cancel. The settings reach the file
// only when the program quits. Only one thing waits for the window to close: the extension in the
// extension box joins the list of remembered extensions then.
//
//   control                   setting
//   cbDecryptionConfirmation  DecryptReminder          cbGrowl   GrowlEnabled (desktop notifications)
//   cbConfirmKey              ConfirmKey               cbBounce  BounceDockIcon (attention request)
//   cbCompress                Compress                 rbAES, rbSerpent, rbBlowfish
//   cbPwrdStrength            ShowPasswordStrength               DefaultEncryptionType
//   bBrowse, stPath           DestinationFolder        edFile    DefaultFileName
//   cbExtension               DefaultFileExtension (typed with or without its leading dot), Extensions
//
// A file name or extension cannot take a "/": the key sheet could not name a file with it. The
// Updates page has no setting: its check box is disabled and Check Now only says where to look.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

#include <string>

#include "ui/dialogs/DialogWindow.h"
#include "ui/dialogs/SingleWindow.h"
#include "ui/dialogs/KQEditField.h"
#include "ui/dialogs/tbPrefs.h"

namespace lv {

class wPrefs : public DialogWindow, public SingleWindow<wPrefs> {
    Q_OBJECT
public:
    static constexpr const char* CheckNowText =
        "Lockvane does not look for updates by itself. To get the latest version, choose Visit Website from the "
        "Help menu.";
    // A destination path longer than this shows as "..." and its last characters after Browse.
    static constexpr int PathShownWhole = 30;

    // The controls, by their names.
    tbPrefs* tbPrefs1 = nullptr;
    QStackedWidget* ppConents = nullptr;
    QCheckBox* cbGrowl = nullptr;
    QCheckBox* cbUpdates = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QRadioButton* rbBlowfish = nullptr;
    QRadioButton* rbSerpent = nullptr;
    QRadioButton* rbAES = nullptr;
    QPushButton* bCheckNow = nullptr;
    QCheckBox* cbBounce = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QCheckBox* cbDecryptionConfirmation = nullptr;
    QLabel* stPath = nullptr;
    QPushButton* bBrowse = nullptr;
    QLabel* StaticText3 = nullptr;
    QLabel* StaticText4 = nullptr;
    KQEditField* edFile = nullptr;
    QLabel* StaticText5 = nullptr;
    QCheckBox* cbPwrdStrength = nullptr;
    QCheckBox* cbCompress = nullptr;
    QCheckBox* cbConfirmKey = nullptr;
    QComboBox* cbExtension = nullptr;

    // A toolbar button pressed: its page, and the window's height for it.
    void tbPrefs1_Action(QAction* item);
    void bBrowse_Action();
    void bCheckNow_Action();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend SingleWindow<wPrefs>;
    wPrefs();
    void buildGeneralPage(QWidget* page);
    void cbExtension_Open();
    void cbExtension_Close();
    // Shows `path` in stPath: whole, or shortened when `shorten` and it is long; aligned by its length.
    void showPath(const std::string& path, bool shorten);

    bool m_opened = false;
};

} // namespace lv
