#pragma once
// The program as a user meets it, in one test: the application object started (settings read
// from the test's private folders, the workers, the main window shown and active), the
// destination folder in a fresh temporary folder, and the scripted user answering every box.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Globals.h"
#include "app/Lockvane.h"
#include "app/Preferences.h"
#include "qtsupport/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "ui/main/wMain.h"

namespace lv::test {

class UiFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static ScriptedDialogs& dialogs() { return ScriptedDialogs::installed(); }
    static Globals& globals() { return Globals::shared(); }
    static Preferences& prefs() { return Preferences::shared(); }
    wMain& window() { return *m_window; }

    // Waits (running the event loop) until `done` holds; false after `ms`.
    static bool waitFor(const std::function<bool()>& done, int ms = 30000);
    // Lets the event loop run until no transition animates and queued work has run.
    static void settle();

    // Drops `items` on `target` as a file manager does (a link drag with `link`).
    static void drop(QWidget* target, const std::vector<std::filesystem::path>& items, bool link = false);
    // A file that carries an encrypted file's header of format `version` (and no real body).
    static void writeHeaderOnlyFile(const std::filesystem::path& file, int version);
    // Saves a picture of `widget` as "<build>/screenshots/<name>.png".
    static void screenshot(QWidget* widget, const std::string& name);

    TempDir dir;
    std::filesystem::path destination;

private:
    std::unique_ptr<Lockvane> m_app;
    wMain* m_window = nullptr;
};

} // namespace lv::test
