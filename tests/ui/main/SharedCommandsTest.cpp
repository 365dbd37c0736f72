#include <QAction>
#include <QComboBox>

#include "app/MainMenu.h"
#include "ui/UiFixture.h"
#include "ui/dialogs/Dialogs.h"
#include "ui/dialogs/swKey.h"
#include "ui/dialogs/wPrefs.h"
#include "ui/main/SharedCommands.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::UiFixture;

class SharedCommandsTest : public UiFixture {};

TEST_F(SharedCommandsTest, WhichWindowAnswersWhat)
{
    const char* commands[] = {"FilePreferences", "FileAboutLockvane", "FileCloseWindow", "WindowMinimize",
                              "WindowBringAlltoFront", "HelpVisitWebsite", "HelpReportBug", "HelpUserGuide",
                              "FileAddItem", "FileRemoveItem", "EditCopy"};
    // wMain, then the key sheet; 1: answered.
    const std::map<std::string, std::pair<int, int>> table = {
        {"FilePreferences", {1, 0}}, {"FileAboutLockvane", {1, 1}},     {"FileCloseWindow", {1, 0}},
        {"WindowMinimize", {1, 1}},  {"WindowBringAlltoFront", {1, 1}}, {"HelpVisitWebsite", {1, 1}},
        {"HelpReportBug", {1, 0}},   {"HelpUserGuide", {1, 1}},         {"FileAddItem", {1, 0}},
        {"FileRemoveItem", {1, 0}},  {"EditCopy", {0, 0}},
    };
    window().Transition2();
    settle();
    swKey* sheet = swKey::current();
    ASSERT_NE(sheet, nullptr);
    for (const char* c : commands) {
        SCOPED_TRACE(c);
        EXPECT_EQ(window().answersCommand(c), table.at(c).first == 1);
        EXPECT_EQ(sheet->answersCommand(c), table.at(c).second == 1);
    }
    sheet->bCancel_Action();
}

TEST_F(SharedCommandsTest, ResultsAndAddresses)
{
    EXPECT_TRUE(window().doCommand("HelpReportBug"));
    EXPECT_FALSE(window().doCommand("HelpVisitWebsite"));
    EXPECT_FALSE(window().doCommand("WindowBringAlltoFront"));
    ASSERT_EQ(dialogs().urls.size(), 2u);
    EXPECT_EQ(dialogs().urls[0],
              "mailto:lockvane-bugs@tarnwick.example?subject=Lockvane Bug&body=Please include what you were doing at the "
              "time and any error messages and codes that appeared. Thanks for your help.");
    EXPECT_EQ(dialogs().urls[1], SharedCommands::WebsiteUrl);
}

TEST_F(SharedCommandsTest, UserGuide)
{
    const FolderItem installed = SharedCommands::installedUserGuide();
    ASSERT_FALSE(installed.isNull()) << "the build prints the guide";
    test::writeFile(dir / "guide.pdf", "%PDF-");
    struct Case {
        const char* name;
        std::string stored;
        std::optional<fs::path> chosen;
        std::string opened;       // "" when nothing opens
        std::string storedAfter;
        bool asks;
    };
    const std::string chosen = (dir / "guide.pdf").native();
    const Case cases[] = {
        {"default path, installed guide", "/UserGuide.pdf", {}, installed.shellPath(), "/UserGuide.pdf", false},
        {"stored guide", chosen, {}, chosen, chosen, false},
        {"stored guide gone, one located", (dir / "gone.pdf").native(), dir / "guide.pdf", chosen, chosen, true},
        {"stored guide gone, locating cancelled", (dir / "gone.pdf").native(), {}, "", (dir / "gone.pdf").native(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs().reset();
        prefs().UserGuidePath = c.stored;
        if (c.chosen) dialogs().chosenItem = FolderItem(*c.chosen);
        EXPECT_FALSE(window().doCommand("HelpUserGuide"));
        EXPECT_EQ(dialogs().documents, c.opened.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.opened});
        EXPECT_EQ(prefs().UserGuidePath, c.storedAfter);
        EXPECT_EQ(dialogs().prompts,
                  c.asks ? std::vector<std::string>{"Please locate the User Guide."} : std::vector<std::string>{});
    }
}

TEST_F(SharedCommandsTest, QuitClosesTheOtherWindowsBeforeTheSettingsAreWritten)
{
    dialogs::showPreferences();
    wPrefs* window = wPrefs::current();
    ASSERT_NE(window, nullptr);
    window->cbExtension->setEditText(".pdf");  // remembered in the list when the window closes
    ASSERT_TRUE(Lockvane::App()->requestQuit());
    settle();
    EXPECT_EQ(wPrefs::current(), nullptr);
    Preferences written;
    written.ReadPrefs();
    EXPECT_EQ(written.DefaultFileExtension, "pdf");
    EXPECT_EQ(written.Extensions.back(), ".pdf");
}

} // namespace
} // namespace lv
