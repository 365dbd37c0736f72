#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTextCursor>
#include <QTextDocumentFragment>

#include <functional>

#include "DialogTestSupport.h"
#include "app/CommandTarget.h"
#include "app/MainMenu.h"
#include "ui/dialogs/wAbout.h"
#include "ui/dialogs/wPrefs.h"

namespace lv {
namespace {

using EditField = test::DialogTest;

// One field of each kind, behind the same few questions.
struct Field {
    const char* what;
    std::function<QWidget*()> open;      // shows its window; the field
    std::function<void(const QString&)> setText;
    std::function<QString()> text;
    std::function<QString()> selected;
    bool editable;
    QString full;
};

QString clipboard() { return QGuiApplication::clipboard()->text(); }

TEST_F(EditField, EditCommandsOnEmptyAndFullFields)
{
    const Field fields[] = {
        {"file name",
         [] {
             wPrefs* w = wPrefs::instance();
             EXPECT_TRUE(test::showActive(w));
             return static_cast<QWidget*>(w->edFile);
         },
         [](const QString& t) { wPrefs::current()->edFile->setText(t); },
         [] { return wPrefs::current()->edFile->text(); },
         [] { return wPrefs::current()->edFile->selectedText(); }, true, QStringLiteral("Secret Plans")},
        {"credits",
         [] {
             wAbout* w = wAbout::instance();
             w->Show(true);
             EXPECT_TRUE(test::showActive(w));
             return static_cast<QWidget*>(w->EditAppCredits);
         },
         [](const QString& t) { wAbout::current()->SetCreditsFieldText(t, true); },
         [] { return wAbout::current()->EditAppCredits->toPlainText(); },
         [] { return wAbout::current()->EditAppCredits->textCursor().selection().toPlainText(); }, false,
         QStringLiteral("<b>Secret</b>\nPlans")},
    };
    MainMenu& menu = MainMenu::shared();
    for (const Field& field : fields) {
        for (const QString& content : {QString(), field.full}) {
            SCOPED_TRACE(std::string(field.what) + (content.isEmpty() ? ", empty" : ", full"));
            QWidget* widget = field.open();
            field.setText(content);
            widget->setFocus();
            const QString whole = field.text();
            ASSERT_EQ(menu.targetFor("EditCopy"), dynamic_cast<CommandTarget*>(widget));  // the field before its window
            QGuiApplication::clipboard()->setText(QStringLiteral("on the clipboard"));

            EXPECT_FALSE(menu.dispatch("EditSelectAll"));
            EXPECT_EQ(field.selected(), whole);

            EXPECT_FALSE(menu.dispatch("EditCopy"));
            EXPECT_EQ(clipboard(), whole.isEmpty() ? QStringLiteral("on the clipboard") : whole);

            QGuiApplication::clipboard()->setText(QStringLiteral("on the clipboard"));
            EXPECT_FALSE(menu.dispatch("EditCut"));
            EXPECT_EQ(field.text(), field.editable ? QString() : whole);  // a read-only text only copies
            EXPECT_EQ(clipboard(), whole.isEmpty() ? QStringLiteral("on the clipboard") : whole);

            QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
            EXPECT_FALSE(menu.dispatch("EditPaste"));
            EXPECT_EQ(field.text(), field.editable ? QStringLiteral("pasted") : whole);

            test::closeAndFlush(widget->window());
        }
    }
}

} // namespace
} // namespace lv
