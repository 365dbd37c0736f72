#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/OutputName.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/LVDisplay.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::UiFixture;

class KeySheetTest : public UiFixture {
protected:
    // Opens the sheet on the encrypt road with one queued file.
    swKey& openForEncryption()
    {
        test::writeFile(dir / "item.txt", "data");
        globals().Items.push_back(FolderItem(dir / "item.txt"));
        window().Transition();
        settle();
        window().bEncrypt->click();
        settle();
        return *swKey::current();
    }
};

TEST_F(KeySheetTest, Layouts)
{
    struct Case {
        bool confirm;
        bool encrypting;
        QSize size;
        bool confirmShown;
        QPoint keyField, ok;
    };
    const Case cases[] = {
        {true, true, {328, 119}, true, {88, 13}, {228, 84}},
        {false, true, {300, 82}, false, {60, 13}, {200, 47}},
        {true, false, {300, 82}, false, {60, 13}, {200, 47}},
    };
    for (const Case& c : cases) {
        prefs().ConfirmKey = c.confirm;
        globals().DoingEncrypt = c.encrypting;
        window().Transition2();
        settle();
        swKey* sheet = swKey::current();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->size(), c.size);
        EXPECT_EQ(sheet->edConfirm->isVisible(), c.confirmShown);
        EXPECT_EQ(sheet->stConfirm->isVisible(), c.confirmShown);
        EXPECT_EQ(sheet->edKey->pos(), c.keyField);
        EXPECT_EQ(sheet->bOk->pos(), c.ok);
        EXPECT_TRUE(sheet->cbHide->isChecked());
        EXPECT_EQ(sheet->edKey->echoMode(), QLineEdit::Password);
        EXPECT_EQ(window().WindowStatus(), 3);
        sheet->bCancel_Action();
        settle();
        window().ResetWindow();
        settle();
    }
}

