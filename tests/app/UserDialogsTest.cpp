#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "app/UnreadableFile.h"
#include "app/UserDialogs.h"
#include "qtsupport/ShownText.h"
#include "support/TempDir.h"

namespace lv {
namespace {

// A name is shown as it is in the real message box, in its text and in its explanation, however
// much it looks like markup.
TEST(UserDialogs, TheMessageBoxShowsNamesAsPlainText)
{
    const std::string name = "<b>BOLD <i>it &amp; x.bin";
    test::TempDir dir;
    UserDialogs::Request request;
    request.message = UnreadableFile::messageFor(FolderItem(dir / name));
    request.explanation = "\"" + name + "\": Permission denied.";
    QStringList shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (const QLabel* label : box->findChildren<QLabel*>())
            if (!label->text().isEmpty()) shown << test::shownText(*label);
        box->buttons().first()->click();
    });
    QtUserDialogs().message(request, UserDialogs::Icon::Caution, nullptr);
    EXPECT_TRUE(shown.contains(QString::fromStdString("The file \"" + name + "\" cannot be read."))) << shown.join('|').toStdString();
    EXPECT_TRUE(shown.contains(QString::fromStdString(request.explanation))) << shown.join('|').toStdString();
}

} // namespace
} // namespace lv
