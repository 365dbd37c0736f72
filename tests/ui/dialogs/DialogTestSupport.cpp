#include "DialogTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWidget>

#include "app/Globals.h"
#include "qtsupport/ScriptedDialogs.h"
#include "ui/dialogs/wAbout.h"
#include "ui/dialogs/wChangeEncryption.h"
#include "ui/dialogs/wPrefs.h"
#include "ui/dialogs/wPswdStrength.h"

namespace lv::test {

void DialogTest::SetUp()
{
    m_savedPrefs = Preferences::shared();
    m_savedCipher = Globals::shared().CurrentEncryptionType;
    Preferences fresh;
    fresh.useDefaultExtensions();
    fresh.DestinationFolder = FolderItem(m_dir.path());
    Preferences::shared() = fresh;
    Globals::shared().CurrentEncryptionType = "Blowfish";
    ScriptedDialogs::installed().reset();
}

void DialogTest::TearDown()
{
    closeAndFlush(wPrefs::current());
    closeAndFlush(wAbout::current());
    closeAndFlush(wChangeEncryption::current());
    closeAndFlush(wPswdStrength::current());
    Preferences::shared() = *m_savedPrefs;
    Globals::shared().CurrentEncryptionType = m_savedCipher;
    ScriptedDialogs::installed().reset();
}

void flushDeletions() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

void closeAndFlush(QWidget* window)
{
    if (window) window->close();
    flushDeletions();
}

bool showActive(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

void saveScreenshot(const QImage& image, const QString& name)
{
    const QString folder = QStringLiteral(LOCKVANE_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

} // namespace lv::test