TEST_F(KeySheetTest, ChecksBeforeAnythingStarts)
{
    struct Case {
        const char* name;
        const char* key;
        const char* confirmation;
        bool confirmOn;
        const char* message;  // "" when the job starts
    };
    const Case cases[] = {
        {"empty key", "", "", true, swKey::EmptyKeyText},
        {"confirmation differs", "secret", "Secret", true, swKey::MismatchText},
        {"confirmation missing", "secret", "", true, swKey::MismatchText},
        {"confirmation off", "s", "other", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs().reset();
        prefs().ConfirmKey = c.confirmOn;
        swKey& sheet = openForEncryption();
        sheet.edKey->setText(c.key);
        sheet.edConfirm->setText(c.confirmation);
        sheet.bOk->click();
        if (*c.message) {
            ASSERT_EQ(dialogs().messages.size(), 1u);
            EXPECT_EQ(dialogs().messages[0], c.message);
            EXPECT_EQ(swKey::current(), &sheet);  // still open, fields as typed
            EXPECT_EQ(sheet.edKey->text(), c.key);
            sheet.bCancel_Action();
        } else {
            EXPECT_TRUE(waitFor([] { return swKey::current() == nullptr; }));
            EXPECT_TRUE(waitFor([&] { return window().bCancel->text() == "OK"; }, 60000));
        }
        settle();
        if (globals().enc->isBusy()) globals().enc->waitForJob();
        window().ResetWindow();
        settle();
    }
}

TEST_F(KeySheetTest, HideShowsBothFieldsInClear)
{
    swKey& sheet = openForEncryption();
    sheet.cbHide->setChecked(false);
    EXPECT_EQ(sheet.edKey->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(sheet.edConfirm->echoMode(), QLineEdit::Normal);
    sheet.cbHide->setChecked(true);
    EXPECT_EQ(sheet.edConfirm->echoMode(), QLineEdit::Password);
    sheet.bCancel_Action();
}

TEST_F(KeySheetTest, WhileOpenTheMainWindowTakesNoClickNorCloseAndItsKeysGoToTheSheet)
{
    swKey& sheet = openForEncryption();
    QTest::mouseClick(window().bCancel, Qt::LeftButton);  // the job view's Cancel
    QCloseEvent close;
    QCoreApplication::sendEvent(window().windowHandle(), &close);  // its title bar's close button
    settle();
    EXPECT_EQ(swKey::current(), &sheet);
    EXPECT_EQ(window().WindowStatus(), 3);
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(dialogs().messages.empty());

    // Keys typed into the window while the sheet has not yet the focus, Tab and Return among them.
    prefs().ConfirmKey = true;
    sheet.bCancel_Action();
    settle();
    window().bEncrypt->click();
    settle();
    swKey* confirming = swKey::current();
    ASSERT_TRUE(confirming && confirming->confirming());
    QTest::keyClicks(&window(), "Ab1");
    QTest::keyClick(&window(), Qt::Key_Tab);
    QTest::keyClicks(&window(), "Ab1");
    EXPECT_EQ(confirming->edKey->text(), "Ab1");
    EXPECT_EQ(confirming->edConfirm->text(), "Ab1");
    QTest::keyClick(&window(), Qt::Key_Return);  // OK
    EXPECT_TRUE(waitFor([] { return swKey::current() == nullptr; }));
    EXPECT_TRUE(dialogs().messages.empty());
    globals().enc->waitForJob();
    settle();
    EXPECT_TRUE(fs::exists(destination / "EncryptedFile.cdx"));
}

TEST_F(KeySheetTest, CancelAndTheTitleBarGoBackToTheList)
{
    swKey& sheet = openForEncryption();
    QTest::keyClicks(sheet.edKey, "typed");
    QPointer<QLineEdit> field = sheet.edKey;
    sheet.close();  // the title bar's close button
    // The key is gone from the field and from its undo history.
    ASSERT_TRUE(field);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(field->isUndoAvailable());
    settle();
    EXPECT_EQ(swKey::current(), nullptr);
    EXPECT_EQ(window().WindowStatus(), 2);
    EXPECT_EQ(window().lvdList->ItemCount, 1);
    EXPECT_TRUE(globals().DoingEncrypt);
}

TEST_F(KeySheetTest, BadOutputNamesAndAMissingFolderKeepTheSheetOpen)
{
    struct Case {
        const char* name;
        const char* extension;
        bool folderGone;
        std::string message;
    };
    const Case cases[] = {
        {"../../escape", "cdx", false, swKey::BadNameText},
        {"EncryptedFile", "cdx/x", false, swKey::BadNameText},
        {"..", "cdx", false, swKey::BadNameText},
        {"EncryptedFile", "cdx", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs().reset();
        prefs().ConfirmKey = false;
        prefs().DefaultFileName = c.name;
        prefs().DefaultFileExtension = c.extension;
        if (c.folderGone) prefs().DestinationFolder = FolderItem(dir / "removed-folder");
        swKey& sheet = openForEncryption();
        sheet.edKey->setText("k");
        sheet.bOk->click();
        if (c.folderGone) {
            ASSERT_EQ(dialogs().messages.size(), 1u);
            EXPECT_NE(dialogs().messages[0].find("does not exist"), std::string::npos);
        } else if (!c.message.empty()) {
            ASSERT_EQ(dialogs().messages.size(), 1u);
            EXPECT_EQ(dialogs().messages[0], c.message);
        }
        if (!c.message.empty() || c.folderGone) {
            EXPECT_EQ(swKey::current(), &sheet);
            sheet.bCancel_Action();
        } else {
            EXPECT_TRUE(waitFor([] { return swKey::current() == nullptr; }));
            globals().enc->waitForJob();
        }
        settle();
        prefs().DestinationFolder = FolderItem(destination);
        window().ResetWindow();
        settle();
    }
    EXPECT_FALSE(fs::exists(dir / "escape.cdx"));
    EXPECT_TRUE(fs::is_empty(destination));
}

TEST_F(KeySheetTest, OutputNames)
{
    struct Case {
        std::vector<const char*> existing;
        const char* name;
        const char* extension;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "EncryptedFile", "cdx", "EncryptedFile.cdx"},
        {{"EncryptedFile.cdx", "EncryptedFile2.cdx"}, "EncryptedFile", "cdx", "EncryptedFile3.cdx"},
        {{"EncryptedFile2.cdx"}, "EncryptedFile", "cdx", "EncryptedFile.cdx"},
        {{"EncryptedFile.cdx", "EncryptedFile3.cdx"}, "EncryptedFile", "cdx", "EncryptedFile2.cdx"},
        {{}, "EncryptedFile", "", "EncryptedFile."},
        {{"EncryptedFile."}, "EncryptedFile", "", "EncryptedFile2."},
        {{".cdx"}, "", "cdx", "2.cdx"},
    };
    for (const Case& c : cases) {
        test::TempDir folder;
        for (const char* name : c.existing) test::writeFile(folder / name, "");
        EXPECT_EQ(OutputName::firstFree(FolderItem(folder.path()), c.name, c.extension).path(), folder / c.expected);
    }
    EXPECT_TRUE(OutputName::firstFree(FolderItem(dir.path()), "a/b", "cdx").isNull());
    EXPECT_TRUE(OutputName::firstFree(FolderItem(dir.path()), "x", "..").isNull());
}

} // namespace
} // namespace lv
