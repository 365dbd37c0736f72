#include "ui/dialogs/DialogWindow.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/MainMenu.h"
#include "ui/main/SharedCommands.h"
#include "ui/main/wMain.h"

namespace lv {

DialogWindow::DialogWindow(const char* name, const QString& title, Qt::WindowFlags buttons,
                           std::initializer_list<const char*> commands)
{
    setObjectName(QString::fromLatin1(name));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint | buttons);
    setMenuBar(MainMenu::shared().createMenuBar(this));
    SharedCommands::install(m_commands, this, commands);
}

void DialogWindow::showInFront()
{
    if (!m_placed) {
        m_placed = true;
        const wMain* main = wMain::instance();
        QScreen* screen = main && main->screen() ? main->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame(QPoint(0, 0), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

} // namespace lv
