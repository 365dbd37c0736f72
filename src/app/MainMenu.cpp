#include "app/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include "app/CommandTarget.h"

namespace lv {

namespace {

constexpr const char* AutoEnableProperty = "lockvaneAutoEnable";

CommandTarget* answering(QWidget* widget, const QString& name)
{
    auto* target = dynamic_cast<CommandTarget*>(widget);
    return target && target->answersCommand(name) ? target : nullptr;
}

} // namespace

MainMenu& MainMenu::shared()
{
    static MainMenu* menu = new MainMenu;  // lives as long as the process; Qt owns nothing of it
    return *menu;
}

MainMenu::MainMenu()
{
    build();
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this] { refreshSoon(); });
}

MainMenu::~MainMenu()
{
    for (QMenu* menu : m_menus) delete menu;
}

QMenu* MainMenu::addMenu(const char* name, const char* caption)
{
    auto* menu = new QMenu(QString::fromUtf8(caption));
    menu->setObjectName(QString::fromLatin1(name));
    connect(menu, &QMenu::aboutToShow, this, &MainMenu::refresh);
    m_menus.push_back(menu);
    return menu;
}

QAction* MainMenu::addItem(QMenu* menu, const char* name, const char* caption, const char* shortcut, bool autoEnable)
{
    auto* action = new QAction(menu);
    action->setObjectName(QString::fromLatin1(name));
    action->setProperty(AutoEnableProperty, autoEnable);
    if (QString::fromUtf8(caption) == QLatin1String("-")) {
        // A separator with a caption is drawn as a titled section: the "-" would show.
        action->setSeparator(true);
    } else {
        action->setText(QString::fromUtf8(caption));
        if (shortcut) action->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
        const QString itemName = action->objectName();
        connect(action, &QAction::triggered, this, [this, itemName] { dispatch(itemName); });
    }
    if (!autoEnable) m_manualItems.push_back(action);
    menu->addAction(action);
    return action;
}

void MainMenu::build()
{
    QMenu* file = addMenu("FileMenu", "&File");
    addItem(file, "FileCloseWindow", "Close Window", "Ctrl+W");
    addItem(file, "UntitledSeparator", "-", nullptr);
    addItem(file, "FileAddItem", "Add Item", "Ctrl+O");
    addItem(file, "FileRemoveItem", "Remove Item", "Ctrl+-", false);
    addItem(file, "FilePreferences", "Preferences...", "Ctrl+,");
    addItem(file, "FileAboutLockvane", "About Lockvane", nullptr);
    addItem(file, "UntitledSeparator2", "-", nullptr);
    addItem(file, "FileQuit", "&Quit", "Ctrl+Q");

    QMenu* edit = addMenu("EditMenu", "Edit");
    addItem(edit, "EditCut", "Cut", "Ctrl+X");
    addItem(edit, "EditCopy", "Copy", "Ctrl+C");
    addItem(edit, "EditPaste", "Paste", "Ctrl+V");
    addItem(edit, "UntitledSeparator1", "-", nullptr);
    addItem(edit, "EditSelectAll", "Select All", "Ctrl+A");

    QMenu* window = addMenu("WindowMenu", "&Window");
    addItem(window, "WindowMinimize", "Minimize", "Ctrl+M");
    addItem(window, "UntitledSeparator0", "-", nullptr);
    addItem(window, "WindowBringAlltoFront", "Bring All to Front", nullptr);

    QMenu* help = addMenu("HelpMenu", "&Help");
    addItem(help, "HelpUserGuide", "User Guide", "Ctrl+?");
    addItem(help, "HelpReportBug", "Report Bug", nullptr);
    addItem(help, "UntitledSeparator3", "-", nullptr);
    addItem(help, "HelpVisitWebsite", "Visit Website", nullptr);
}

std::vector<QAction*> MainMenu::items() const
{
    std::vector<QAction*> all;
    for (QMenu* menu : m_menus)
        for (QAction* action : menu->actions()) all.push_back(action);
    return all;
}

QMenu* MainMenu::menu(const QString& name) const
{
    for (QMenu* menu : m_menus)
        if (menu->objectName() == name) return menu;
    return nullptr;
}

QAction* MainMenu::item(const QString& name) const
{
    for (QAction* action : items())
        if (action->objectName() == name) return action;
    return nullptr;
}

QMenuBar* MainMenu::createMenuBar(QWidget* window)
{
    auto* bar = new QMenuBar(window);
    for (QMenu* menu : m_menus) bar->addMenu(menu);
    refreshSoon();
    return bar;
}

void MainMenu::addShortcutsTo(QWidget* window)
{
    for (QAction* action : items())
        if (!action->isSeparator()) window->addAction(action);
}

CommandTarget* MainMenu::targetFor(const QString& name) const
{
    if (CommandTarget* field = answering(QApplication::focusWidget(), name)) return field;
    return answering(QApplication::activeWindow(), name);
}

bool MainMenu::dispatch(const QString& name)
{
    if (name == QLatin1String("FileQuit")) {
        if (m_quit) m_quit();
        return true;
    }
    CommandTarget* target = targetFor(name);
    const bool result = target && target->doCommand(name);
    refreshSoon();
    return result;
}

void MainMenu::refresh()
{
    m_refreshQueued = false;
    for (QAction* action : items()) {
        if (action->isSeparator()) continue;
        const QString name = action->objectName();
        if (name == QLatin1String("FileQuit"))
            action->setEnabled(true);
        else if (!action->property(AutoEnableProperty).toBool())
            action->setEnabled(false);
        else
            action->setEnabled(targetFor(name) != nullptr);
    }
    if (!m_updatedOnce) {
        m_updatedOnce = true;
        if (QAction* remove = item(QStringLiteral("FileRemoveItem")))
            remove->setShortcuts({QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::Key_Delete)});
    }
    if (auto* front = dynamic_cast<CommandTarget*>(QApplication::activeWindow())) front->enableMenuItems(*this);
}

void MainMenu::refreshSoon()
{
    if (m_refreshQueued) return;
    m_refreshQueued = true;
    QTimer::singleShot(0, this, [this] {
        if (m_refreshQueued) refresh();
    });
}

bool MainMenu::eventFilter(QObject* watched, QEvent* event)
{
    // Shortcuts are matched right after this event: the items must be up to date by then.
    if (event->type() == QEvent::ShortcutOverride) refresh();
    return QObject::eventFilter(watched, event);
}

} // namespace lv
