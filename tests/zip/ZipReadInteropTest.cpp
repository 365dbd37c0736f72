// Reading archives back: the library's own, stored and deflated, with Mac metadata in both
// stores; and archives made by other tools, which list as Python lists them and extract as
// unzip does.

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/FolderItem.h"
#include "platform/MacMetadataStore.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

// Adds the Mac items of the round trip to the writer's fixture tree: a file with only a type and
// creator, one with a resource fork small enough for an extended attribute and one too large for
// any (100 KB), and fixed modification dates everywhere.
void addMacItems(const fs::path& tree)
{
    FinderInfo text;
    text.setType("TEXT");
    text.setCreator("ttxt");
    writeFile(tree / "typed.txt", textBytes(300));
    ASSERT_TRUE(FolderItem(tree / "typed.txt").setFinderInfo(text));

    FinderInfo app;
    app.setType("APPL");
    app.setCreator("LVzp");
    app.setFinderFlags(0x2000);
    writeFile(tree / "small fork.bin", randomBytes(700, 11));
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(tree / "small fork.bin", randomBytes(100, 12)));
    ASSERT_TRUE(FolderItem(tree / "small fork.bin").setFinderInfo(app));
    writeFile(tree / "sub" / "large fork.bin", randomBytes(20000, 13));
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(tree / "sub" / "large fork.bin", randomBytes(100 * 1024, 14)));

    std::int64_t date = 1434000000; // 2015-06-11
    for (auto it = fs::recursive_directory_iterator(tree); it != fs::recursive_directory_iterator(); ++it)
        FolderItem(it->path()).setModificationDate(date += 2);
}

struct RoundTripParam {
    bool store;
    const char* base; // "" for the working file system
};

class ReadRoundTrip : public ::testing::TestWithParam<RoundTripParam> {};

TEST_P(ReadRoundTrip, FixtureTreeComesBackWithItsMacMetadata)
{
    const RoundTripParam p = GetParam();
    if (*p.base && !fs::is_directory(p.base))
        GTEST_SKIP() << p.base << " is not available";
    TempDir dir{fs::path(p.base)};
    const fs::path src = dir / "src";
    const fs::path tree = makeFixtureTree(src);
    addMacItems(tree);
    ASSERT_EQ(run(lvzipPath() + (p.store ? " add --store " : " add ") + shellQuote((dir / "a.zip").string()) + " " +
                  shellQuote(tree.string())),
        0);

    const fs::path out = dir / "out";
    ASSERT_EQ(extractAll(dir / "a.zip", out), "");

    // The same items (companions included, so the same stores), bytes, dates and metadata.
    EXPECT_EQ(listTree(out / "tree"), listTree(tree));
    EXPECT_TRUE(fs::is_directory(out / "tree" / "sub" / "emptydir"));
    for (auto it = fs::recursive_directory_iterator(tree); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path rel = fs::relative(it->path(), tree);
        const FolderItem a(it->path()), b(out / "tree" / rel);
        // A companion is checked through its partner's metadata.
        if (a.isFile() && a.name().rfind("._", 0) != 0) {
            EXPECT_EQ(readFile(b.path()), readFile(a.path())) << rel;
            EXPECT_EQ(b.modificationDate(), a.modificationDate()) << rel;
            EXPECT_EQ(b.finderInfo(), a.finderInfo()) << rel;
            // A file without Finder information gets none, not a zero value.
            EXPECT_EQ(userXattr(b.path(), "com.apple.FinderInfo").has_value(),
                userXattr(a.path(), "com.apple.FinderInfo").has_value())
                << rel;
            EXPECT_EQ(MacMetadataStore::readResourceFork(b.path()), MacMetadataStore::readResourceFork(a.path()))
                << rel;
        }
    }
    EXPECT_EQ(FolderItem(out / "tree" / "sub" / "emptydir").modificationDate(),
        FolderItem(tree / "sub" / "emptydir").modificationDate());
    EXPECT_EQ(FolderItem(out / "tree" / "typed.txt").macType(), "TEXT");
    // Both stores are used: the small fork in an attribute, the large one in a companion.
    EXPECT_TRUE(userXattr(out / "tree" / "small fork.bin", "com.apple.ResourceFork"));
    EXPECT_FALSE(userXattr(out / "tree" / "sub" / "large fork.bin", "com.apple.ResourceFork"));
    EXPECT_TRUE(fs::is_regular_file(out / "tree" / "sub" / "._large fork.bin"));
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, ReadRoundTrip,
    ::testing::Values(RoundTripParam{false, ""}, RoundTripParam{true, ""}, RoundTripParam{false, "/dev/shm"},
        RoundTripParam{true, "/dev/shm"}),
    [](const auto& info) {
        return std::string(info.param.store ? "Stored" : "Deflated") + (*info.param.base ? "OnShm" : "OnWorkingFs");
    });

struct Tool {
    const char* name;
    const char* probe; // a program that must exist
    const char* command; // run in the folder holding "tree"; %s is the archive
};

const Tool tools[] = {
    {"InfoZip", "zip", "zip -qr %s tree"},
    {"InfoZipStreamed", "zip", "zip -qr -fd %s tree"},
    {"Bsdtar", "bsdtar", "bsdtar --format zip -cf %s tree"},
    {"Python", "python3",
        "python3 -c \"import os, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for root, dirs, files in os.walk('tree'):\n"
        "        z.write(root)\n"
        "        for f in files: z.write(os.path.join(root, f))\" %s"},
    {"SevenZip", "7zz", "7zz a -tzip -bso0 -bsp0 %s tree"},
};

class OtherTools : public ::testing::TestWithParam<Tool> {};

// Stored names as Python reads them: the raw bytes, one per line.
const char* const PythonListing =
    "python3 -c \"import sys, zipfile\n"
    "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
    "    sys.stdout.buffer.write(i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437') + b'\\n')\" ";

TEST_P(OtherTools, ArchiveListsAsPythonAndExtractsAsUnzip)
{
    const Tool tool = GetParam();
    if (runCommand(std::string("command -v ") + tool.probe + " >/dev/null") != 0)
        GTEST_SKIP() << tool.probe << " is not installed";
    TempDir dir;
    makeFixtureTree(dir.path());
    const std::string zip = (dir / "other.zip").string();
    char command[1024];
    std::snprintf(command, sizeof command, tool.command, shellQuote(zip).c_str());
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && " + command), 0);

    std::string listing;
    ASSERT_EQ(runCommand(PythonListing + shellQuote(zip), &listing), 0);
    std::vector<std::string> expected;
    for (std::size_t at = 0, nl; (nl = listing.find('\n', at)) != std::string::npos; at = nl + 1)
        expected.push_back(listing.substr(at, nl - at));
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(fs::path(zip)), false)) << archive.ErrorMessage();
        EXPECT_EQ(archive.AllEntriesAsRawPaths(), expected);
    }

    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    for (const std::string& name : expected) {
        if (name.back() == '/') {
            EXPECT_TRUE(fs::is_directory(dir / "out" / name)) << name;
            continue;
        }
        std::string bytes;
        ASSERT_EQ(runCommand("unzip -p " + shellQuote(zip) + " " + shellQuote(name), &bytes), 0) << name;
        EXPECT_EQ(readFile(dir / "out" / name), bytes) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, OtherTools, ::testing::ValuesIn(tools), [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lv::test
