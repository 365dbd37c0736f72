#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <filesystem>

#include "DialogTestSupport.h"
#include "app/Preferences.h"
#include "qtsupport/ScriptedDialogs.h"
#include "qtsupport/ShownText.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/wPrefs.h"
#include "ui/main/Resize.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedDialogs;

class PrefsWindow : public test::DialogTest {
protected:
    wPrefs* open()
    {
        dialogs::showPreferences();
        return wPrefs::current();
    }
    void reopen()
    {
        test::closeAndFlush(wPrefs::current());
        w = open();
    }
    void press(QAction* item) { QTest::mouseClick(w->tbPrefs1->widgetForAction(item), Qt::LeftButton); }
    // The settings file as WritePrefs writes it now.
    std::string written()
    {
        EXPECT_TRUE(Preferences::shared().WritePrefs(FolderItem(m_dir.path())));
        return test::readFile(m_dir / Preferences::FileName);
    }
    QStringList rows() const
    {
        QStringList list;
        for (int i = 0; i < w->cbExtension->count(); ++i) list << w->cbExtension->itemText(i);
        return list;
    }

    wPrefs* w = nullptr;
};

TEST_F(PrefsWindow, ToolbarChoosesThePageAndTheHeight)
{
    w = open();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), "Preferences");
    EXPECT_EQ(Resize::contentSize(w), QSize(340, 448));
    EXPECT_TRUE(w->tbPrefs1->tiGeneral->isChecked());
    // The menu bar and the toolbar lie outside the content, which is not cut off.
    EXPECT_EQ(w->height(), w->menuBar()->sizeHint().height() + w->tbPrefs1->sizeHint().height() + 448);
    EXPECT_EQ(w->centralWidget()->mapTo(w, QPoint(0, 448)).y(), w->height());
    const QPoint corner = Resize::contentPosition(w);

    const std::pair<QAction* tbPrefs::*, std::pair<int, int>> steps[] = {
        {&tbPrefs::tiUpdates, {2, 86}},  {&tbPrefs::tiUpdates, {2, 86}},       {&tbPrefs::tiGeneral, {0, 448}},
        {&tbPrefs::tiGeneral, {0, 448}}, {&tbPrefs::tiNotifications, {1, 89}}, {&tbPrefs::tiUpdates, {2, 86}},
        {&tbPrefs::tiGeneral, {0, 448}},
    };
    for (const auto& [item, expected] : steps) {
        QAction* action = w->tbPrefs1->*item;
        SCOPED_TRACE(action->objectName().toStdString());
        press(action);
        EXPECT_EQ(w->ppConents->currentIndex(), expected.first);
        EXPECT_EQ(Resize::contentSize(w), QSize(340, expected.second));
        EXPECT_EQ(Resize::contentPosition(w), corner);  // top edge and middle kept
        for (QAction* other : {w->tbPrefs1->tiGeneral, w->tbPrefs1->tiNotifications, w->tbPrefs1->tiUpdates})
            EXPECT_EQ(other->isChecked(), other == action);
    }

    // Each page shows its own controls only.
    press(w->tbPrefs1->tiNotifications);
    EXPECT_TRUE(w->cbGrowl->isVisible());
    EXPECT_TRUE(w->cbBounce->isVisible());
    EXPECT_FALSE(w->cbUpdates->isVisible());
    EXPECT_FALSE(w->edFile->isVisible());
    press(w->tbPrefs1->tiUpdates);
    EXPECT_TRUE(w->cbUpdates->isVisible());
    EXPECT_TRUE(w->bCheckNow->isVisible());
    EXPECT_FALSE(w->cbGrowl->isVisible());

    // Closed on Updates, it opens again on General.
    reopen();
    EXPECT_EQ(w->ppConents->currentIndex(), 0);
    EXPECT_EQ(Resize::contentSize(w), QSize(340, 448));
    EXPECT_TRUE(w->tbPrefs1->tiGeneral->isChecked());
}

TEST_F(PrefsWindow, OpensWithNothingFocusedAndReturnTakesTheFocus)
{
    w = wPrefs::instance();
    ASSERT_TRUE(test::showActive(w));
    EXPECT_EQ(QApplication::focusWidget(), w);

    w->edFile->setFocus();
    w->edFile->selectAll();
    QTest::keyClicks(w->edFile, "Report");
    QTest::keyClick(w->edFile, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), w);
    EXPECT_EQ(Preferences::shared().DefaultFileName, "Report");
}

