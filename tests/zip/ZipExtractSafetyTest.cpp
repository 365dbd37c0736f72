// An archive may come from someone else: nothing an entry says may create or change anything
// outside the destination folder, follow a link, or destroy a file that was there before.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/DiskSpace.h"
#include "platform/FolderItem.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "zip/ExtractionJob.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* NoDestination = "No destination given";

struct TraversalCase {
    std::string name;
    const char* result; // extractAll's message suffix, or "" for success
    const char* landsAt; // path below the destination folder, when extracted
};

// The destination folder is "top/dest": whatever climbs out of it would land in "top".
TEST(ZipExtractSafety, NamesNeverLeadOutOfTheDestination)
{
    const std::vector<TraversalCase> cases = {
        {"../x", NoDestination, nullptr},
        {"a/../../x", NoDestination, nullptr},
        {"a/b/../../../x", NoDestination, nullptr},
        {"../dest2/x", NoDestination, nullptr},
        {"/../x", NoDestination, nullptr},
        {"/a/../../x", NoDestination, nullptr},
        // A leading "/" is dropped: the name extracts below the destination.
        {"/tmp/lockvane-absolute-x", "", "tmp/lockvane-absolute-x"},
        {"//x", "", "x"},
        {std::string("x\0y", 3), NoDestination, nullptr},
        {"a/../b", "", "b"},
        {"a/./c", "", "a/c"},
        {"..x/y", "", "..x/y"},
    };
    for (const TraversalCase& c : cases) {
        TempDir dir;
        const fs::path top = dir / "top";
        fs::create_directories(top / "dest");
        writeFile(dir / "t.zip", layoutZip({RawEntry(c.name, "payload")}).bytes());
        const std::string message = extractAll(dir / "t.zip", top / "dest");
        const std::string shown = c.name.substr(0, c.name.find('\0'));
        const std::string expected = *c.result ? "Extraction of \"" + c.name + "\" failed: " + c.result : "";
        EXPECT_EQ(message, expected) << shown;
        // Nothing outside the destination; inside it at most the expected file (and its folders).
        EXPECT_EQ(listTree(top).front(), "dest/") << shown;
        for (const std::string& p : listTree(top))
            EXPECT_EQ(p.rfind("dest/", 0), 0u) << shown << ": " << p;
        // A refused name leaves nothing behind, not even the folders before its "..".
        if (c.landsAt)
            EXPECT_EQ(readFile(top / "dest" / c.landsAt), "payload") << shown;
        else
            EXPECT_EQ(listTree(top), std::vector<std::string>{"dest/"}) << shown;
        EXPECT_FALSE(fs::exists("/tmp/lockvane-absolute-x"));
    }
}

TEST(ZipExtractSafety, LinksAreNeverFollowedOrWrittenThrough)
{
    TempDir dir;
    const fs::path outside = dir / "outside";
    writeFile(outside / "victim", "precious");
    const fs::path dest = dir / "dest";
    fs::create_directories(dest);
    fs::create_symlink(outside / "victim", dest / "x");
    fs::create_symlink(outside, dest / "a");

    // A link planted at the destination is replaced by the entry's file, itself.
    writeFile(dir / "one.zip", layoutZip({RawEntry("x", "evil")}).bytes());
    EXPECT_EQ(extractAll(dir / "one.zip", dest), "");
    EXPECT_FALSE(fs::is_symlink(dest / "x"));
    EXPECT_EQ(readFile(dest / "x"), "evil");
    EXPECT_EQ(readFile(outside / "victim"), "precious");

    // A link on the way gives the entry no destination.
    writeFile(dir / "two.zip", layoutZip({RawEntry("a/victim", "evil"), RawEntry("a/new", "evil")}).bytes());
    EXPECT_EQ(extractAll(dir / "two.zip", dest), std::string("Extraction of \"a/victim\" failed: ") + NoDestination);
    EXPECT_EQ(readFile(outside / "victim"), "precious");
    EXPECT_EQ(listTree(outside), std::vector<std::string>{"victim"});

    // A folder entry at a link neither follows nor replaces it.
    writeFile(dir / "three.zip", layoutZip({RawEntry("a/")}).bytes());
    EXPECT_EQ(extractAll(dir / "three.zip", dest),
        "Extraction of \"a/\" failed: Archive entry is a folder but a file exists at the destination already. "
        "Won't replace that.");
    EXPECT_TRUE(fs::is_symlink(dest / "a"));
}

