#pragma once
// The File, Window and Help commands every window answers alike: Preferences, About, Close
// Window, Minimize, Bring All to Front, Visit Website, Report Bug and User Guide. A window
// registers the ones it answers (see the lists below) in its command table while it is built.

#include <QString>

#include <initializer_list>
#include <string>

#include "platform/FolderItem.h"
#include "ui/main/CommandTable.h"

class QWidget;

namespace lv::SharedCommands {

inline constexpr const char* WebsiteUrl = "https://lockvane.tarnwick.example/";
inline constexpr const char* BugReportAddress = "lockvane-bugs@tarnwick.example";
inline constexpr const char* LocateGuidePrompt = "Please locate the User Guide.";

// Which window answers which command.
inline constexpr std::initializer_list<const char*> MainWindowCommands = {
    "FilePreferences", "FileAboutLockvane", "FileCloseWindow", "WindowMinimize",
    "WindowBringAlltoFront", "HelpVisitWebsite", "HelpReportBug", "HelpUserGuide"};
// The cipher choice and preferences windows.
inline constexpr std::initializer_list<const char*> DialogCommands = {
    "FileAboutLockvane", "FileCloseWindow", "WindowMinimize", "WindowBringAlltoFront",
    "HelpVisitWebsite", "HelpReportBug", "HelpUserGuide"};
inline constexpr std::initializer_list<const char*> AboutWindowCommands = {
    "FileCloseWindow", "WindowMinimize", "WindowBringAlltoFront", "HelpVisitWebsite", "HelpReportBug",
    "HelpUserGuide"};
inline constexpr std::initializer_list<const char*> KeySheetCommands = {
    "FileAboutLockvane", "WindowMinimize", "WindowBringAlltoFront", "HelpVisitWebsite", "HelpUserGuide"};

// Adds the handlers of `names` for `window` to `table`.
void install(CommandTable& table, QWidget* window, std::initializer_list<const char*> names);

// The mail address Report Bug opens, subject and body as written (spaces not encoded).
std::string bugReportUrl();
// The user guide installed with the program; null when there is none.
FolderItem installedUserGuide();
// User Guide: the stored guide, else the installed one while the stored path is the default,
// else the one the user locates (stored for next time).
void openUserGuide(QWidget* parent);

} // namespace lv::SharedCommands
