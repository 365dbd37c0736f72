#pragma once
// The key sheet: where every job starts. Shown by the main window as it enters its job view,
// modal for that window. On the encrypt road it takes the key (twice when key confirmation is
// on), names a free output file in the destination folder and starts the encryption; on the
// decrypt road it checks the key against the digest in the file's header and starts the
// decryption, or says "Incorrect Key." and sends the main window back to its drop zone.
//
// The digest is memory-hard, and a job starts only once the previous one has fully ended: both
// are awaited off the main thread, with the sheet's buttons disabled meanwhile.

#include <QDialog>

#include "app/CommandTarget.h"
#include "ui/main/CommandTable.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lv {

class SheetModality;
class wMain;

class swKey : public QDialog, public CommandTarget {
    Q_OBJECT
public:
    static constexpr const char* EmptyKeyText =
        "Please supply a key of at least one character in length. We recommend using a key of above 6 characters in "
        "length.";
    static constexpr const char* MismatchText =
        "The text in the confirmation field did not match that of the key field. Please type a matching password.";
    static constexpr const char* BadNameText =
        "The default file name or extension set in the preferences cannot name a file (it holds \"/\" or is \".\" "
        "or \"..\"). Please change it in the preferences.";
    static constexpr const char* MissingFolderPrefix = "The destination folder \"";
    static constexpr const char* MissingFolderSuffix = "\" does not exist. Please choose another one in the preferences.";

    // Opens the sheet on `parent` (the single instance; closing destroys it).
    static swKey* showWithin(wMain* parent);
    // The open sheet, or null.
    static swKey* current();

    // True when the sheet asks for the key twice.
    bool confirming() const noexcept { return m_confirming; }
    // True while a key check or the end of the previous job is awaited.
    bool busy() const noexcept { return m_busy; }

    bool answersCommand(const QString& name) const override { return m_commands.answers(name); }
    bool doCommand(const QString& name) override { return m_commands.run(name); }

    QLineEdit* edConfirm = nullptr;
    QLabel* stKey = nullptr;
    QPushButton* bOk = nullptr;
    QPushButton* bCancel = nullptr;
    QCheckBox* cbHide = nullptr;
    QLabel* stConfirm = nullptr;
    QLineEdit* edKey = nullptr;

    void bOk_Action();
    void bCancel_Action();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    explicit swKey(wMain* parent);
    void buildControls();
    void setBusy(bool busy);
    void startEncryption(std::string key);
    void checkKeyAndDecrypt(std::string key);
    void finish();

    wMain* m_main;
    SheetModality* m_hold = nullptr;
    bool m_confirming = false;
    bool m_busy = false;
    bool m_finished = false;
    CommandTable m_commands;
};

} // namespace lv