TEST(ZipExtractSafety, SpecialFileAtTheDestinationIsRefused)
{
    TempDir dir;
    fs::create_directories(dir / "dest");
    ASSERT_EQ(::mkfifo((dir / "dest" / "x").c_str(), 0600), 0);
    writeFile(dir / "t.zip", layoutZip({RawEntry("x", "data")}).bytes());
    EXPECT_EQ(extractAll(dir / "t.zip", dir / "dest"),
        "Extraction of \"x\" failed: Archive entry is a file but a special file exists at the destination "
        "already. Won't replace that.");
    EXPECT_EQ(fs::status(dir / "dest" / "x").type(), fs::file_type::fifo);
}

TEST(ZipExtractSafety, FailedExtractionRemovesOnlyWhatItCreated)
{
    TempDir dir;
    const fs::path dest = dir / "dest";
    writeFile(dest / "x", "old contents");
    RawZip z = layoutZip({RawEntry("x", "new contents"), RawEntry("y", "more"), RawEntry("z/")});
    std::string bytes = z.bytes();
    bytes[30 + 1 + 3] ^= 0x20; // "new contents" no longer matches its CRC
    writeFile(dir / "t.zip", bytes);
    EXPECT_EQ(extractAll(dir / "t.zip", dest), "Extraction of \"x\" failed: Data appears to be corrupted");
    EXPECT_EQ(readFile(dest / "x"), "old contents");
    EXPECT_EQ(listTree(dest), std::vector<std::string>{"x"});

    // An existing file is replaced once the entry's data are complete.
    writeFile(dir / "good.zip", layoutZip({RawEntry("x", "new contents")}).bytes());
    EXPECT_EQ(extractAll(dir / "good.zip", dest), "");
    EXPECT_EQ(readFile(dest / "x"), "new contents");
    EXPECT_EQ(listTree(dest), std::vector<std::string>{"x"});
}

TEST(ZipExtractSafety, PermissionsKeepOnlyTheAccessBits)
{
    TempDir dir;
    const std::uint32_t regular = 0100000;
    writeFile(dir / "t.zip",
        layoutZip({RawEntry("suid", "x").withAttributes(3, (regular | 06755) << 16),
                      RawEntry("plain", "x").withAttributes(3, (regular | 0640) << 16),
                      RawEntry("link", "target").withAttributes(3, 0120777u << 16),
                      RawEntry("dos", "x").withAttributes(11, (regular | 0600) << 16)})
            .bytes());
    ASSERT_EQ(extractAll(dir / "t.zip", dir / "out"), "");
    auto mode = [&](const char* name) { return FolderItem(dir / "out" / name).mode() & 07777; };
    EXPECT_EQ(mode("suid"), 0755u);
    EXPECT_EQ(mode("plain"), 0640u);
    // A link's mode says nothing about the file made for it: it gets what a new file gets.
    EXPECT_FALSE(FolderItem(dir / "out" / "link").isAlias());
    EXPECT_EQ(mode("link") & 0002, 0u);
    // Another host's attributes are not taken; the file is made executable instead.
    EXPECT_EQ(mode("dos") & 0511, 0511u);
}

// Every file this library does not wrap as MacBinary carries the short ZPIT form: one whose data
// happen to begin like a MacBinary header comes back as it was.
TEST(ZipExtractSafety, UsersFileThatLooksLikeMacBinaryIsNotDecoded)
{
    TempDir dir;
    ZipArchive maker;
    const MemoryBlock header = maker.MakeMacBinaryHeader(10, 0, "inner", "TEXT", "ttxt", std::nullopt, std::nullopt);
    const std::string contents = header.toString() + "0123456789" + std::string(118, '\0');
    writeFile(dir / "src" / "looks.bin", contents);
    for (const bool deflate : {false, true}) {
        const fs::path zip = dir / (deflate ? "d.zip" : "s.zip");
        {
            ZipConfig::UsePlugin = deflate;
            ZipArchive archive;
            ASSERT_TRUE(archive.Open(FolderItem(zip), true));
            ASSERT_GE(archive.AddItemToRoot(FolderItem(dir / "src" / "looks.bin"), ZipArchive::MacBinarySmart), 1)
                << archive.ErrorMessage();
            ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
        }
        const fs::path out = dir / (deflate ? "outd" : "outs");
        ASSERT_EQ(extractAll(zip, out), "");
        EXPECT_EQ(readFile(out / "looks.bin"), contents) << deflate;
        EXPECT_EQ(listTree(out), std::vector<std::string>{"looks.bin"});
    }
}

