#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "app/MainMenu.h"
#include "qtsupport/ShownText.h"
#include "support/FilesOpenedAsNobody.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/swKey.h"
#include "ui/main/Canvases.h"
#include "ui/main/LVDisplay.h"
#include "ui/main/LVDisplayHead.h"
#include "ui/main/Resize.h"
#include "ui/qt/QtJobControls.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::UiFixture;

class MainWindowTest : public UiFixture {
protected:
    QSize contentSize() { return Resize::contentSize(&window()); }

    // The names of the window's controls that are shown and lie inside the content area.
    std::set<QString> controlsInView()
    {
        std::set<QString> names;
        const QRect frame(QPoint(0, 0), contentSize());
        for (QWidget* w : window().centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (w->isVisible() && frame.intersects(w->geometry()) && w->objectName() != "Canvas1")
                names.insert(w->objectName());
        return names;
    }

    std::vector<fs::path> makeFiles(int n)
    {
        std::vector<fs::path> files;
        for (int i = 1; i <= n; ++i) {
            files.push_back(dir / ("file" + std::to_string(i) + ".txt"));
            test::writeFile(files.back(), std::string(std::size_t(i) * 100, 'x'));
        }
        return files;
    }

    void queue(const std::vector<fs::path>& items)
    {
        for (const fs::path& p : items) globals().Items.push_back(FolderItem(p));
    }
};

TEST_F(MainWindowTest, OpensOnTheDropZone)
{
    EXPECT_EQ(contentSize(), QSize(340, 160));
    EXPECT_EQ(window().WindowStatus(), 1);
    EXPECT_EQ(controlsInView(), (std::set<QString>{"cBack", "cBorder", "cbAdd", "cbAction"}));
    // Shown, but outside the frame until the list view.
    EXPECT_TRUE(window().sbwMain->isVisible() && window().bEncrypt->isVisible() && window().bFirstCancel->isVisible());
}

TEST_F(MainWindowTest, Transitions)
{
    queue(makeFiles(2));
    struct Step {
        const char* name;
        std::function<void()> act;
        QSize size;
        std::set<QString> inView;
        QPushButton* defaultButton;
        int status;
        bool doingEncrypt;
        int rows;
    };
    wMain& w = window();
    const std::set<QString> list{"lvdhHeader", "lvdList", "sbwMain", "bFirstCancel", "bEncrypt",
                                 "cBorder",    "cbAction", "cbAdd",  "cbMinus"};
    const std::set<QString> job{"pbProgress", "stReports", "bCancel"};
    const std::set<QString> question{"stAreyouSure", "bYes", "bNo"};
    const std::set<QString> dropZone{"cBack", "cBorder", "cbAdd", "cbAction"};
    const Step steps[] = {
        {"to the list", [&] { w.Transition(); }, {480, 260}, list, w.bEncrypt, 2, true, 2},
        {"to the job view", [&] { w.Transition2(); }, {340, 120}, job, nullptr, 3, true, 2},
        {"back to the list", [&] { swKey::current()->bCancel_Action(); }, {480, 260}, list, w.bEncrypt, 2, true, 2},
        {"reset", [&] { w.ResetWindow(); }, {340, 160}, dropZone, nullptr, 1, true, 0},
        {"to the question", [&] { w.DecryptTransition(); }, {300, 80}, question, w.bYes, 1, false, 0},
        {"Add Item during the question",
         [&] {
             test::writeFile(dir / "added", "a");
             dialogs().chosenItem = FolderItem(dir / "added");
             w.AddItemWithDialogue();
         },
         {480, 260}, list, w.bEncrypt, 2, true, 1},
        {"reset again", [&] { w.ResetWindow(); }, {340, 160}, dropZone, nullptr, 1, true, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        settle();
        EXPECT_EQ(contentSize(), step.size);
        EXPECT_EQ(controlsInView(), step.inView);
        EXPECT_EQ(w.defaultButton(), step.defaultButton);
        EXPECT_EQ(w.WindowStatus(), step.status);
        EXPECT_EQ(globals().DoingEncrypt, step.doingEncrypt);
        EXPECT_EQ(w.lvdList->ItemCount, step.rows);
        EXPECT_EQ(std::size_t(w.lvdList->ItemCount), globals().Items.size());
    }
    EXPECT_TRUE(w.stReports->text().isEmpty());
    EXPECT_EQ(w.bCancel->text(), "Cancel");
}

TEST_F(MainWindowTest, SmoothResizeStepsByTwentyAndEndsOnAnyDifference)
{
    wMain& w = window();
    Resize::SmoothResize(&w, 480, 260, *w.tmr);
    EXPECT_EQ(Resize::lastStepCount(), 7);  // seven width steps, five height steps, together
    EXPECT_FALSE(w.tmr->isActive());
    Resize::SmoothResize(&w, 487, 249, *w.tmr);  // not multiples of 20: a shorter last step
    EXPECT_EQ(contentSize(), QSize(487, 249));
    EXPECT_EQ(Resize::lastStepCount(), 1);
    Resize::SmoothResize(&w, 487, 249, *w.tmr);
    EXPECT_EQ(Resize::lastStepCount(), 1);
}

TEST_F(MainWindowTest, AnchoredPositions)
{
    struct Case {
        int anchor;
        QSize from, to;
        QPoint expected;
    };
    const Case cases[] = {
        {Resize::TopLeft, {300, 200}, {400, 250}, {100, 100}},
        {Resize::BottomRight, {300, 200}, {400, 250}, {0, 50}},
        {Resize::TopMiddle, {340, 448}, {340, 86}, {100, 100}},
        {Resize::RightMiddle, {300, 200}, {400, 260}, {0, 70}},
        {99, {300, 200}, {400, 250}, {100, 100}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Resize::anchoredPosition({100, 100}, c.from, c.to, c.anchor), c.expected) << c.anchor;
}

TEST_F(MainWindowTest, AReturnDuringAnAnimationStartsNothing)
{
    wMain& w = window();
    queue(makeFiles(1));
    // The user presses Return while the list view is still growing.
    QTimer::singleShot(Resize::TickMilliseconds * 2, &w, [&w] { QTest::keyClick(&w, Qt::Key_Return); });
    w.Transition();
    settle();
    EXPECT_EQ(w.WindowStatus(), 2);
    EXPECT_EQ(contentSize(), QSize(480, 260));
    EXPECT_EQ(swKey::current(), nullptr);
    // Afterwards Return presses Encrypt.
    QTest::keyClick(&w, Qt::Key_Return);
    settle();
    EXPECT_EQ(w.WindowStatus(), 3);
    EXPECT_NE(swKey::current(), nullptr);
}

TEST_F(MainWindowTest, DropsOnTheDropZone)
{
    const std::vector<fs::path> plain = makeFiles(3);
    const fs::path v1 = dir / "secret.cdx";
    const fs::path v2 = dir / "future.cdx";
    writeHeaderOnlyFile(v1, 1);
    writeHeaderOnlyFile(v2, 2);
    struct Case {
        const char* name;
        std::vector<fs::path> dropped;
        bool link;
        bool reminder;
        std::vector<fs::path> queued;
        MainWindow::View view;
        bool message;
    };
    const Case cases[] = {
        {"three plain files", plain, false, true, plain, MainWindow::View::ItemList, false},
        {"encrypted first, reminder on", {v1, plain[0]}, false, true, {v1}, MainWindow::View::DecryptQuestion, false},
        {"encrypted first, reminder off", {v1, plain[0]}, false, false, {v1}, MainWindow::View::JobView, false},
        {"encrypted not first", {plain[0], v1}, false, true, {plain[0], v1}, MainWindow::View::ItemList, false},
        {"later version", {v2}, false, true, {}, MainWindow::View::DropZone, true},
        {"link drag", {plain[0]}, true, true, {}, MainWindow::View::ItemList, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window().ResetWindow();
        settle();
        dialogs().reset();
        prefs().DecryptReminder = c.reminder;
        drop(window().cBack, c.dropped, c.link);
        std::vector<fs::path> queued;
        for (const FolderItem& item : globals().Items) queued.push_back(item.path());
        EXPECT_EQ(queued, c.queued);
        EXPECT_EQ(window().view(), c.view);
        EXPECT_EQ(dialogs().messages.size(), c.message ? 1u : 0u);
        if (c.view == MainWindow::View::JobView) {
            EXPECT_FALSE(globals().DoingEncrypt);
            ASSERT_NE(swKey::current(), nullptr);
            EXPECT_FALSE(swKey::current()->confirming());
            swKey::current()->bCancel_Action();
            settle();
        }
        if (c.view == MainWindow::View::ItemList) {
            EXPECT_EQ(window().lvdList->ItemCount, int(c.queued.size()));
        }
    }
}

TEST_F(MainWindowTest, ADropListsWhatCanBeReadAndNamesWhatCannot)
{
    fs::permissions(dir.path(), fs::perms::all);
    const fs::path open = dir / "open.txt", locked = dir / "locked.txt", sealed = dir / "sealed.txt";
    const fs::path encrypted = dir / "secret.cdx", link = dir / "link.txt";
    for (const fs::path& file : {open, locked, sealed}) test::writeFile(file, "text");
    for (const fs::path& file : {locked, sealed}) fs::permissions(file, fs::perms::owner_write);
    writeHeaderOnlyFile(encrypted, 1);
    fs::create_symlink(locked, link);
    struct Case {
        const char* name;
        std::vector<fs::path> dropped;
        std::vector<fs::path> queued;
        MainWindow::View view;
        std::vector<std::string> messages;
    };
    const std::string lockedText = "The file \"locked.txt\" cannot be read.";
    const Case cases[] = {
        {"readable first", {open, locked}, {open}, MainWindow::View::ItemList, {lockedText}},
        // No header can be read from the first: the others are plain items, the encrypted one too.
        {"unreadable first", {locked, open, encrypted}, {open, encrypted}, MainWindow::View::ItemList, {lockedText}},
        {"a link to an unreadable file", {link, open}, {open}, MainWindow::View::ItemList,
         {"The file \"link.txt\" cannot be read."}},
        {"nothing readable", {locked, sealed}, {}, MainWindow::View::DropZone,
         {"The files \"locked.txt\" and \"sealed.txt\" cannot be read."}},
        // The others are not taken: nothing to say about them.
        {"encrypted first", {encrypted, locked}, {encrypted}, MainWindow::View::DecryptQuestion, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window().ResetWindow();
        settle();
        dialogs().reset();
        {
            test::FilesOpenedAsNobody nobody;
            drop(window().cBack, c.dropped);
        }
        std::vector<fs::path> queued;
        for (const FolderItem& item : globals().Items) queued.push_back(item.path());
        EXPECT_EQ(queued, c.queued);
        EXPECT_EQ(window().lvdList->ItemCount, c.view == MainWindow::View::ItemList ? int(c.queued.size()) : 0);
        EXPECT_EQ(window().view(), c.view);
        EXPECT_EQ(dialogs().messages, c.messages);
        if (!c.messages.empty()) {
            EXPECT_EQ(dialogs().explanations, std::vector<std::string>{"Permission denied."});
        }
    }
}

TEST_F(MainWindowTest, DropsOnTheListRefuseWhatIsQueuedComparingPathsExactly)
{
    test::writeFile(dir / "Report", "1");
    test::writeFile(dir / "report", "2");
    drop(window().cBack, {dir / "Report"});
    drop(window().lvdList, {dir / "Report", dir / "report", dir / "report"});
    ASSERT_EQ(globals().Items.size(), 2u);
    EXPECT_EQ(globals().Items[1].path(), dir / "report");
    EXPECT_EQ(window().lvdList->ItemCount, 2);
    drop(window().lvdList, {dir / "x"}, true);  // a link drag adds nothing
    EXPECT_EQ(window().lvdList->ItemCount, 2);
}

TEST_F(MainWindowTest, EncryptOnAnEmptyQueueSaysSo)
{
    window().Transition();
    settle();
    window().bEncrypt->click();
    ASSERT_EQ(dialogs().messages.size(), 1u);
    EXPECT_EQ(dialogs().messages[0], "Please select files or folders that you wish to encrypt.");
    EXPECT_EQ(window().WindowStatus(), 2);
}

TEST_F(MainWindowTest, Keys)
{
    struct Case {
        const char* name;
        int status;
        int selected;  // 0: none
        Qt::Key key;
        int rowsAfter;
        int selectedAfter;  // 0: none
    };
    const Case cases[] = {
        {"backspace removes", 2, 2, Qt::Key_Backspace, 3, 0},
        {"delete removes", 2, 4, Qt::Key_Delete, 3, 0},
        {"up", 2, 2, Qt::Key_Up, 4, 1},
        {"up on the first row", 2, 1, Qt::Key_Up, 4, 1},
        {"down", 2, 3, Qt::Key_Down, 4, 4},
        {"down on the last row", 2, 4, Qt::Key_Down, 4, 4},
        {"no selection", 2, 0, Qt::Key_Backspace, 4, 0},
        {"drop zone", 1, 0, Qt::Key_Delete, 0, 0},
        {"job view", 3, 2, Qt::Key_Delete, 4, 2},
    };
    const std::vector<fs::path> files = makeFiles(4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wMain& w = window();
        w.ResetWindow();
        settle();
        if (c.status >= 2) {
            queue(files);
            w.Transition();
            settle();
        }
        if (c.selected) w.lvdList->selectRow(c.selected);
        if (c.status == 3) {
            w.Transition2();
            settle();
            swKey::current()->hide();
            QApplication::setActiveWindow(&w);
        }
        MainMenu::shared().refresh();
        QTest::keyClick(&w, c.key);
        EXPECT_EQ(w.lvdList->ItemCount, c.rowsAfter);
        EXPECT_EQ(globals().Items.size(), std::size_t(c.rowsAfter));
        EXPECT_EQ(w.lvdList->RowSelected ? w.lvdList->SelectedRow : 0, c.selectedAfter);
        if (swKey* sheet = swKey::current()) {
            sheet->bCancel_Action();
            settle();
        }
    }
}

TEST_F(MainWindowTest, TheArrowsKeepTheSelectedRowInView)
{
    wMain& w = window();
    LVDisplay& list = *w.lvdList;
    queue(makeFiles(6));
    w.Transition();
    settle();
    list.selectRow(3);
    struct Step {
        Qt::Key key;
        int row;
        int scrolled;  // the least that shows the row whole
    };
    const Step steps[] = {{Qt::Key_Down, 4, 50}, {Qt::Key_Down, 5, 100}, {Qt::Key_Down, 6, 150}, {Qt::Key_Up, 5, 150},
                          {Qt::Key_Up, 4, 150},   {Qt::Key_Up, 3, 100},   {Qt::Key_Up, 2, 50},    {Qt::Key_Up, 1, 0}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.row);
        QTest::keyClick(&w, step.key);
        ASSERT_EQ(list.SelectedRow, step.row);
        EXPECT_EQ(w.sbwMain->value(), step.scrolled);
        EXPECT_EQ(list.ScrollValue, step.scrolled);
    }
    // Scrolled away by hand, the next arrow brings the selection back into view.
    w.sbwMain->setValue(150);
    QTest::keyClick(&w, Qt::Key_Down);
    EXPECT_EQ(list.SelectedRow, 2);
    EXPECT_EQ(list.ScrollValue, 50);
}

TEST_F(MainWindowTest, AJobsStatusTextIsShownAsItIs)
{
    const std::string text = "Encrypting <b>BOLD <i>it &amp; x.bin";
    window().newJobControls()->controls().status->setText(text);
    EXPECT_EQ(test::shownText(*window().stReports).toStdString(), text);
}

TEST_F(MainWindowTest, RemoveItemIsEnabledExactlyWhileARowIsSelected)
{
    QAction* remove = MainMenu::shared().item("FileRemoveItem");
    MainMenu::shared().refresh();
    EXPECT_FALSE(remove->isEnabled());
    queue(makeFiles(2));
    window().Transition();
    settle();
    MainMenu::shared().refresh();
    EXPECT_FALSE(remove->isEnabled());
    QTest::mouseClick(window().lvdList, Qt::LeftButton, {}, QPoint(100, 60));
    MainMenu::shared().refresh();
    EXPECT_TRUE(remove->isEnabled());
    MainMenu::shared().dispatch("FileRemoveItem");
    EXPECT_EQ(window().lvdList->ItemCount, 1);
    EXPECT_EQ(globals().Items.size(), 1u);
    MainMenu::shared().refresh();
    EXPECT_FALSE(remove->isEnabled());
}

TEST_F(MainWindowTest, TheListModel)
{
    wMain& w = window();
    LVDisplay& list = *w.lvdList;
    const std::vector<fs::path> files = makeFiles(4);
    queue({files[0], files[1]});
    w.Transition();
    settle();
    QTest::mouseClick(&list, Qt::LeftButton, {}, QPoint(100, 60));
    EXPECT_EQ(list.SelectedRow, 2);
    // A click below the last row ends the selection and keeps the row number.
    QTest::mouseClick(&list, Qt::LeftButton, {}, QPoint(100, 120));
    EXPECT_FALSE(list.RowSelected);
    EXPECT_EQ(list.SelectedRow, 2);
    for (int i = 2; i < 4; ++i) {
        globals().Items.push_back(FolderItem(files[std::size_t(i)]));
        list.Update(FolderItem(files[std::size_t(i)]));
    }
    EXPECT_EQ(list.RowCount, 7);
    EXPECT_EQ(w.sbwMain->maximum(), 50);

    // Scrolled to the end, a click at the top is on row 2.
    w.sbwMain->setValue(50);
    EXPECT_EQ(list.ScrollValue, 50);
    QTest::mouseClick(&list, Qt::LeftButton, {}, QPoint(100, 0));
    EXPECT_TRUE(list.RowSelected);
    EXPECT_EQ(list.SelectedRow, 2);
    QTest::mouseClick(&list, Qt::RightButton, {}, QPoint(100, 60));  // a contextual click keeps the selection
    EXPECT_EQ(list.SelectedRow, 2);

    std::vector<int> removed;
    QObject::connect(&list, &LVDisplay::ItemRemoved, [&](int row) { removed.push_back(row); });
    list.selectRow(2);
    list.Remove(2);
    EXPECT_EQ(removed, std::vector<int>{2});
    EXPECT_FALSE(list.RowSelected);
    EXPECT_EQ(list.ItemCount, 3);
    EXPECT_EQ(list.RowCount, 6);
    EXPECT_EQ(w.sbwMain->maximum(), 0);
    std::vector<int> tags;
    for (const LVfiDetails& d : list.Details) tags.push_back(d.RowTag);
    EXPECT_EQ(tags, (std::vector<int>{4, 5, 6}));
    ASSERT_EQ(globals().Items.size(), 3u);
    EXPECT_EQ(globals().Items[1].path(), files[2]);
    EXPECT_TRUE(waitFor([&] { return list.sizesKnown(); }));
    EXPECT_EQ(list.Details[1].Size, "300 Bytes");
}

TEST_F(MainWindowTest, ActionMenuEntriesFollowTheView)
{
    wMain& w = window();
    const auto entries = [&] {
        QMenu menu;
        w.fillItemMenu(menu);
        std::vector<std::string> texts;
        for (QAction* a : menu.actions()) texts.push_back(a->text().toStdString() + (a->isEnabled() ? "" : " (off)"));
        return texts;
    };
    EXPECT_EQ(entries(), (std::vector<std::string>{"Add", "Change Algorithm"}));
    EXPECT_EQ(w.actionMenuPosition(), QPoint(w.Left() - 1, w.Top() + 164));
    queue(makeFiles(2));
    w.Transition();
    settle();
    EXPECT_EQ(entries(), (std::vector<std::string>{"Add", "Remove (off)", "Cancel Selection (off)", "Change Algorithm"}));
    EXPECT_EQ(w.actionMenuPosition(), QPoint(w.Left() - 1, w.Top() + 264));
    w.lvdList->selectRow(2);
    EXPECT_EQ(entries(), (std::vector<std::string>{"Add", "Remove", "Cancel Selection", "Change Algorithm"}));
    w.performMenuEntry("Cancel Selection");
    EXPECT_FALSE(w.lvdList->RowSelected);
    EXPECT_EQ(w.lvdList->SelectedRow, 2);
    w.lvdList->selectRow(1);
    w.performMenuEntry("Remove");
    EXPECT_EQ(globals().Items.size(), 1u);
    dialogs().chosenItem.reset();
    w.performMenuEntry("Add");  // cancelled: nothing
    EXPECT_EQ(dialogs().prompts, std::vector<std::string>{"Please choose a file/folder you wish to encrypt."});
    EXPECT_EQ(globals().Items.size(), 1u);
}

TEST_F(MainWindowTest, PositionIsRestoredOnlyOnAScreen)
{
    // A fresh window with a stored position far off every screen keeps the one it was given.
    prefs().pLeft = 100000;
    prefs().pTop = 100000;
    wMain w;
    w.show();
    EXPECT_NE(w.Left(), 100000);
    prefs().pLeft = 120;
    prefs().pTop = 90;
    wMain w2;
    w2.show();
    EXPECT_EQ(w2.Left(), 120);
    EXPECT_EQ(w2.Top(), 90);
}

TEST_F(MainWindowTest, TheWindowStaysInsideItsScreen)
{
    wMain& w = window();
    const QRect area = w.screen()->availableGeometry();
    const auto onScreen = [&](const QWidget* c) { return area.contains(QRect(c->mapToGlobal(QPoint(0, 0)), c->size())); };
    // Near the bottom-right corner the list view would reach past both edges: the window moves in
    // just so far, and Encrypt and Cancel can be reached.
    w.move(area.right() - 400, area.bottom() - 220);
    settle();
    queue(makeFiles(1));
    w.Transition();
    settle();
    EXPECT_EQ(w.frameGeometry().bottomRight(), area.bottomRight());
    EXPECT_TRUE(onScreen(w.bEncrypt) && onScreen(w.bFirstCancel));

    // A stored corner on the screen with most of the window past its edges opens inside it.
    prefs().pLeft = area.right() - 40;
    prefs().pTop = area.bottom() - 20;
    wMain stored;
    stored.show();
    EXPECT_EQ(stored.frameGeometry().bottomRight(), area.bottomRight());

    // A frame larger than the work area keeps its title bar in it.
    const QRect small(0, 0, 300, 200);
    EXPECT_EQ(Resize::insidePosition(QRect(250, 150, 400, 300), small), QPoint(0, 0));
    EXPECT_EQ(Resize::insidePosition(QRect(-50, 20, 100, 100), small), QPoint(0, 20));
}

} // namespace
} // namespace lv
