#pragma once
// The preferences window's toolbar: three toggle buttons, "General", "Notifications" and
// "Updates", that choose the page shown. Exactly one is pushed: the page's; pressing the pushed
// one again leaves it pushed. It cannot be moved, floated or hidden.

#include <QToolBar>

class QAction;

namespace lv {

class tbPrefs : public QToolBar {
    Q_OBJECT
public:
    explicit tbPrefs(QWidget* parent = nullptr);

    // Named as their objects: "tiGeneral", "tiNotifications", "tiUpdates".
    QAction* tiGeneral = nullptr;
    QAction* tiNotifications = nullptr;
    QAction* tiUpdates = nullptr;
};

} // namespace lv
