#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <functional>

#include "DialogTestSupport.h"
#include "app/MainMenu.h"
#include "qtsupport/ScriptedDialogs.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/wAbout.h"
#include "ui/dialogs/wChangeEncryption.h"
#include "ui/dialogs/wPrefs.h"
#include "ui/main/wMain.h"

namespace lv {
namespace {

using DialogCommands = test::DialogTest;

// The shared commands, chosen from the menu bar while a dialog window is in front.
TEST_F(DialogCommands, EachWindowAnswersItsOwnAndClosesAlone)
{
    struct Row {
        const char* what;
        std::function<QWidget*()> open;
        bool answersAbout;
    };
    const Row rows[] = {
        {"preferences", [] { dialogs::showPreferences(); return static_cast<QWidget*>(wPrefs::current()); }, true},
        {"cipher choice", [] { dialogs::showChangeEncryption(); return static_cast<QWidget*>(wChangeEncryption::current()); }, true},
        {"about", [] { dialogs::showAbout(); return static_cast<QWidget*>(wAbout::current()); }, false},
    };
    wMain main;
    ASSERT_TRUE(test::showActive(&main));
    MainMenu& menu = MainMenu::shared();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QWidget* window = row.open();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        window->setFocus();  // no field: the window answers

        // Preferences belongs to the main window only.
        EXPECT_FALSE(menu.dispatch("FilePreferences"));
        EXPECT_EQ(wPrefs::current() != nullptr, window == wPrefs::current());
        EXPECT_EQ(menu.targetFor("FileAboutLockvane") != nullptr, row.answersAbout);
        EXPECT_TRUE(menu.dispatch("HelpReportBug"));
        EXPECT_EQ(test::ScriptedDialogs::installed().urls.size(), 1u);
        test::ScriptedDialogs::installed().urls.clear();

        EXPECT_FALSE(menu.dispatch("FileCloseWindow"));
        test::flushDeletions();
        EXPECT_TRUE(main.isVisible());
        EXPECT_EQ(wPrefs::current(), nullptr);
        EXPECT_EQ(wChangeEncryption::current(), nullptr);
        EXPECT_EQ(wAbout::current(), nullptr);
        ASSERT_TRUE(test::showActive(&main));
    }
}

} // namespace
} // namespace lv
