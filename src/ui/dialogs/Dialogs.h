#pragma once
// Opening the program's single-instance windows from anywhere: the menu commands and the main
// window's menus reach them through these.

namespace lv::dialogs {

// The preferences window (made on first use, brought to the front).
void showPreferences();
// The about window with its credits.
void showAbout();
// The cipher choice window.
void showChangeEncryption();

} // namespace lv::dialogs
