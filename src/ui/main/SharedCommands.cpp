#include "ui/main/SharedCommands.h"

#include <QCoreApplication>
#include <QFile>
#include <QWidget>

#include "app/Globals.h"
#include "app/Preferences.h"
#include "app/UserDialogs.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/SheetModality.h"

namespace lv::SharedCommands {

namespace {

constexpr const char* DefaultGuidePath = "/UserGuide.pdf";

// The window a command acts on: a sheet acts on the window it is attached to.
QWidget* frontWindow(QWidget* window)
{
    QWidget* w = window->window();
    if (QWidget* parent = SheetModality::windowOf(w)) return parent;
    return w;
}

} // namespace

std::string bugReportUrl()
{
    return std::string("mailto:") + BugReportAddress +
           "?subject=Lockvane Bug&body=Please include what you were doing at the time and any error messages and "
           "codes that appeared. Thanks for your help.";
}

FolderItem installedUserGuide()
{
    const QString here = QCoreApplication::applicationDirPath();
    const QString candidates[] = {
        here + QStringLiteral("/../share/doc/lockvane/UserGuide.pdf"),
#ifdef LOCKVANE_BUILD_GUIDE
        QStringLiteral(LOCKVANE_BUILD_GUIDE),
#endif
    };
    for (const QString& path : candidates) {
        const FolderItem item(std::filesystem::path(QFile::encodeName(path).toStdString()));
        if (item.isFile()) return FolderItem(std::filesystem::weakly_canonical(item.path()));
    }
    return {};
}

void openUserGuide(QWidget* parent)
{
    Preferences& prefs = Preferences::shared();
    UserDialogs& dialogs = UserDialogs::shared();
    const FolderItem stored(prefs.UserGuidePath);
    if (!prefs.UserGuidePath.empty() && stored.exists()) {
        dialogs.openDocument(stored);
        return;
    }
    if (prefs.UserGuidePath == DefaultGuidePath) {
        if (const FolderItem installed = installedUserGuide(); !installed.isNull()) {
            dialogs.openDocument(installed);
            return;
        }
    }
    const std::optional<FolderItem> chosen = dialogs.chooseFile(LocateGuidePrompt, parent);
    if (!chosen) return;
    prefs.UserGuidePath = chosen->shellPath();
    dialogs.openDocument(*chosen);
}

void install(CommandTable& table, QWidget* window, std::initializer_list<const char*> names)
{
    for (const char* n : names) {
        const QString name = QString::fromLatin1(n);
        CommandTable::Handler handler;
        if (name == QLatin1String("FilePreferences"))
            handler = [] { dialogs::showPreferences(); return false; };
        else if (name == QLatin1String("FileAboutLockvane"))
            handler = [] { dialogs::showAbout(); return false; };
        else if (name == QLatin1String("FileCloseWindow"))
            handler = [window] { window->window()->close(); return false; };
        else if (name == QLatin1String("WindowMinimize"))
            handler = [window] { frontWindow(window)->showMinimized(); return false; };
        else if (name == QLatin1String("WindowBringAlltoFront"))
            handler = [] { Globals::shared().CarbonBringAllWindowsToFront(); return false; };
        else if (name == QLatin1String("HelpVisitWebsite"))
            handler = [] { UserDialogs::shared().openUrl(WebsiteUrl); return false; };
        else if (name == QLatin1String("HelpReportBug"))
            handler = [] { UserDialogs::shared().openUrl(bugReportUrl()); return true; };
        else if (name == QLatin1String("HelpUserGuide"))
            handler = [window] { openUserGuide(window); return false; };
        if (handler) table.add(name, std::move(handler));
    }
}

} // namespace lv::SharedCommands