// Folder modes from an archive: only a directory mode, only on a folder the job made below its
// root, only once the folder's contents are in; the job's clean-up removes all it made anyway.
// Run as a user to whom permissions apply.
TEST(ZipExtractSafety, FolderModesComeLastAndNeverReachTheRoot)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const std::uint32_t regular = 0100000, directory = 0040000;
    writeFile(dir / "t.zip",
        layoutZip({RawEntry("/").withAttributes(3, (regular | 0777) << 16),
                      RawEntry("./").withAttributes(3, (directory | 0777) << 16),
                      RawEntry("ro/").withAttributes(3, (directory | 0555) << 16),
                      RawEntry("ro/inner/").withAttributes(3, (directory | 0500) << 16), RawEntry("ro/inner/f", "f"),
                      RawEntry("asfile/").withAttributes(3, (regular | 0444) << 16), RawEntry("asfile/g", "g"),
                      RawEntry("closed/").withAttributes(3, directory << 16), RawEntry("closed/h", "h")})
            .bytes());
    const int status = runInChild(
        [&] {
            const fs::path root = dir / "out";
            fs::create_directory(root);
            fs::permissions(root, fs::perms(0750));
            ZipConfig::UsePlugin = true;
            ZipArchive archive;
            if (!archive.Open(FolderItem(dir / "t.zip"), false))
                return 2;
            ExtractionJob job{FolderItem(root)};
            for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
                std::string error;
                if (!job.extract(*archive.Entry(i), error)) {
                    std::fprintf(stderr, "%s\n", error.c_str());
                    return 3;
                }
            }
            std::string error;
            if (!job.finish(error))
                return 6;
            auto mode = [&](const char* rel) { return FolderItem(root / rel).mode() & 07777; };
            if (mode(".") != 0750 || mode("ro") != 0555 || mode("ro/inner") != 0500 || mode("closed") != 0 ||
                (mode("asfile") & 0700) != 0700 || readFile(root / "asfile" / "g") != "g")
                return 4;
            // Everything the job made goes, however its modes closed it; the root stays.
            if (!job.removeCreated() || !fs::is_empty(root))
                return 5;
            return 0;
        },
        true);
    EXPECT_EQ(status, 0);
}

// What the entries declare is weighed against the destination's free space before anything is
// written: whole blocks per entry, an AppleDouble companion's fork with its partner.
TEST(ZipExtractSafety, RoomIsCheckedAgainstWhatTheEntriesDeclare)
{
    TempDir dir;
    const std::string ux = unixType1Extra(1262304000, 1262304000);
    writeFile(dir / "t.zip",
        layoutZip({RawEntry("one", "1"), RawEntry("d/"), RawEntry("zeros", std::string(2000000, '\0')).deflated(),
                      RawEntry("f", "data").withExtra(ux),
                      RawEntry("._f", appleDouble("TEXT", "ttxt", 0, std::string(5000, 'r'))).withExtra(ux)})
            .bytes());
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "t.zip"), false));
    ASSERT_EQ(archive.EntryCount(), 4);
    const std::uint64_t need = 4096 + 0 + 2002944 + 8192;
    EXPECT_EQ(ExtractionJob::bytesNeeded(archive), need);

    ExtractionJob job{FolderItem(dir / "out")};
    std::optional<std::uint64_t> free;
    DiskSpace::setProbeForTesting([&](const fs::path& at) {
        EXPECT_EQ(at, dir.path());  // the root's parent while the root does not exist
        return free;
    });
    for (const auto& [room, fits] :
        std::vector<std::pair<std::optional<std::uint64_t>, bool>>{{need, true}, {std::nullopt, true}, {1500000, false}}) {
        free = room;
        EXPECT_EQ(job.checkRoom(archive).empty(), fits);
    }
    EXPECT_EQ(job.checkRoom(archive),
        "There is not enough free space for the extracted files: they need 2.0 MB, but \"" +
            dir.path().filename().string() + "\" has only 1.5 MB free.");
    DiskSpace::setProbeForTesting(nullptr);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(LvzipExtract, PrintsTheFirstFailureAndExitsNonZero)
{
    TempDir dir;
    writeFile(
        dir / "bad.zip", layoutZip({RawEntry("ok", "1"), RawEntry("../escape", "2"), RawEntry("never", "3")}).bytes());
    std::string output;
    EXPECT_NE(run(lvzipPath() + " extract " + shellQuote((dir / "bad.zip").string()) + " " +
                      shellQuote((dir / "out").string()),
                  &output),
        0);
    EXPECT_EQ(output, "Extraction of \"../escape\" failed: No destination given\n");
    EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{"ok"});

    writeFile(dir / "good.zip", layoutZip({RawEntry("d/"), RawEntry("d/f", "x")}).bytes());
    EXPECT_EQ(run(lvzipPath() + " extract " + shellQuote((dir / "good.zip").string()) + " " +
                  shellQuote((dir / "out2").string())),
        0);
    EXPECT_EQ(listTree(dir / "out2"), (std::vector<std::string>{"d/", "d/f"}));
}

} // namespace
} // namespace lv::test
