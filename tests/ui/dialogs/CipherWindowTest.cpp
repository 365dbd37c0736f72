#include <gtest/gtest.h>

#include <QTest>

#include "DialogTestSupport.h"
#include "app/Globals.h"
#include "app/Preferences.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/wChangeEncryption.h"
#include "ui/main/Resize.h"

namespace lv {
namespace {

using CipherWindow = test::DialogTest;

std::string& nextCipher() { return Globals::shared().CurrentEncryptionType; }

TEST_F(CipherWindow, ShowsTheNextJobsCipher)
{
    struct Row {
        const char* current;
        const char* checked;  // object name; null: none
    };
    const Row rows[] = {
        {"Blowfish", "rbBlowfish"}, {"Serpent", "rbSerpent"}, {"AES", "rbAES"}, {"", nullptr}, {"Twofish", nullptr}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.current);
        nextCipher() = row.current;
        dialogs::showChangeEncryption();
        wChangeEncryption* w = wChangeEncryption::current();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->windowTitle(), "Encryption Type");
        EXPECT_EQ(Resize::contentSize(w), QSize(266, 127));
        for (QRadioButton* button : {w->rbBlowfish, w->rbSerpent, w->rbAES})
            EXPECT_EQ(button->isChecked(), row.checked && button->objectName() == row.checked) << button->objectName().toStdString();
        EXPECT_EQ(nextCipher(), row.current);  // showing changes nothing
        test::closeAndFlush(w);
    }
}

TEST_F(CipherWindow, ReturnPressesOk)
{
    nextCipher() = "";
    wChangeEncryption* w = wChangeEncryption::instance();
    ASSERT_TRUE(test::showActive(w));
    w->rbSerpent->setFocus();
    QTest::keyClick(w->rbSerpent, Qt::Key_Return);
    test::flushDeletions();
    EXPECT_EQ(wChangeEncryption::current(), nullptr);
    EXPECT_EQ(nextCipher(), "");  // OK only closes
}

TEST_F(CipherWindow, AChoiceCountsAtOnceAndClosingKeepsIt)
{
    Preferences::shared().DefaultEncryptionType = "Serpent";
    nextCipher() = "Serpent";
    wChangeEncryption* w = wChangeEncryption::instance();
    w->show();
    QTest::mouseClick(w->rbAES, Qt::LeftButton);
    EXPECT_EQ(nextCipher(), "AES");
    EXPECT_FALSE(w->rbSerpent->isChecked());

    // Close Window, not OK: there is no cancel.
    EXPECT_FALSE(w->doCommand("FileCloseWindow"));
    test::flushDeletions();
    EXPECT_EQ(wChangeEncryption::current(), nullptr);
    EXPECT_EQ(nextCipher(), "AES");
    EXPECT_EQ(Preferences::shared().DefaultEncryptionType, "Serpent");  // not a setting

    // Built again, it shows the choice.
    EXPECT_TRUE(wChangeEncryption::instance()->rbAES->isChecked());
}

} // namespace
} // namespace lv
