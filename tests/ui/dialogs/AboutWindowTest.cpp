#include <gtest/gtest.h>

#include <QFontInfo>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include "DialogTestSupport.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/wAbout.h"
#include "ui/main/Resize.h"

namespace lv {
namespace {

using AboutWindow = test::DialogTest;

struct Style {
    const char* text;  // a piece of the result
    bool bold = false;
    bool italic = false;
    int pixels = 0;    // 0: the field's own size
};

// Checks every character of `piece` in the field.
void expectStyle(QTextEdit* field, const Style& style)
{
    const QString plain = field->toPlainText();
    const qsizetype at = plain.indexOf(QString::fromUtf8(style.text));
    ASSERT_GE(at, 0) << style.text;
    const int ownSize = QFontInfo(field->font()).pixelSize();
    for (qsizetype i = at; i < at + qsizetype(qstrlen(style.text)); ++i) {
        QTextCursor cursor(field->document());
        cursor.setPosition(int(i) + 1);
        const QTextCharFormat f = cursor.charFormat();
        SCOPED_TRACE(std::string(style.text) + " at " + std::to_string(i - at));
        EXPECT_EQ(f.fontWeight() == QFont::Bold, style.bold);
        EXPECT_EQ(f.fontItalic(), style.italic);
        const int pixels = f.hasProperty(QTextFormat::FontPixelSize) ? f.intProperty(QTextFormat::FontPixelSize) : ownSize;
        EXPECT_EQ(pixels, style.pixels ? style.pixels : ownSize);
    }
}

void expectAtTopWithNothingSelected(QTextEdit* field)
{
    EXPECT_FALSE(field->textCursor().hasSelection());
    EXPECT_EQ(field->textCursor().position(), 0);
    EXPECT_EQ(field->verticalScrollBar()->value(), 0);
}

TEST_F(AboutWindow, TagsBecomeStyles)
{
    struct Row {
        const char* what;
        const char* markup;
        const char* shown;
        std::vector<Style> styles;
    };
    const Row rows[] = {
        {"bold heading", "<b>Heading:</b>\n      Name", "Heading:\n      Name", {{"Heading:", true}, {"Name"}}},
        {"italic", "plain <i>slanted</i> after", "plain slanted after", {{"plain "}, {"slanted", false, true}, {" after"}}},
        {"nested", "<b>bold <i>both</i> still</b> none", "bold both still none",
         {{"bold ", true}, {"both", true, true}, {" still", true}, {" none"}}},
        {"special thanks", "<b><i>Thanks:</i></b>\nnext", "Thanks:\nnext", {{"Thanks:", true, true}, {"next"}}},
        {"font size restored", "before <font size=\"10\">SMALL PRINT</font> after", "before SMALL PRINT after",
         {{"before "}, {"SMALL PRINT", false, false, 10}, {" after"}}},
        {"font inside bold", "<b>big <font size=\"30\">huge</font> big</b>", "big huge big",
         {{"big ", true}, {"huge", true, false, 30}, {" big", true}}},
        {"unknown tag", "<u>under</u>lined", "underlined", {{"underlined"}}},
        {"stray closing bracket", "a > b <b>c</b>", "a > b c", {{"a > b "}, {"c", true}}},
        {"stray opening bracket", "<b>x</b> y < z", "x y < z", {{"x", true}, {" y < z"}}},
        {"only a stray bracket", "< no end", "< no end", {{"< no end"}}},
        {"no tags", "plain text", "plain text", {{"plain text"}}},
    };
    wAbout* w = wAbout::instance();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        w->SetCreditsFieldText(QString::fromUtf8(row.markup), true);
        EXPECT_EQ(w->EditAppCredits->toPlainText(), QString::fromUtf8(row.shown));
        for (const Style& style : row.styles) expectStyle(w->EditAppCredits, style);
        expectAtTopWithNothingSelected(w->EditAppCredits);
    }
    // Unstyled, the tags stay as they are.
    w->SetCreditsFieldText(QStringLiteral("<b>x</b>"), false);
    EXPECT_EQ(w->EditAppCredits->toPlainText(), "<b>x</b>");
    expectStyle(w->EditAppCredits, {"<b>x</b>"});
}

TEST_F(AboutWindow, ShowsLogoNameVersionCreditsAndCopyright)
{
    // The credits' mark-up: a bold first line, seven bold headings, one of them also italic, and
    // the disclaimer in small type, closing the text.
    const QString& credits = wAbout::creditsText();
    EXPECT_EQ(credits.count(QStringLiteral("<b>")), 8);
    EXPECT_EQ(credits.count(QStringLiteral("</b>")), 8);
    EXPECT_EQ(credits.count(QStringLiteral("<i>")), 1);
    EXPECT_EQ(credits.count(QStringLiteral("<font size=\"10\">")), 1);
    EXPECT_TRUE(credits.endsWith(QStringLiteral("</font>")));
    EXPECT_EQ(credits.count(QLatin1Char('<')), 20);
    EXPECT_EQ(credits.count(QLatin1Char('>')), 20);

    dialogs::showAbout();
    wAbout* w = wAbout::current();
    ASSERT_NE(w, nullptr);
    for (int shown = 0; shown < 2; ++shown) {  // About again: the same credits, not doubled
        SCOPED_TRACE(shown);
        EXPECT_EQ(Resize::contentSize(w), QSize(284, 326));
        EXPECT_TRUE(w->EditAppCredits->isVisible());
        EXPECT_EQ(w->StatAppCopyright->y(), 280);
        EXPECT_EQ(w->StatAppName->text(), "Lockvane");
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+\\.\\d+$")).match(w->StatAppVersion->text()).hasMatch());
        EXPECT_EQ(w->StatAppCopyright->text(), wAbout::copyrightText());
        EXPECT_EQ(w->StatAppCopyright->text().count(QLatin1Char('\n')), 1);
        const QString plain = w->EditAppCredits->toPlainText();
        EXPECT_FALSE(plain.contains(QLatin1Char('<')));
        EXPECT_EQ(plain.count(QStringLiteral("Components:")), 1);
        expectStyle(w->EditAppCredits, {"Lockvane, made by Tarnwick", true});
        expectStyle(w->EditAppCredits, {"Design and Engineering:", true});
        expectStyle(w->EditAppCredits, {"      Tarnwick"});
        expectStyle(w->EditAppCredits, {"Special Thanks:", true, true});
        expectStyle(w->EditAppCredits, {"THIS SOFTWARE IS PROVIDED", false, false, 10});
        expectAtTopWithNothingSelected(w->EditAppCredits);
        dialogs::showAbout();
        EXPECT_EQ(wAbout::current(), w);
    }

    // It answers neither About nor Preferences; Close Window closes it alone.
    EXPECT_FALSE(w->answersCommand("FileAboutLockvane"));
    EXPECT_FALSE(w->answersCommand("FilePreferences"));
    EXPECT_TRUE(w->answersCommand("HelpReportBug"));
    EXPECT_FALSE(w->doCommand("FileCloseWindow"));
    test::flushDeletions();
    EXPECT_EQ(wAbout::current(), nullptr);
}

TEST_F(AboutWindow, WithoutCreditsItIsShort)
{
    wAbout* w = wAbout::instance();
    w->Show(false);
    EXPECT_EQ(Resize::contentSize(w), QSize(284, 178));
    EXPECT_FALSE(w->EditAppCredits->isVisible());
    EXPECT_EQ(w->StatAppCopyright->y(), 132);
    EXPECT_EQ(w->AppIconCanvas->geometry(), QRect(110, 8, 64, 64));
    EXPECT_EQ(w->StatAppVersion->geometry(), QRect(20, 112, 244, 12));
}

} // namespace
} // namespace lv
