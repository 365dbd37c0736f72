#pragma once
// What the dialog tests share: a fixture that gives every test known settings (defaults, the 13
// default extensions, a destination folder of its own) and puts the process's settings, the
// cipher of the next job and the scripted user back afterwards, with every dialog closed.

#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include <optional>
#include <string>

#include "app/Preferences.h"
#include "support/TempDir.h"

class QWidget;

namespace lv::test {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TempDir m_dir;

private:
    std::optional<Preferences> m_savedPrefs;
    std::string m_savedCipher;
};

// Closes `window` (when open) and lets its deferred deletion happen.
void closeAndFlush(QWidget* window);
// Lets pending deferred deletions happen.
void flushDeletions();
// Shows `window` and waits until it is the active window; false when it never became active.
bool showActive(QWidget* window);

// Writes a screenshot under the build folder's screenshots/ as <name>.png.
void saveScreenshot(const QImage& image, const QString& name);

} // namespace lv::test
