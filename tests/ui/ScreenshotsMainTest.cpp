// Pictures of every view of the main window, for a person to look at (see the build folder's
// "screenshots"). Under xvfb-run they show the real X11 rendering.

#include <QPainter>
#include <QPushButton>
#include <QProgressBar>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "app/MainMenu.h"
#include "support/FilesOpenedAsNobody.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/Canvases.h"
#include "ui/main/LVDisplay.h"

namespace lv {
namespace {

namespace fs = std::filesystem;

class ScreenshotsMain : public test::UiFixture {};

TEST_F(ScreenshotsMain, EveryView)
{
    screenshot(&window(), "main-drop-zone");

    writeHeaderOnlyFile(dir / "Tax return 2025.cdx", 1);
    drop(window().cBack, {dir / "Tax return 2025.cdx"});
    screenshot(&window(), "main-decrypt-question");
    window().bNo->click();
    settle();

    fs::create_directories(dir / "Holiday photos");
    test::writeFile(dir / "Holiday photos" / "beach.jpg", test::randomBytes(2 << 20));
    test::writeFile(dir / "Annual report with a very long name that does not fit in its column.pdf", std::string(150000, 'p'));
    test::writeFile(dir / "notes.txt", "notes");
    test::writeFile(dir / "budget.ods", std::string(40000, 'b'));
    drop(window().cBack, {dir / "Holiday photos", dir / "Annual report with a very long name that does not fit in its column.pdf",
                          dir / "notes.txt", dir / "budget.ods"});
    ASSERT_TRUE(waitFor([&] { return window().lvdList->sizesKnown(); }));
    window().lvdList->selectRow(2);
    screenshot(&window(), "main-item-list");
    // Down twice: the list follows the selection.
    QTest::keyClick(&window(), Qt::Key_Down);
    QTest::keyClick(&window(), Qt::Key_Down);
    screenshot(&window(), "main-item-list-scrolled");

    prefs().ConfirmKey = true;
    window().bEncrypt->click();
    settle();
    swKey* sheet = swKey::current();
    ASSERT_NE(sheet, nullptr);
    QTest::keyClicks(sheet->edKey, "secret");
    // The sheet drawn where it hangs, at the top of the main window's content.
    QPixmap main = window().grab();
    const QPixmap sheetPicture = sheet->grab();
    QPixmap both(std::max(main.width(), sheetPicture.width()), main.height() + sheetPicture.height());
    both.fill(Qt::darkGray);
    QPainter p(&both);
    p.drawPixmap(0, 0, main);
    p.drawPixmap((both.width() - sheetPicture.width()) / 2, main.height(), sheetPicture);
    p.end();
    both.save(QStringLiteral(LOCKVANE_BINARY_DIR "/screenshots/main-job-view-key-sheet.png"));

    sheet->bCancel_Action();
    settle();
    window().Transition2();
    settle();
    swKey::current()->hide();
    window().pbProgress->setMaximum(100);
    window().pbProgress->setValue(42);
    window().stReports->setText("Compressing...");
    screenshot(&window(), "main-job-view-progress");
    swKey::current()->bCancel_Action();
    settle();
}

// The real box a drop gives when some of its files can't be read, names that look like markup
// among them.
TEST_F(ScreenshotsMain, TheBoxForFilesThatCannotBeRead)
{
    fs::permissions(dir.path(), fs::perms::all);
    const std::vector<fs::path> files = {dir / "<b>BOLD <i>it &amp; x.bin", dir / "locked.txt", dir / "notes.txt"};
    for (const fs::path& file : files) test::writeFile(file, "text");
    fs::permissions(files[0], fs::perms::owner_write);
    fs::permissions(files[1], fs::perms::owner_write);
    QPixmap picture;
    dialogs().onMessage = [&](const UserDialogs::Request& request) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
            picture = box->grab();
            box->buttons().first()->click();
        });
        QtUserDialogs().message(request, UserDialogs::Icon::Caution, &window());
    };
    {
        test::FilesOpenedAsNobody nobody;
        drop(window().cBack, files);
    }
    dialogs().onMessage = nullptr;
    // Saved as the test's own user again.
    ASSERT_FALSE(picture.isNull());
    picture.save(QStringLiteral(LOCKVANE_BINARY_DIR "/screenshots/message-unreadable-files.png"));
}

TEST_F(ScreenshotsMain, TheListViewGrownAtTheScreensCorner)
{
    // The window moved into the bottom-right corner, then grown to the list: the screen's corner
    // shows it moved back inside, Encrypt and Cancel in reach.
    QScreen* screen = window().screen();
    const QRect area = screen->availableGeometry();
    window().move(area.right() - 360, area.bottom() - 200);
    settle();
    test::writeFile(dir / "notes.txt", "notes");
    drop(window().cBack, {dir / "notes.txt"});
    QTest::qWait(100);  // the X server draws the last step
    const QRect corner(area.right() - 699, area.bottom() - 399, 700, 400);
    screen->grabWindow(0, corner.x(), corner.y(), corner.width(), corner.height())
        .save(QStringLiteral(LOCKVANE_BINARY_DIR "/screenshots/main-item-list-at-the-screen-corner.png"));
}

TEST_F(ScreenshotsMain, EveryMenuWithItsSeparators)
{
    MainMenu& bar = MainMenu::shared();
    bar.refresh();
    for (QMenu* menu : bar.menus()) {
        menu->popup(window().mapToGlobal(QPoint(0, 0)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        settle();
        screenshot(menu, "menu-" + menu->objectName().toStdString());
        menu->hide();
        settle();
    }
}

} // namespace
} // namespace lv