TEST_F(PrefsWindow, OpeningChangesNoSetting)
{
    Preferences& prefs = Preferences::shared();
    prefs.DefaultEncryptionType = "Serpent";
    prefs.Compress = false;
    prefs.ConfirmKey = false;
    prefs.DecryptReminder = false;
    prefs.ShowPasswordStrength = true;
    prefs.BounceDockIcon = false;
    prefs.GrowlEnabled = false;
    prefs.DefaultFileName = "Secret Notes";
    prefs.DefaultFileExtension = "pdf";  // not in the list
    prefs.Extensions = {".doc", "", ".doc", ".cdx"};
    const std::string before = written();

    w = open();
    EXPECT_TRUE(w->rbSerpent->isChecked());
    EXPECT_FALSE(w->rbBlowfish->isChecked());
    EXPECT_FALSE(w->cbCompress->isChecked());
    EXPECT_TRUE(w->cbPwrdStrength->isChecked());
    EXPECT_EQ(w->edFile->text(), "Secret Notes");
    EXPECT_EQ(rows(), (QStringList{".pdf", ".doc", ".doc", ".cdx"}));
    EXPECT_EQ(w->cbExtension->currentText(), ".pdf");
    EXPECT_EQ(written(), before);

    // A stored cipher of no known name shows Blowfish, and still stores nothing.
    prefs.DefaultEncryptionType = "Twofish";
    reopen();
    EXPECT_TRUE(w->rbBlowfish->isChecked());
    EXPECT_EQ(prefs.DefaultEncryptionType, "Twofish");
}

TEST_F(PrefsWindow, EveryControlWritesItsSettingAtOnce)
{
    w = open();
    const std::string destination = (m_dir / "Chosen").string();
    fs::create_directory(destination);
    ScriptedDialogs::installed().chosenFolder = FolderItem(destination);
    struct Row {
        const char* what;
        std::function<void()> act;
        const char* line;
    };
    const Row rows[] = {
        {"decryption reminder", [&] { QTest::mouseClick(w->cbDecryptionConfirmation, Qt::LeftButton); },
         "<DecryptReminder>False</DecryptReminder>"},
        {"key confirmation", [&] { QTest::mouseClick(w->cbConfirmKey, Qt::LeftButton); }, "<ConfirmKey>False</ConfirmKey>"},
        {"compression", [&] { QTest::mouseClick(w->cbCompress, Qt::LeftButton); }, "<Compress>False</Compress>"},
        {"strength meter", [&] { QTest::mouseClick(w->cbPwrdStrength, Qt::LeftButton); },
         "<ShowPasswordStrength>True</ShowPasswordStrength>"},
        {"AES", [&] { QTest::mouseClick(w->rbAES, Qt::LeftButton); }, "<DefaultEncryptionType>2</DefaultEncryptionType>"},
        {"Serpent", [&] { QTest::mouseClick(w->rbSerpent, Qt::LeftButton); },
         "<DefaultEncryptionType>1</DefaultEncryptionType>"},
        {"Blowfish", [&] { QTest::mouseClick(w->rbBlowfish, Qt::LeftButton); },
         "<DefaultEncryptionType>0</DefaultEncryptionType>"},
        {"file name",
         [&] {
             w->edFile->clear();
             QTest::keyClicks(w->edFile, "My Vault");
         },
         "<DefaultFileName>My Vault</DefaultFileName>"},
        {"extension row", [&] { w->cbExtension->setCurrentIndex(w->cbExtension->findText(".doc")); },
         "<DefaultFileExtension>doc</DefaultFileExtension>"},
        {"destination", [&] { QTest::mouseClick(w->bBrowse, Qt::LeftButton); },
         "<DestinationFolder>"},
        {"notifications",
         [&] {
             press(w->tbPrefs1->tiNotifications);
             QTest::mouseClick(w->cbGrowl, Qt::LeftButton);
         },
         "<GrowlEnabled>False</GrowlEnabled>"},
        {"attention request", [&] { QTest::mouseClick(w->cbBounce, Qt::LeftButton); },
         "<BounceDockIcon>False</BounceDockIcon>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.act();
        EXPECT_NE(written().find(row.line), std::string::npos);
    }
    EXPECT_NE(written().find("<DestinationFolder>" + destination + "</DestinationFolder>"), std::string::npos);
    EXPECT_EQ(Preferences::shared().DestinationFolder.shellPath(), destination);
}

TEST_F(PrefsWindow, ExtensionBoxStoresWithOrWithoutTheDotAndRemembersOnClose)
{
    w = open();
    const QStringList defaults = {".cdx", ".doc", ".docx", ".txt", ".rtf", ".ppt", ".xls",
                                  ".mp3", ".jpg", ".png", ".mov", ".mp4", ".avi"};
    EXPECT_EQ(rows(), defaults);

    struct Row {
        const char* typed;
        const char* stored;
        const char* appended;  // at the end of the list on close; null: nothing
        QStringList firstRows; // of the next opening
    };
    const Row table[] = {
        {"txt", "txt", nullptr, {".txt", ".doc", ".docx"}},
        {".doc", "doc", nullptr, {".doc", ".docx", ".txt"}},
        {".pdf", "pdf", ".pdf", {".pdf", ".doc", ".docx"}},
        {"a/b", "ab", ".ab", {".ab", ".doc", ".docx"}},  // no "/" can be typed
        {"", "", nullptr, {".", ".doc", ".docx"}},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.typed);
        const std::vector<std::string> before = Preferences::shared().Extensions;
        QLineEdit* edit = w->cbExtension->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, row.typed);
        EXPECT_EQ(Preferences::shared().DefaultFileExtension, row.stored);
        // The name is stored whatever the extension box holds.
        w->edFile->setText(QStringLiteral("Name ") + row.typed);
        EXPECT_EQ(Preferences::shared().DefaultFileName, std::string("Name ") + row.typed);

        reopen();
        std::vector<std::string> expected = before;
        if (row.appended) expected.push_back(row.appended);
        EXPECT_EQ(Preferences::shared().Extensions, expected);
        EXPECT_EQ(rows().mid(0, 3), row.firstRows);
        EXPECT_EQ(rows().count(rows().front()), 1);
        EXPECT_EQ(Preferences::shared().DefaultFileExtension, row.stored);  // the filled box stored nothing
    }
}

