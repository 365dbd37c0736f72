#include <gtest/gtest.h>

#include "app/Globals.h"
#include "app/Preferences.h"
#include "support/RecordingGui.h"

namespace lv {
namespace {

using test::RecordingGui;

TEST(Globals, AttentionRequestStandsOnceUntilStopped)
{
    RecordingGui gui;
    Globals globals;
    globals.setAttention(&gui);

    globals.NotifyStop();  // before any start: nothing
    EXPECT_FALSE(globals.NotificationFlag());
    globals.NotifyStart("");
    globals.NotifyStart("");  // already standing
    EXPECT_TRUE(globals.NotificationFlag());
    EXPECT_EQ(gui.eventsStartingWith("attention").size(), 1u);
    globals.NotifyStop();
    globals.NotifyStop();
    EXPECT_FALSE(globals.NotificationFlag());
    globals.NotifyStart("");  // a new request after the stop
    EXPECT_EQ(gui.eventsStartingWith("attention").size(), 2u);

    globals.CarbonBringAllWindowsToFront();
    EXPECT_TRUE(gui.hasEvent("front"));
}

TEST(Globals, PostGrowlTitlesAndDescriptions)
{
    struct Case {
        const char* name;
        const char* description;
    };
    const Case cases[] = {
        {"Encryption Started", ""},
        {"Decryption Started", ""},
        {"Encryption Finished", "Your encryption has finished successfully."},
        {"Decryption Finished", "Your decryption has finished successfully."},
        {"Encryption Error", "An error was encountered during the encryption process."},
        {"Decryption Error", "An error was encountered during the decryption process."},
    };
    RecordingGui gui;
    Globals globals;
    globals.PostGrowl("Encryption Finished");  // no notifier yet: nowhere
    globals.setNotifier(&gui);
    for (const Case& c : cases) globals.PostGrowl(c.name);

    std::vector<std::string> expected;
    for (const Case& c : cases)
        expected.push_back(std::string("notify: ") + c.name + "|" + c.name + "!|" + c.description);
    EXPECT_EQ(gui.eventsStartingWith("notify: "), expected);
}

TEST(Globals, StartsEmptyAndCreatesItsWorkersOnce)
{
    Globals globals;
    EXPECT_TRUE(globals.CurrentEncryptionType.empty());
    EXPECT_TRUE(globals.Items.empty());
    EXPECT_FALSE(globals.DoingEncrypt);
    EXPECT_FALSE(globals.enc);

    globals.createWorkers();
    ASSERT_TRUE(globals.enc && globals.arc && globals.Checker && globals.arch);
    LVEncryptor* enc = globals.enc.get();
    globals.createWorkers();
    EXPECT_EQ(globals.enc.get(), enc);
    EXPECT_EQ(&globals.arc->worker(), globals.arch.get());
}

TEST(Globals, JobSettingsAreCopiedFromThePreferences)
{
    Preferences prefs;
    prefs.Compress = false;
    prefs.GrowlEnabled = false;
    prefs.BounceDockIcon = true;
    const JobSettings settings = Globals::jobSettings(prefs);
    prefs.Compress = true;  // a later change does not reach the copy
    EXPECT_FALSE(settings.compress);
    EXPECT_FALSE(settings.notificationsOn);
    EXPECT_TRUE(settings.bounce);
}

} // namespace
} // namespace lv
