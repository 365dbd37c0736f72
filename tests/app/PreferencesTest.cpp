#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/Preferences.h"
#include "platform/SpecialFolders.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string prefsText(const TempDir& dir) { return readFile(dir / Preferences::FileName); }

std::size_t lineCount(const std::string& text) { return std::size_t(std::count(text.begin(), text.end(), '\n')); }

Preferences readFrom(const TempDir& dir)
{
    Preferences prefs;
    prefs.ReadPrefs(FolderItem(dir.path()));
    return prefs;
}

TEST(Preferences, DefaultFileIsByteIdenticalToGolden)
{
    TempDir dir;
    Preferences prefs = readFrom(dir);  // no file yet: defaults, default extensions, the Desktop
    ASSERT_TRUE(prefs.WritePrefs(FolderItem(dir.path())));

    std::string golden = readFile(fs::path(LOCKVANE_SOURCE_DIR) / "tests/fixtures/app/default.LV_PREFS");
    const std::string marker = "@DESKTOP@";
    golden.replace(golden.find(marker), marker.size(), SpecialFolders::desktop().shellPath());
    const std::string written = prefsText(dir);
    EXPECT_EQ(written, golden);
    EXPECT_EQ(lineCount(written), 29u);
    // Written under a temporary name and renamed: nothing else is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(Preferences, EverySettingSurvivesARoundTrip)
{
    TempDir dir;
    fs::create_directories(dir / "Target Ordner ü");
    Preferences out;
    out.DefaultEncryptionType = "AES";
    out.Compress = false;
    out.ConfirmKey = false;
    out.DecryptReminder = false;
    out.ShowPasswordStrength = true;
    out.BounceDockIcon = false;
    out.GrowlEnabled = false;
    out.GrowlRegistered = true;
    out.DefaultFileName = "Geheim Ünïcode";
    out.DefaultFileExtension = "lvx";
    out.Extensions = {".a", ".bb", "", ".ü"};
    out.DestinationFolder = FolderItem(dir / "Target Ordner ü");
    out.UserGuidePath = "/opt/guide/User Guide.pdf";
    out.pLeft = -1;
    out.pTop = 2147483647;
    ASSERT_TRUE(out.WritePrefs(FolderItem(dir.path())));

    const Preferences in = readFrom(dir);
    EXPECT_EQ(in.DefaultEncryptionType, "AES");
    EXPECT_FALSE(in.Compress);
    EXPECT_FALSE(in.ConfirmKey);
    EXPECT_FALSE(in.DecryptReminder);
    EXPECT_TRUE(in.ShowPasswordStrength);
    EXPECT_FALSE(in.BounceDockIcon);
    EXPECT_FALSE(in.GrowlEnabled);
    EXPECT_TRUE(in.GrowlRegistered);
    EXPECT_EQ(in.DefaultFileName, out.DefaultFileName);
    EXPECT_EQ(in.DefaultFileExtension, "lvx");
    EXPECT_EQ(in.Extensions, out.Extensions);
    EXPECT_EQ(in.DestinationFolder.path(), out.DestinationFolder.path());
    EXPECT_EQ(in.UserGuidePath, out.UserGuidePath);
    EXPECT_EQ(in.pLeft, -1);
    EXPECT_EQ(in.pTop, 2147483647);
}

TEST(Preferences, CipherCodes)
{
    struct Case {
        std::string name;
        const char* line;  // nullptr: no line written
    };
    for (const Case& c : {Case{"Blowfish", "<DefaultEncryptionType>0</DefaultEncryptionType>\n"},
                          Case{"Serpent", "<DefaultEncryptionType>1</DefaultEncryptionType>\n"},
                          Case{"AES", "<DefaultEncryptionType>2</DefaultEncryptionType>\n"},
                          Case{"Twofish", nullptr}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Preferences out = readFrom(dir);
        out.DefaultEncryptionType = c.name;
        ASSERT_TRUE(out.WritePrefs(FolderItem(dir.path())));
        const std::string text = prefsText(dir);
        if (c.line) {
            EXPECT_NE(text.find(c.line), std::string::npos);
            EXPECT_EQ(lineCount(text), 29u);
            EXPECT_EQ(readFrom(dir).DefaultEncryptionType, c.name);
        } else {
            EXPECT_EQ(text.find("DefaultEncryptionType"), std::string::npos);
            EXPECT_EQ(lineCount(text), 28u);
            EXPECT_EQ(readFrom(dir).DefaultEncryptionType, "Blowfish");
            EXPECT_EQ(readFrom(dir).Extensions.size(), 13u);  // the block still reads whole
        }
    }

    // A code the program does not know leaves the default.
    Preferences prefs;
    prefs.readText("<DefaultEncryptionType>7</DefaultEncryptionType>\n");
    EXPECT_EQ(prefs.DefaultEncryptionType, "Blowfish");
}

TEST(Preferences, ExtensionBlock)
{
    {
        SCOPED_TRACE("empty list");
        TempDir dir;
        Preferences out = readFrom(dir);
        out.Extensions.clear();
        ASSERT_TRUE(out.WritePrefs(FolderItem(dir.path())));
        const std::string text = prefsText(dir);
        EXPECT_NE(text.find("<ExtensionNumber>-1</ExtensionNumber>\n"), std::string::npos);
        EXPECT_EQ(text.find("<Extension>"), std::string::npos);
        EXPECT_TRUE(readFrom(dir).Extensions.empty());
    }
    {
        SCOPED_TRACE("no ExtensionNumber line");
        Preferences prefs;
        prefs.readText("<Compress>False</Compress>\n<Extension>.x</Extension>\n<pTop>5</pTop>\n");
        EXPECT_TRUE(prefs.Extensions.empty());
        EXPECT_FALSE(prefs.Compress);
        EXPECT_EQ(prefs.pTop, 5);
    }
    {
        SCOPED_TRACE("block cut short, CRLF lines");
        Preferences prefs;
        prefs.readText("<ExtensionNumber>4</ExtensionNumber>\r\n<Extension>.a</Extension>\r\n<Extension>.b</Extension>");
        EXPECT_EQ(prefs.Extensions, (std::vector<std::string>{".a", ".b"}));
    }
}

TEST(Preferences, LineBreaksInValuesNeverShiftTheFile)
{
    TempDir dir;
    Preferences out = readFrom(dir);
    out.DefaultFileName = "two\nlines";
    out.UserGuidePath = "/a\r\n/b";
    out.Extensions = {".x\n<Extension>.evil</Extension>", ".y"};
    ASSERT_TRUE(out.WritePrefs(FolderItem(dir.path())));
    EXPECT_EQ(lineCount(prefsText(dir)), 18u);

    const Preferences in = readFrom(dir);
    EXPECT_EQ(in.DefaultFileName, "twolines");
    EXPECT_EQ(in.UserGuidePath, "/a/b");
    EXPECT_EQ(in.Extensions.size(), 2u);
    EXPECT_EQ(in.Extensions[1], ".y");
}

TEST(Preferences, DestinationFolderFallsBackToTheDesktop)
{
    const std::string desktop = SpecialFolders::desktop().shellPath();
    TempDir dir;
    fs::create_directories(dir / "Lockvane");
    writeFile(dir / "plain file", "x");
    for (const fs::path& dest : {dir / "gone", dir / "Lockvane", dir / "plain file"}) {
        SCOPED_TRACE(dest.string());
        writeFile(dir / Preferences::FileName, "<DestinationFolder>" + dest.string() + "</DestinationFolder>\n");
        EXPECT_EQ(readFrom(dir).DestinationFolder.shellPath(), desktop);
    }
    // A link to a folder is a usable destination.
    fs::create_directory_symlink(dir.path(), dir / "link");
    writeFile(dir / Preferences::FileName, "<DestinationFolder>" + (dir / "link").string() + "</DestinationFolder>\n");
    EXPECT_EQ(readFrom(dir).DestinationFolder.path(), dir / "link");
}

TEST(Preferences, ALinkedSettingsFileIsReadAndKept)
{
    TempDir dir;
    fs::create_directories(dir / "prefs");
    fs::create_directories(dir / "dotfiles");
    writeFile(dir / "dotfiles" / "lv", "<pTop>44</pTop>\n");
    fs::create_symlink(dir / "dotfiles" / "lv", dir / "prefs" / Preferences::FileName);

    Preferences prefs;
    prefs.ReadPrefs(FolderItem(dir / "prefs"));
    EXPECT_EQ(prefs.pTop, 44);
    prefs.pTop = 45;
    ASSERT_TRUE(prefs.WritePrefs(FolderItem(dir / "prefs")));
    EXPECT_TRUE(fs::is_symlink(dir / "prefs" / Preferences::FileName));
    EXPECT_EQ(readFile(dir / "dotfiles" / "lv"), prefs.fileText());
}

TEST(Preferences, MissingOrEmptyValuesKeepTheDefaults)
{
    TempDir dir;
    const Preferences none = readFrom(dir);  // no file at all
    EXPECT_EQ(none.Extensions.size(), 13u);
    EXPECT_EQ(none.DestinationFolder.shellPath(), SpecialFolders::desktop().shellPath());

    Preferences prefs;
    prefs.readText("<DefaultFileName></DefaultFileName>\n<pLeft>abc</pLeft>\n<Compress></Compress>\n");
    EXPECT_EQ(prefs.DefaultFileName, "EncryptedFile");
    EXPECT_EQ(prefs.pLeft, -1);
    EXPECT_TRUE(prefs.Compress);
}

TEST(Preferences, ParseLine)
{
    struct Case {
        const char* text;
        const char* tag;
        const char* expected;
    };
    for (const Case& c : {Case{"<pTop>44</pTop>", "pTop", "44"},
                          Case{"<pLeft>44</pLeft>", "pTop", ""},
                          Case{"</pTop>44<pTop>", "pTop", ""},
                          Case{"<pTop>44", "pTop", ""},
                          Case{"<pTop></pTop>", "pTop", ""},
                          Case{"x<a>1</a><a>2</a>", "a", "1"},
                          Case{"<key>CFBundleGetInfoString</key><string>1.0</string>", "string", "1.0"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Preferences::ParseLine(c.text, c.tag), c.expected);
    }
}

TEST(Preferences, FailedWriteKeepsTheOldFile)
{
    TempDir dir;
    writeFile(dir / "not a folder", "x");
    EXPECT_FALSE(Preferences().WritePrefs(FolderItem(dir / "not a folder")));
    EXPECT_FALSE(Preferences().WritePrefs(FolderItem(dir / "missing")));

    // Replacing an existing file leaves exactly the new one.
    writeFile(dir / Preferences::FileName, "old");
    Preferences prefs = readFrom(dir);
    ASSERT_TRUE(prefs.WritePrefs(FolderItem(dir.path())));
    EXPECT_EQ(prefsText(dir), prefs.fileText());
}

} // namespace
} // namespace lv