TEST_F(PrefsWindow, DestinationPathIsShownAsItIsAndShortenedAfterThirtyCharacters)
{
    // Paths of exactly 30 and 31 characters, wherever the temporary folder lies: the chooser's
    // answer is only shown and stored, never opened.
    const std::string path30 = "/lockvane-shortening/" + std::string(30 - 21, 'd');
    const std::string path31 = "/lockvane-shortening/" + std::string(31 - 21, 'e');
    ASSERT_EQ(path30.size(), 30u);
    ASSERT_EQ(path31.size(), 31u);
    const QString tail27 = QString::fromStdString(path31.substr(4));

    struct Row {
        const std::string& path;
        QString afterBrowse;
        Qt::Alignment alignment;
    };
    const std::string markup = "/<b>BOLD <i>it &amp; x";  // a name, not markup
    const Row table[] = {
        {path30, QString::fromStdString(path30), Qt::AlignHCenter},
        {markup, QString::fromStdString(markup), Qt::AlignHCenter},
        {path31, QStringLiteral("...") + tail27, Qt::AlignRight},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.path);
        // Browse shows the chosen folder, shortened when long; the help tag holds it whole.
        w = open();
        ScriptedDialogs::installed().chosenFolder = FolderItem(row.path);
        QTest::mouseClick(w->bBrowse, Qt::LeftButton);
        EXPECT_EQ(test::shownText(*w->stPath).toStdString(), row.afterBrowse.toStdString());
        EXPECT_EQ(w->stPath->alignment() & Qt::AlignHorizontal_Mask, row.alignment);
        EXPECT_EQ(test::shownToolTip(*w->stPath).toStdString(), row.path);
        // Opening shows it whole, aligned the same way.
        reopen();
        EXPECT_EQ(test::shownText(*w->stPath).toStdString(), row.path);
        EXPECT_EQ(w->stPath->alignment() & Qt::AlignHorizontal_Mask, row.alignment);
        EXPECT_EQ(test::shownToolTip(*w->stPath).toStdString(), row.path);
        test::closeAndFlush(w);
    }

    // A cancelled chooser changes nothing.
    w = open();
    ScriptedDialogs::installed().chosenFolder.reset();
    QTest::mouseClick(w->bBrowse, Qt::LeftButton);
    EXPECT_EQ(Preferences::shared().DestinationFolder.shellPath(), path31);
    EXPECT_EQ(w->stPath->text(), QString::fromStdString(path31));
}

TEST_F(PrefsWindow, UpdatesPageHasNoSettingAndCheckNowOnlyTells)
{
    w = open();
    press(w->tbPrefs1->tiUpdates);
    EXPECT_TRUE(w->cbUpdates->isChecked());
    EXPECT_FALSE(w->cbUpdates->isEnabled());
    const std::string before = written();
    QTest::mouseClick(w->bCheckNow, Qt::LeftButton);
    EXPECT_EQ(ScriptedDialogs::installed().messages, std::vector<std::string>{wPrefs::CheckNowText});
    EXPECT_EQ(written(), before);
}

TEST_F(PrefsWindow, TheNotificationsSwitchPromisesOnlyWhatIsPosted)
{
    // The "Started" notifications are registered off: the switch speaks of ends and failures.
    w = open();
    EXPECT_FALSE(w->cbGrowl->toolTip().contains(QStringLiteral("start")));
    EXPECT_TRUE(w->cbGrowl->toolTip().contains(QStringLiteral("ends or fails")));
}

} // namespace
} // namespace lv
