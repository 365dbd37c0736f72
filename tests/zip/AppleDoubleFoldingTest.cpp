// AppleDouble companions of archives made on macOS: folded into their partner entries when the
// directory is read, and restored onto the partner as its resource fork and Finder information.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/DateTime.h"
#include "platform/FolderItem.h"
#include "platform/MacMetadataStore.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"

namespace lv::test {
namespace {

std::vector<std::string> entryNames(const std::filesystem::path& archivePath, bool* ditto = nullptr)
{
    ZipArchive archive;
    EXPECT_TRUE(archive.Open(FolderItem(archivePath), false)) << archive.ErrorMessage();
    if (ditto)
        *ditto = archive.UsesAppleDittoFormat();
    return archive.AllEntriesAsRawPaths();
}

TEST(AppleDouble, MacOSArchiveUtilityArchiveExtractsOneFile)
{
    const std::filesystem::path fixture =
        std::string(LOCKVANE_SOURCE_DIR) + "/tests/fixtures/zip/macos-appledouble.zip";
    bool ditto = false;
    EXPECT_EQ(entryNames(fixture, &ditto), std::vector<std::string>{"file3"});
    EXPECT_TRUE(ditto);

    TempDir dir;
    ASSERT_EQ(extractAll(fixture, dir / "out"), "");
    EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{"file3"});
    std::string expected;
    ASSERT_EQ(runCommand("unzip -p " + shellQuote(fixture.string()) + " file3", &expected), 0);
    EXPECT_EQ(readFile(dir / "out" / "file3"), expected);
}

// Made by Python as ditto lays it out: Finder information and a resource fork per item, every
// member with exactly one Info-ZIP Unix type 1 block.
TEST(AppleDouble, CompanionsRestoreForkTypeCreatorAndDateAndLeaveNoFile)
{
    TempDir dir;
    const std::filesystem::path zip = dir / "ditto.zip";
    ASSERT_EQ(runCommand("python3 " +
                  shellQuote(std::string(LOCKVANE_SOURCE_DIR) + "/tests/fixtures/zip/make_appledouble_zip.py") + " " +
                  shellQuote(zip.string())),
        0);
    bool ditto = false;
    EXPECT_EQ(entryNames(zip, &ditto), (std::vector<std::string>{"notes.txt", "dir/", "dir/tool.bin"}));
    EXPECT_TRUE(ditto);

    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    const std::filesystem::path out = dir / "out";
    EXPECT_EQ(listTree(out), (std::vector<std::string>{"dir/", "dir/tool.bin", "notes.txt"}));
    EXPECT_EQ(readFile(out / "notes.txt"), "plain data fork\n");

    std::string fork(300, '\0');
    for (std::size_t i = 0; i < fork.size(); ++i)
        fork[i] = char((i * 7) & 0xFF);
    EXPECT_EQ(MacMetadataStore::readResourceFork(out / "notes.txt"), fork);
    const FolderItem notes(out / "notes.txt");
    EXPECT_EQ(notes.macType(), "TEXT");
    EXPECT_EQ(notes.macCreator(), "ttxt");
    EXPECT_EQ(notes.modificationDate(), std::optional<std::int64_t>(1262304000));

    const FolderItem tool(out / "dir" / "tool.bin");
    EXPECT_EQ(MacMetadataStore::readResourceFork(tool.path()), std::optional<std::string>("RSRC!"));
    EXPECT_EQ(tool.macType(), "APPL");
    EXPECT_EQ(tool.macCreator(), "TOOL");
}

struct FoldingCase {
    const char* what;
    std::vector<RawEntry> members;
    std::vector<std::string> entries; // what the archive lists afterwards
    bool ditto;
};

TEST(AppleDouble, FoldingPairsOnlyQualifyingCompanions)
{
    const std::string ux = unixType1Extra(1262304000, 1262304000);
    const std::string ad = appleDouble("TEXT", "ttxt", 0, "fork");
    auto file = [&](const char* name) { return RawEntry(name, "data").withExtra(ux); };
    auto companion = [&](const char* name) { return RawEntry(name, ad).withExtra(ux); };
    auto folder = [&](const char* name) { return RawEntry(name).withExtra(ux); };

    const std::vector<FoldingCase> cases = {
        {"__MACOSX tree", {file("f"), folder("__MACOSX/"), companion("__MACOSX/._f")}, {"f"}, true},
        {"companion with another extra field",
            {file("f"), folder("__MACOSX/"), RawEntry("__MACOSX/._f", ad).withExtra(ux + ux)}, {"f", "__MACOSX/._f"},
            false},
        {"beside its partner", {folder("d/"), file("d/f"), companion("d/._f"), companion("._d")}, {"d/", "d/f"}, true},
        {"no partner", {folder("__MACOSX/dir/"), companion("__MACOSX/dir/._f")}, {"__MACOSX/dir/._f"}, false},
        {"lower-case prefix", {file("dir/f"), companion("__macosx/dir/._f"), folder("__macosx/dir/")},
            {"dir/f", "__macosx/dir/"}, true},
        {"two companions: the later one pairs", {file("f"), companion("._f"), companion("__MACOSX/._f")}, {"f", "._f"},
            true},
        // A companion of a companion is never nested, however the names are chained.
        {"chain of companions", {file("f"), companion("._f"), companion("._._f"), companion("._._._f")},
            {"f", "._._f", "._._._f"}, true},
        // A removed __MACOSX folder leaves no name a companion could pair with.
        {"companion of a removed tree folder", {folder("__MACOSX/d/"), companion("__MACOSX/__MACOSX/._d")},
            {"__MACOSX/__MACOSX/._d"}, false},
    };
    TempDir dir;
    for (const FoldingCase& c : cases) {
        const std::filesystem::path zip = dir / "t.zip";
        writeFile(zip, layoutZip(c.members).bytes());
        bool ditto = false;
        EXPECT_EQ(entryNames(zip, &ditto), c.entries) << c.what;
        EXPECT_EQ(ditto, c.ditto) << c.what;
        std::filesystem::remove_all(dir / "out");
        EXPECT_EQ(extractAll(zip, dir / "out"), "") << c.what;
    }
}

// The companion's Unix time becomes the partner's date through the zone offset in force at that
// date (not today's); an access time of 0 means the companion has no date, and the entry's DOS
// date stays.
TEST(AppleDouble, CompanionDateUsesTheOffsetOfItsOwnDay)
{
    const char* const oldZone = std::getenv("TZ");
    const std::optional<std::string> saved = oldZone ? std::optional<std::string>(oldZone) : std::nullopt;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    // A day whose offset differs from today's, whatever the season now.
    const std::int32_t summer = 1436000000, winter = 1420000000; // 2015-07-04, 2014-12-31
    const std::int32_t day = utcOffsetAt(std::time(nullptr)) == utcOffsetAt(summer) ? winter : summer;
    const std::optional<std::int64_t> dosDate = fromDosDateTime(DosDateTime{0x4A21, 0x6000});

    struct Case {
        std::int32_t accessTime;
        std::optional<std::int64_t> date;
    };
    for (const Case& c : {Case{day, day}, Case{0, dosDate}}) {
        TempDir dir;
        const std::string ux = unixType1Extra(c.accessTime, day);
        writeFile(dir / "t.zip",
            layoutZip({RawEntry("f", "data").withExtra(ux),
                          RawEntry("._f", appleDouble("TEXT", "ttxt", 0, "fork")).withExtra(ux)})
                .bytes());
        EXPECT_EQ(extractAll(dir / "t.zip", dir / "out"), "");
        EXPECT_EQ(FolderItem(dir / "out" / "f").modificationDate(), c.date) << c.accessTime;
    }
    if (saved)
        setenv("TZ", saved->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(AppleDouble, RefusedCompanionFailsItsPartner)
{
    const std::string ux = unixType1Extra(1262304000, 1262304000);
    std::string swapped = appleDouble("TEXT", "ttxt", 0, "fork");
    swapped[29] = 2; // first descriptor: resource fork instead of Finder information
    const struct {
        RawEntry companion;
        const char* message;
    } cases[] = {
        {RawEntry("._f", swapped).withExtra(ux), "Invalid or unsupported AppleDouble header"},
        // Too short, whether its size is in the local header or in a data descriptor.
        {RawEntry("._f", swapped.substr(0, 60)).withExtra(ux), "The AppleDouble header is too short (<82 bytes)"},
        {RawEntry("._f", swapped.substr(0, 60)).withExtra(ux).withFlags(8),
            "The AppleDouble header is too short (<82 bytes)"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir / "t.zip", layoutZip({RawEntry("f", "data").withExtra(ux), c.companion}).bytes());
        EXPECT_EQ(extractAll(dir / "t.zip", dir / "out"), std::string("Extraction of \"f\" failed: ") + c.message);
        EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{});
    }
}

// The companion's header fields drive no read past its own data and no allocation.
TEST(AppleDouble, CompanionFieldsAreCheckedAgainstItsData)
{
    TempDir dir;
    const std::string ux = unixType1Extra(1262304000, 1262304000);
    std::string farFork = appleDouble("TEXT", "ttxt", 0, "fork");
    setBytes(farFork, 42, std::string("\x7F\xFF\xFF\x00", 4)); // fork offset near 2^31
    // The companion is followed by another member whose bytes a read past it would meet.
    writeFile(dir / "t.zip",
        layoutZip({RawEntry("next", appleDouble("XXXX", "YYYY", 0, "zz")), RawEntry("far", "data").withExtra(ux),
                      RawEntry("._far", farFork).withExtra(ux), RawEntry("after", "after")})
            .bytes());
    EXPECT_EQ(extractAll(dir / "t.zip", dir / "out"), "Extraction of \"far\" failed: Data appears to be corrupted");
    EXPECT_EQ(listTree(dir / "out"), (std::vector<std::string>{"next"}));
}

} // namespace
} // namespace lv::test
