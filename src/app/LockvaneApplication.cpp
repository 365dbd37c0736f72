#include "app/LockvaneApplication.h"

#include "app/Lockvane.h"

namespace lv {

LockvaneApplication::LockvaneApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Lockvane"));
    setApplicationDisplayName(QStringLiteral("Lockvane"));
    setOrganizationName(QStringLiteral("Tarnwick"));
    setDesktopFileName(QStringLiteral("lockvane"));
    setQuitOnLastWindowClosed(false);  // quitting is the application object's business
}

bool LockvaneApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const int number = Lockvane::errorNumberOf(std::current_exception());
        if (Lockvane* app = Lockvane::App()) app->UnhandledException(number);
        return true;
    }
}

} // namespace lv
