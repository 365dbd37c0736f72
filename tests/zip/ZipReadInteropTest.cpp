// Reading archives back: the library's own, stored and deflated, with Mac metadata in both
// stores; and archives made by other tools, which list as Python lists them and extract with the
// bytes unzip reads and the modes and dates Python reads.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/FolderItem.h"
#include "platform/MacMetadataStore.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"
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
    const char* package; // the Debian package setup.sh installs it from
    const char* command; // run in the folder holding "tree"; %s is the archive
};

const Tool tools[] = {
    {"InfoZip", "zip", "zip", "zip -qr %s tree"},
    {"InfoZipStreamed", "zip", "zip", "zip -qr -fd %s tree"},
    {"Bsdtar", "bsdtar", "libarchive-tools", "bsdtar --format zip -cf %s tree"},
    {"Python", "python3", "python3",
        "python3 -c \"import os, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for root, dirs, files in os.walk('tree'):\n"
        "        z.write(root)\n"
        "        for f in files: z.write(os.path.join(root, f))\" %s"},
    {"SevenZip", "7zz", "7zip", "7zz a -tzip -bso0 -bsp0 %s tree"},
};

class OtherTools : public ::testing::TestWithParam<Tool> {};

// Gives the fixture tree modes and dates to keep: permissions other than the defaults, a
// read-only folder with a file in it, set-id and sticky bits (never kept), and dates in summer
// and winter with odd seconds.
void giveModesAndDates(const fs::path& tree)
{
    const struct {
        const char* item;
        fs::perms mode;
        const char* date; // local time of the test's zone
    } items[] = {
        {"empty.txt", fs::perms(0600), "2016-01-15 10:20:31"},
        {"one.bin", fs::perms(0755), "2019-07-04 08:09:11"},
        {"text16383.txt", fs::perms(0444), "1999-12-31 23:59:59"},
        {"rand16384.bin", fs::perms(04755), "2008-06-21 12:00:00"},
        {"rand16385.bin", fs::perms(02640), "2021-11-02 07:30:45"},
        {"sub/big200000.bin", fs::perms(0604), "2011-03-20 01:59:58"},
        {"sub/Grüße aus Köln.txt", fs::perms(0640), "2014-08-09 16:17:18"},
        {"sub/deeper/text.txt", fs::perms(0400), "2003-05-06 07:08:09"},
        {"sub/emptydir", fs::perms(01700), "2017-02-03 04:05:06"},
        {"sub/deeper", fs::perms(0555), "2010-10-10 10:10:10"},
        {"sub", fs::perms(0750), "2005-07-20 20:00:02"},
        {".", fs::perms(0711), "2012-02-02 02:02:02"},
    };
    for (const auto& i : items) {
        fs::permissions(tree / i.item, i.mode);
        ASSERT_EQ(runCommand("touch -d " + shellQuote(i.date) + " " + shellQuote((tree / i.item).string())), 0)
            << i.item;
    }
}

// What Python's zipfile says of each entry: the system that made it, the Unix mode in its
// external attributes, the Unix time of its DOS date read in local time, and its stored name as
// the raw bytes; one entry a line.
const char* const PythonListing =
    "python3 -c \"import sys, time, zipfile\n"
    "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
    "    date = int(time.mktime(i.date_time + (0, 0, -1)))\n"
    "    name = i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')\n"
    "    sys.stdout.buffer.write(b'%d %o %d ' % (i.create_system, i.external_attr >> 16, date) + name + b'\\n')\" ";

std::string octal(unsigned mode)
{
    char text[16];
    std::snprintf(text, sizeof text, "0%o", mode);
    return text;
}

struct ListedEntry {
    int host = -1;
    unsigned mode = 0;
    std::int64_t date = 0;
    std::string name;
};

std::vector<ListedEntry> parseListing(const std::string& listing)
{
    std::vector<ListedEntry> entries;
    for (std::size_t at = 0, nl; (nl = listing.find('\n', at)) != std::string::npos; at = nl + 1) {
        ListedEntry e;
        int used = 0;
        const std::string line = listing.substr(at, nl - at);
        if (std::sscanf(line.c_str(), "%d %o %lld %n", &e.host, &e.mode, reinterpret_cast<long long*>(&e.date),
                &used) != 3)
            ADD_FAILURE() << "unreadable listing line: " << line;
        e.name = line.substr(std::size_t(used));
        entries.push_back(e);
    }
    return entries;
}

TEST_P(OtherTools, ArchiveExtractsAsPythonListsAndUnzipReadsIt)
{
    const Tool tool = GetParam();
    ASSERT_TRUE(toolInstalled(tool.probe, tool.package));
    ASSERT_TRUE(toolInstalled("python3", "python3"));
    ASSERT_TRUE(toolInstalled("unzip", "unzip"));
    // Zip dates are local time: a zone with summer time, whatever the machine's.
    const ScopedTimeZone zone("Europe/Berlin");
    TempDir dir;
    giveModesAndDates(makeFixtureTree(dir.path()));
    const std::string zip = (dir / "other.zip").string();
    char command[1024];
    std::snprintf(command, sizeof command, tool.command, shellQuote(zip).c_str());
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && " + command), 0);

    std::string listing;
    ASSERT_EQ(runCommand(PythonListing + shellQuote(zip), &listing), 0);
    const std::vector<ListedEntry> entries = parseListing(listing);
    {
        std::vector<std::string> names;
        for (const ListedEntry& e : entries)
            names.push_back(e.name);
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(fs::path(zip)), false)) << archive.ErrorMessage();
        EXPECT_EQ(archive.AllEntriesAsRawPaths(), names);
    }

    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    for (const ListedEntry& e : entries) {
        const bool folder = e.name.back() == '/';
        // Every tool here stores a Unix mode of the item's own kind; the checks below need it.
        ASSERT_EQ(e.host, 3) << e.name;
        ASSERT_EQ(e.mode & S_IFMT, folder ? unsigned(S_IFDIR) : unsigned(S_IFREG)) << e.name;
        struct stat st {};
        ASSERT_EQ(::lstat((dir / "out" / e.name).c_str(), &st), 0) << e.name;
        EXPECT_EQ(S_ISDIR(st.st_mode), folder) << e.name;
        // The permissions come back, set-id and sticky bits never; the date is the DOS date.
        EXPECT_EQ(octal(st.st_mode & 07777), octal(e.mode & 0777)) << e.name;
        EXPECT_EQ(st.st_mtime, e.date) << e.name;
        if (folder)
            continue;
        std::string bytes;
        ASSERT_EQ(runCommand("unzip -p " + shellQuote(zip) + " " + shellQuote(e.name), &bytes), 0) << e.name;
        EXPECT_EQ(readFile(dir / "out" / e.name), bytes) << e.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archives, OtherTools, ::testing::ValuesIn(tools), [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace lv::test
