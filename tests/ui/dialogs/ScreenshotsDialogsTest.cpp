// Pictures of the dialogs as a user sees them, for a person to look at (written under the build
// folder's screenshots/). Run under a real X server by the Screenshots test entry.

#include <gtest/gtest.h>

#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <filesystem>

#include "DialogTestSupport.h"
#include "app/Globals.h"
#include "ui/dialogs/wAbout.h"
#include "ui/dialogs/wChangeEncryption.h"
#include "ui/dialogs/wPrefs.h"
#include "ui/dialogs/wPswdStrength.h"
#include "ui/main/wMain.h"

namespace lv {
namespace {

using ScreenshotsDialogs = test::DialogTest;

QImage shot(QWidget* window)
{
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    return window->grab().toImage();
}

TEST_F(ScreenshotsDialogs, StrengthMeterBesideTheMainWindow)
{
    wMain main;
    main.show();
    main.setLeft(40);
    main.setTop(60);
    wPswdStrength* meter = wPswdStrength::instance();
    meter->show();
    meter->Update(QStringLiteral("correct horse battery staple"));
    ASSERT_EQ(meter->strength(), wPswdStrength::Strong);

    // Both windows where they stand on the screen, on a plain desktop.
    const QRect mainRect = main.geometry();
    const QRect meterRect = meter->geometry();
    const QRect all = mainRect.united(meterRect).adjusted(-12, -12, 12, 12);
    QImage desktop(all.size(), QImage::Format_RGB32);
    desktop.fill(QColor(0x6d, 0x7a, 0x8a));
    QPainter p(&desktop);
    p.drawImage(mainRect.topLeft() - all.topLeft(), shot(&main));
    p.drawImage(meterRect.topLeft() - all.topLeft(), shot(meter));
    p.end();
    test::saveScreenshot(desktop, QStringLiteral("strength-meter-strong"));
}

TEST_F(ScreenshotsDialogs, PreferencesOnEachPage)
{
    // A destination deeper than the label is wide, as a user's often is.
    const std::filesystem::path deep = m_dir / "Documents" / "Encrypted for the Archive";
    std::filesystem::create_directories(deep);
    Preferences::shared().DestinationFolder = FolderItem(deep);
    wPrefs* w = wPrefs::instance();
    w->showInFront();
    const std::pair<QAction*, const char*> pages[] = {{w->tbPrefs1->tiGeneral, "preferences-general"},
                                                      {w->tbPrefs1->tiNotifications, "preferences-notifications"},
                                                      {w->tbPrefs1->tiUpdates, "preferences-updates"}};
    for (const auto& [item, name] : pages) {
        QTest::mouseClick(w->tbPrefs1->widgetForAction(item), Qt::LeftButton);
        test::saveScreenshot(shot(w), QString::fromLatin1(name));
    }
}

TEST_F(ScreenshotsDialogs, CipherChoice)
{
    Globals::shared().CurrentEncryptionType = "AES";
    wChangeEncryption* w = wChangeEncryption::instance();
    w->showInFront();
    test::saveScreenshot(shot(w), QStringLiteral("cipher-choice"));
}

TEST_F(ScreenshotsDialogs, About)
{
    wAbout* w = wAbout::instance();
    w->Show(true);
    test::saveScreenshot(shot(w), QStringLiteral("about"));
    // The end of the credits: the disclaimer in small type.
    w->EditAppCredits->verticalScrollBar()->setValue(w->EditAppCredits->verticalScrollBar()->maximum());
    test::saveScreenshot(shot(w), QStringLiteral("about-credits-end"));
}

} // namespace
} // namespace lv
