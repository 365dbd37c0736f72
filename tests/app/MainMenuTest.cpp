#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <set>

#include "app/CommandTarget.h"
#include "app/MainMenu.h"

namespace lv {
namespace {

TEST(MainMenu, OneBarOfFourMenusAndTwentyItems)
{
    MainMenu& menu = MainMenu::shared();
    EXPECT_EQ(&menu, &MainMenu::shared());

    struct Item {
        const char* menu;
        const char* name;
        const char* caption;
        QKeySequence shortcut;
    };
    const Item table[] = {
        {"FileMenu", "FileCloseWindow", "Close Window", QKeySequence("Ctrl+W")},
        {"FileMenu", "UntitledSeparator", "-", {}},
        {"FileMenu", "FileAddItem", "Add Item", QKeySequence("Ctrl+O")},
        {"FileMenu", "FileRemoveItem", "Remove Item", QKeySequence(Qt::Key_Backspace)},
        {"FileMenu", "FilePreferences", "Preferences...", QKeySequence("Ctrl+,")},
        {"FileMenu", "FileAboutLockvane", "About Lockvane", {}},
        {"FileMenu", "UntitledSeparator2", "-", {}},
        {"FileMenu", "FileQuit", "&Quit", QKeySequence("Ctrl+Q")},
        {"EditMenu", "EditCut", "Cut", QKeySequence("Ctrl+X")},
        {"EditMenu", "EditCopy", "Copy", QKeySequence("Ctrl+C")},
        {"EditMenu", "EditPaste", "Paste", QKeySequence("Ctrl+V")},
        {"EditMenu", "UntitledSeparator1", "-", {}},
        {"EditMenu", "EditSelectAll", "Select All", QKeySequence("Ctrl+A")},
        {"WindowMenu", "WindowMinimize", "Minimize", QKeySequence("Ctrl+M")},
        {"WindowMenu", "UntitledSeparator0", "-", {}},
        {"WindowMenu", "WindowBringAlltoFront", "Bring All to Front", {}},
        {"HelpMenu", "HelpUserGuide", "User Guide", QKeySequence("Ctrl+?")},
        {"HelpMenu", "HelpReportBug", "Report Bug", {}},
        {"HelpMenu", "UntitledSeparator3", "-", {}},
        {"HelpMenu", "HelpVisitWebsite", "Visit Website", {}},
    };
    menu.refresh();  // the first update binds Remove Item to Backspace and Delete

    ASSERT_EQ(menu.menus().size(), 4u);
    const char* captions[][2] = {{"FileMenu", "&File"}, {"EditMenu", "Edit"}, {"WindowMenu", "&Window"}, {"HelpMenu", "&Help"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(menu.menus()[i]->objectName(), captions[i][0]);
        EXPECT_EQ(menu.menus()[i]->title(), captions[i][1]);
    }
    const std::vector<QAction*> items = menu.items();
    ASSERT_EQ(items.size(), std::size(table));
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& expected = table[i];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(items[i]->objectName(), expected.name);
        EXPECT_EQ(items[i]->isSeparator() ? QStringLiteral("-") : items[i]->text(), expected.caption);
        // A separator with a caption would be drawn with it.
        if (items[i]->isSeparator()) {
            EXPECT_TRUE(items[i]->text().isEmpty());
        }
        EXPECT_EQ(items[i]->shortcut(), expected.shortcut);
        EXPECT_TRUE(menu.menu(expected.menu)->actions().contains(items[i]));
        EXPECT_EQ(menu.item(expected.name), items[i]);
    }
    EXPECT_EQ(menu.item("FileRemoveItem")->shortcuts(),
              (QList<QKeySequence>{QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::Key_Delete)}));

    // Every window's bar shows the same items.
    QMainWindow a, b;
    QMenuBar* barA = menu.createMenuBar(&a);
    QMenuBar* barB = menu.createMenuBar(&b);
    ASSERT_EQ(barA->actions().size(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(barA->actions()[i], barB->actions()[i]);
}

// A window or field that answers some commands and records what reached it.
template <typename Base>
class Answering : public Base, public CommandTarget {
public:
    explicit Answering(std::set<QString> names, bool result = false) : m_names(std::move(names)), m_result(result) {}
    bool answersCommand(const QString& name) const override { return m_names.count(name) != 0; }
    bool doCommand(const QString& name) override
    {
        received.push_back(name);
        return m_result;
    }
    std::vector<QString> received;

private:
    std::set<QString> m_names;
    bool m_result;
};

TEST(MainMenu, CommandsGoToTheFocusedFieldThenTheFrontWindowAndItemsFollow)
{
    MainMenu& menu = MainMenu::shared();
    Answering<QMainWindow> window({"FileCloseWindow", "HelpReportBug", "EditCopy"}, true);
    window.setMenuBar(menu.createMenuBar(&window));
    auto* field = new Answering<QLineEdit>({"EditCopy", "EditSelectAll"});
    auto* plain = new QLineEdit;
    auto* central = new QWidget;
    field->setParent(central);
    plain->setParent(central);
    plain->move(0, 40);
    window.setCentralWidget(central);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    struct Case {
        QWidget* focus;
        const char* command;
        const char* reaches;  // "field", "window" or "" (nowhere)
        bool enabled;
    };
    const Case cases[] = {
        {field, "EditCopy", "field", true},        {field, "EditSelectAll", "field", true},
        {field, "FileCloseWindow", "window", true}, {plain, "EditCopy", "window", true},
        {plain, "EditSelectAll", "", false},       {plain, "EditPaste", "", false},
        {plain, "WindowMinimize", "", false},      {plain, "HelpReportBug", "window", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        c.focus->setFocus();
        QApplication::processEvents();
        field->received.clear();
        window.received.clear();
        menu.refresh();
        EXPECT_EQ(menu.item(c.command)->isEnabled(), c.enabled);
        menu.dispatch(c.command);
        EXPECT_EQ(field->received.size(), std::string(c.reaches) == "field" ? 1u : 0u);
        EXPECT_EQ(window.received.size(), std::string(c.reaches) == "window" ? 1u : 0u);
    }
    EXPECT_TRUE(menu.item("FileQuit")->isEnabled());
    EXPECT_FALSE(menu.item("FileRemoveItem")->isEnabled());  // no window enables it here
}

} // namespace
} // namespace lv
