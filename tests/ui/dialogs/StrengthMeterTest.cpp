#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "DialogTestSupport.h"
#include "app/Globals.h"
#include "app/Preferences.h"
#include "ui/dialogs/swKey.h"
#include "ui/dialogs/wPswdStrength.h"
#include "ui/main/Resize.h"
#include "ui/main/wMain.h"

namespace lv {
namespace {

using test::DialogTest;
using StrengthMeter = DialogTest;

const QColor Black(0, 0, 0), Red(0xFF, 0x09, 0x06), Amber(0xFF, 0xD6, 0x22), Green(0x00, 0xB5, 0x12);

// How many pixels of the bar, from its left edge, are painted (differ from the background).
int paintedLength(QWidget* bar)
{
    const QImage image = bar->grab().toImage();
    const QColor background = bar->palette().color(bar->backgroundRole());
    const int y = image.height() / 2;
    int length = 0;
    while (length < image.width() && QColor(image.pixel(length, y)) != background) ++length;
    return length;
}

TEST_F(StrengthMeter, RatesEveryKeyAfreshByItsLength)
{
    struct Row {
        const char* what;
        QString key;
        int level;
        const char* word;
        QColor colour;
        int bar;
    };
    const QString emoji = QString::fromUtf8("\xF0\x9F\x94\x91");  // one character, two UTF-16 units
    const Row rows[] = {
        {"three letters", "abc", 1, "Weak", Red, 51},
        {"empty after a rated key", "", 0, "None", Black, 0},
        {"three letters and a digit", "abc1", 1, "Weak", Red, 51},
        {"letter, digit and symbol", "a1!", 1, "Weak", Red, 51},
        {"six of everything", "aB3$x!", 1, "Weak", Red, 51},
        {"spaces only", "   ", 1, "Weak", Red, 51},
        {"accented letters only", QString::fromUtf8("\xC3\xA9\xC3\xA8\xC3\xA0"), 1, "Weak", Red, 51},
        {"six characters of two units each", emoji.repeated(6), 1, "Weak", Red, 51},
        {"seven letters", "abcdefg", 2, "OK", Amber, 101},
        {"seven of all three classes", "ab1!cd2", 2, "OK", Amber, 101},
        {"seven spaces", "       ", 2, "OK", Amber, 101},
        {"seven accented letters", QString::fromUtf8("\xC3\xA9").repeated(7), 2, "OK", Amber, 101},
        {"twenty letters", QString(20, QLatin1Char('x')), 2, "OK", Amber, 101},
        {"twenty-one letters", QString(21, QLatin1Char('x')), 3, "Strong", Green, 169},
        {"twenty-one with spaces", "a b c d e f g h i j k", 3, "Strong", Green, 169},
        {"back to weak", "ab", 1, "Weak", Red, 51},
    };
    wPswdStrength* meter = wPswdStrength::instance();
    meter->show();
    EXPECT_EQ(meter->StaticText1->text(), "None");
    EXPECT_TRUE(meter->StaticText1->font().bold());
    EXPECT_EQ(paintedLength(meter->cpStrength), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        meter->Update(row.key);
        EXPECT_EQ(meter->strength(), row.level);
        EXPECT_EQ(meter->StaticText1->text(), row.word);
        EXPECT_EQ(meter->StaticText1->palette().color(QPalette::WindowText), row.colour);
        EXPECT_EQ(paintedLength(meter->cpStrength), row.bar);
    }
}

TEST_F(StrengthMeter, FollowsTheKeySheetBesideTheMainWindow)
{
    Preferences::shared().ShowPasswordStrength = true;
    Globals::shared().DoingEncrypt = true;
    wMain main;
    main.show();
    main.setLeft(60);
    main.setTop(80);
    const QPoint beside(main.Left() + 400, main.Top());

    swKey* sheet = swKey::showWithin(&main);
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    wPswdStrength* meter = wPswdStrength::current();
    ASSERT_NE(meter, nullptr);
    EXPECT_TRUE(meter->isVisible());
    EXPECT_EQ(meter->windowTitle(), "Password Strength");
    EXPECT_EQ(meter->size(), QSize(209, 64));
    EXPECT_EQ(Resize::contentPosition(meter), beside);
    EXPECT_EQ(meter->StaticText1->text(), "None");

    QTest::keyClicks(sheet->edKey, "abcdefg");
    EXPECT_EQ(meter->StaticText1->text(), "OK");

    // Closed by the user, the meter comes back with the next change of the key, placed afresh.
    meter->close();
    test::flushDeletions();
    EXPECT_EQ(wPswdStrength::current(), nullptr);
    main.setLeft(90);
    QTest::keyClick(sheet->edKey, Qt::Key_Backspace);
    meter = wPswdStrength::current();
    ASSERT_NE(meter, nullptr);
    EXPECT_TRUE(meter->isVisible());
    EXPECT_EQ(meter->StaticText1->text(), "Weak");
    EXPECT_EQ(Resize::contentPosition(meter), QPoint(main.Left() + 400, main.Top()));
    EXPECT_EQ(QApplication::focusWidget(), sheet->edKey);  // typing stays in the sheet

    // The sheet takes the meter with it when it closes.
    sheet->bCancel->click();
    test::flushDeletions();
    EXPECT_EQ(wPswdStrength::current(), nullptr);
}

} // namespace
} // namespace lv
