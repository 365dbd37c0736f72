#include "ui/dialogs/swKey.h"

#include <botan/mem_ops.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "app/Globals.h"
#include "app/HandOver.h"
#include "app/MainMenu.h"
#include "app/Preferences.h"
#include "app/UserDialogs.h"
#include "engine/KeyCheck.h"
#include "engine/Notices.h"
#include "engine/OutputName.h"
#include "ui/dialogs/SheetModality.h"
#include "ui/dialogs/wPswdStrength.h"
#include "ui/main/SharedCommands.h"
#include "ui/main/wMain.h"
#include "ui/qt/QtJobControls.h"

namespace lv {

namespace {

QPointer<swKey> g_sheet;

void wipe(std::string& text) noexcept
{
    Botan::secure_scrub_memory(text.data(), text.size());
    text.clear();
}

// Waits, off the main thread, until the previous job has ended, then runs `check` there too and
// hands its result to `then` on the main thread, unless `owner` has gone by then.
template <typename Check, typename Then>
void afterPreviousJob(QObject* owner, Check check, Then then)
{
    auto relay = std::make_shared<Relay>(owner);
    QObject::connect(owner, &QObject::destroyed, [relay] { relay->detach(); });
    startInPool([relay, check, then] {
        if (LVEncryptor* enc = Globals::shared().enc.get(); enc && enc->isBusy()) enc->waitForJob();
        relay->post([then, matches = check()] { then(matches); });
    });
}

} // namespace

swKey* swKey::current() { return g_sheet && !g_sheet->m_finished ? g_sheet.data() : nullptr; }

swKey* swKey::showWithin(wMain* parent)
{
    if (current()) {
        g_sheet->raise();
        return g_sheet;
    }
    g_sheet = new swKey(parent);
    g_sheet->show();
    g_sheet->activateWindow();
    return g_sheet;
}

swKey::swKey(wMain* parent) : QDialog(parent), m_main(parent)
{
    setObjectName(QStringLiteral("swKey"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_hold = new SheetModality(this, parent);
    setWindowTitle(QStringLiteral("Lockvane"));
    const Preferences& prefs = Preferences::shared();
    Globals& g = Globals::shared();
    m_confirming = prefs.ConfirmKey && g.DoingEncrypt;
    buildControls();
    MainMenu::shared().addShortcutsTo(this);
    SharedCommands::install(m_commands, this, SharedCommands::KeySheetCommands);

    // Opening: the size, the default cipher, the strength meter.
    setFixedSize(m_confirming ? QSize(328, 119) : QSize(300, 82));
    if (g.CurrentEncryptionType.empty()) g.CurrentEncryptionType = prefs.DefaultEncryptionType;
    if (prefs.ShowPasswordStrength) wPswdStrength::instance()->show();
    edKey->setFocus();
}

void swKey::buildControls()
{
    const auto place = [](QWidget* w, const char* name, int left, int top, int width, int height) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(left, top, width, height);
    };
    const int shift = m_confirming ? 28 : 0;  // the key row moves right beside "Confirm:"
    const int down = m_confirming ? 37 : 0;   // the bottom row moves below the confirmation

    edConfirm = new QLineEdit(this);
    place(edConfirm, "edConfirm", 88, 43, 220, 22);
    edConfirm->setEchoMode(QLineEdit::Password);
    edConfirm->setVisible(m_confirming);
    stKey = new QLabel(QStringLiteral("Key:"), this);
    place(stKey, "stKey", 20 + shift, 14, 28, 20);
    bOk = new QPushButton(QStringLiteral("OK"), this);
    place(bOk, "bOk", 200 + shift, 47 + down, 80, 20);
    bOk->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancel"), this);
    place(bCancel, "bCancel", 108 + shift, 47 + down, 80, 20);
    bCancel->setAutoDefault(false);
    cbHide = new QCheckBox(QStringLiteral("Hide"), this);
    place(cbHide, "cbHide", 20, 47 + down, 58, 20);
    cbHide->setChecked(true);
    stConfirm = new QLabel(QStringLiteral("Confirm:"), this);
    place(stConfirm, "stConfirm", 20, 44, 56, 20);
    stConfirm->setVisible(m_confirming);
    edKey = new QLineEdit(this);
    place(edKey, "edKey", 60 + shift, 13, 220, 22);
    edKey->setEchoMode(QLineEdit::Password);
    setTabOrder(edKey, edConfirm);

    connect(bOk, &QPushButton::clicked, this, &swKey::bOk_Action);
    connect(bCancel, &QPushButton::clicked, this, &swKey::bCancel_Action);
    connect(cbHide, &QCheckBox::toggled, this, [this](bool hide) {
        const QLineEdit::EchoMode mode = hide ? QLineEdit::Password : QLineEdit::Normal;
        edKey->setEchoMode(mode);
        edConfirm->setEchoMode(mode);
    });
    connect(edKey, &QLineEdit::textChanged, this, [](const QString& text) {
        if (Preferences::shared().ShowPasswordStrength) {
            wPswdStrength* meter = wPswdStrength::instance();
            meter->show();
            meter->Update(text);
        }
    });
}

void swKey::setBusy(bool busy)
{
    m_busy = busy;
    bOk->setEnabled(!busy);
    bCancel->setEnabled(!busy);
    edKey->setEnabled(!busy);
    edConfirm->setEnabled(!busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void swKey::bOk_Action()
{
    if (m_busy) return;
    UserDialogs& dialogs = UserDialogs::shared();
    const Preferences& prefs = Preferences::shared();
    const bool encrypting = Globals::shared().DoingEncrypt;
    if (edKey->text().isEmpty()) {
        dialogs.message(EmptyKeyText, this);
        return;
    }
    if (prefs.ConfirmKey && encrypting && edKey->text() != edConfirm->text()) {
        dialogs.message(MismatchText, this);
        return;
    }
    if (!prefs.DestinationFolder.isFolder()) {
        dialogs.message(std::string(MissingFolderPrefix) + prefs.DestinationFolder.shellPath() + MissingFolderSuffix, this);
        return;
    }
    std::string key = edKey->text().toStdString();
    if (encrypting)
        startEncryption(std::move(key));
    else
        checkKeyAndDecrypt(std::move(key));
}

void swKey::startEncryption(std::string key)
{
    const Preferences& prefs = Preferences::shared();
    const FolderItem output = OutputName::firstFree(prefs.DestinationFolder, prefs.DefaultFileName, prefs.DefaultFileExtension);
    if (output.isNull()) {
        UserDialogs::shared().message(BadNameText, this);
        wipe(key);
        return;
    }
    Globals& g = Globals::shared();
    if (prefs.GrowlEnabled) g.PostGrowl(Notices::EncryptionStarted);
    m_main->bEncrypt->setDefault(false);
    setBusy(true);
    auto sharedKey = std::make_shared<std::string>(std::move(key));
    afterPreviousJob(this, [] { return true; }, [this, output, sharedKey](bool) {
        Globals& g = Globals::shared();
        const Preferences& prefs = Preferences::shared();
        JobSettings settings = Globals::jobSettings(prefs);
        settings.outputBaseName = prefs.DefaultFileName;
        settings.outputExtension = prefs.DefaultFileExtension;
        g.enc->Encrypt(g.Items, output, g.CurrentEncryptionType, std::move(*sharedKey), *g.arc,
                       m_main->newJobControls()->controls(), std::move(settings));
        wipe(*sharedKey);
        finish();
    });
}

void swKey::checkKeyAndDecrypt(std::string key)
{
    Globals& g = Globals::shared();
    setBusy(true);
    auto sharedKey = std::make_shared<std::string>(std::move(key));
    // The body's keys are derived beside the digest, so a matching key starts at once.
    auto check = std::make_shared<KeyCheckResult>();
    const FolderItem file = g.Items.front();
    const LVTagger header = *g.Checker;
    afterPreviousJob(this, [sharedKey, check, file, header] {
        *check = checkKeyForDecryption(file, header, *sharedKey);
        return check->matches;
    }, [this, sharedKey, check](bool matches) {
        Globals& g = Globals::shared();
        const Preferences& prefs = Preferences::shared();
        if (!matches) {
            wipe(*sharedKey);
            UserDialogs::shared().message(KeyCheck::IncorrectKeyText, this);
            m_main->ResetWindow();
            finish();
            return;
        }
        if (prefs.GrowlEnabled) g.PostGrowl(Notices::DecryptionStarted);
        m_main->bEncrypt->setDefault(false);
        g.enc->Decrypt(g.Items.front(), prefs.DestinationFolder, g.Checker->EncryptionType, std::move(*sharedKey),
                       *g.Checker, *g.arc, m_main->newJobControls()->controls(), Globals::jobSettings(prefs),
                       std::move(check->body));
        wipe(*sharedKey);
        finish();
    });
}

void swKey::bCancel_Action()
{
    if (m_busy) return;
    // On the decrypt road the list would show nothing while the encrypted file stays queued, and
    // Encrypt would encrypt it: the window goes back to its drop zone instead.
    if (Globals::shared().DoingEncrypt)
        m_main->TransitionBack();
    else
        m_main->ResetWindow();
    finish();
}

void swKey::finish()
{
    m_finished = true;
    setBusy(false);
    accept();
}

void swKey::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) return;  // Escape presses no button here
    QDialog::keyPressEvent(event);
}

void swKey::closeEvent(QCloseEvent* event)
{
    // The title bar's close button is Cancel.
    if (m_finished) {
        event->accept();
        return;
    }
    event->ignore();
    if (!m_busy) bCancel_Action();
}

void swKey::done(int result)
{
    // The key leaves the fields and their undo history.
    edKey->setText(QString());
    edConfirm->setText(QString());
    wPswdStrength::closeIfOpen();
    const bool focused = isActiveWindow();
    QDialog::done(result);
    if (focused) m_hold->handFocusBack();
}

} // namespace lv
