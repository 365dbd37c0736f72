#pragma once
// The program's one menu bar: File, Edit, Window and Help with their items, captions and
// shortcuts, defined once and shown by every window but the key strength meter. Each window gets
// a bar of its own (`createMenuBar`) that shares the same items, so an item's state is the same
// in every window.
//
// The items carry no behaviour: a chosen item goes to the focused field's handler, else to the
// front window's (CommandTarget), else nowhere; only Quit is the application's. Enabling follows
// the state at every moment: `refresh` runs before a menu opens, before a shortcut is matched,
// when the focus or the front window changes, and whenever a window asks for it. An item is
// enabled when a target answers it; Remove Item, which is not enabled automatically, only when
// the front window enables it. From the first update on, Remove Item is bound to Backspace and
// Delete.

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace lv {

class CommandTarget;

class MainMenu : public QObject {
    Q_OBJECT
public:
    // The one menu bar definition, built on the first call (needs a QApplication).
    static MainMenu& shared();
    ~MainMenu() override;

    // The four menus, in bar order.
    const std::vector<QMenu*>& menus() const noexcept { return m_menus; }
    // The items of every menu, in menu order, separators included.
    std::vector<QAction*> items() const;
    // A menu (by its name, "FileMenu") or an item (by its name, "FileAddItem"); null when none.
    QMenu* menu(const QString& name) const;
    QAction* item(const QString& name) const;

    // A new menu bar for `window` showing the shared menus (owned by the window).
    QMenuBar* createMenuBar(QWidget* window);
    // Makes the items' shortcuts work in `window`, which shows no menu bar of its own.
    void addShortcutsTo(QWidget* window);

    // What Quit does (the application's quit request).
    void setQuitHandler(std::function<void()> handler) { m_quit = std::move(handler); }

    // Sends a command as if its item had been chosen; the handler's result, false when no target
    // answers it.
    bool dispatch(const QString& name);
    // The target a command goes to now; null when none answers it.
    CommandTarget* targetFor(const QString& name) const;

    // The enabling update (see above). Cheap; a request made while one is queued is merged.
    void refresh();
    void refreshSoon();

private:
    MainMenu();
    void build();
    QMenu* addMenu(const char* name, const char* caption);
    QAction* addItem(QMenu* menu, const char* name, const char* caption, const char* shortcut, bool autoEnable = true);
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::vector<QMenu*> m_menus;
    std::vector<QAction*> m_manualItems;  // not enabled automatically
    std::function<void()> m_quit;
    bool m_updatedOnce = false;
    bool m_refreshQueued = false;
};

} // namespace lv
