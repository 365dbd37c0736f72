#include "ui/dialogs/tbPrefs.h"

#include <QAction>
#include <QActionGroup>

#include "ui/dialogs/DialogArtwork.h"

namespace lv {

tbPrefs::tbPrefs(QWidget* parent) : QToolBar(parent)
{
    setObjectName(QStringLiteral("tbPrefs1"));
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(32, 32));
    toggleViewAction()->setVisible(false);  // no menu entry that hides it

    auto* group = new QActionGroup(this);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    const auto button = [this, group](const char* name, const char* caption, DialogArtwork::PrefsIcon icon, bool pushed) {
        QAction* action = addAction(DialogArtwork::prefsIcon(icon), QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        action->setCheckable(true);
        action->setChecked(pushed);
        group->addAction(action);
        return action;
    };
    tiGeneral = button("tiGeneral", "General", DialogArtwork::PrefsIcon::General, true);
    tiNotifications = button("tiNotifications", "Notifications", DialogArtwork::PrefsIcon::Notifications, false);
    tiUpdates = button("tiUpdates", "Updates", DialogArtwork::PrefsIcon::Updates, false);
}

} // namespace lv
