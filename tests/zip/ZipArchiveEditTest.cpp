// Editing archives opened for writing: removal, compaction, duplicates, mark and rollback, the
// archive comment.

#include <gtest/gtest.h>

#include <functional>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/Exceptions.h"
#include "platform/FolderItem.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

// Every entry verifies; returns the names in order.
std::vector<std::string> verifiedNames(const fs::path& zip)
{
    ZipConfig::UsePlugin = true;
    ZipArchive archive;
    EXPECT_TRUE(archive.Open(FolderItem(zip), false)) << archive.ErrorMessage();
    std::vector<std::string> names;
    for (std::int32_t i = 1; archive.IsOpen() && i <= archive.EntryCount(); ++i) {
        EXPECT_TRUE(archive.Entry(i)->Verify())
            << archive.Entry(i)->RawPath() << ": " << archive.Entry(i)->ErrorMessage();
        names.push_back(archive.Entry(i)->RawPath());
    }
    return names;
}

class RemoveAndCompact : public ::testing::TestWithParam<bool> {};

TEST_P(RemoveAndCompact, GivesAShorterArchiveThatOutsideToolsAccept)
{
    TempDir dir;
    writeFile(dir / "in" / "a.bin", randomBytes(30000, 1));
    writeFile(dir / "in" / "b.bin", randomBytes(50000, 2));
    writeFile(dir / "in" / "c.bin", randomBytes(17, 3));
    const std::string zip = (dir / "e.zip").string();
    ASSERT_EQ(run(lvzipPath() + (GetParam() ? " add --store " : " add ") + shellQuote(zip) + " " +
                  shellQuote((dir / "in" / "a.bin").string()) + " " + shellQuote((dir / "in" / "b.bin").string()) +
                  " " + shellQuote((dir / "in" / "c.bin").string())),
        0);
    const auto before = fs::file_size(zip);
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(fs::path(zip)), true));
        EXPECT_THROW(archive.RemoveEntry(0), OutOfBoundsException);
        ASSERT_TRUE(archive.RemoveEntry(2));
        ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    }
    EXPECT_LT(fs::file_size(zip), before - 50000);
    EXPECT_EQ(run("unzip -tq " + shellQuote(zip)), 0);
    EXPECT_EQ(verifiedNames(zip), (std::vector<std::string>{"a.bin", "c.bin"}));
    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    EXPECT_EQ(readFile(dir / "out" / "a.bin"), readFile(dir / "in" / "a.bin"));
    EXPECT_EQ(readFile(dir / "out" / "c.bin"), readFile(dir / "in" / "c.bin"));
}

INSTANTIATE_TEST_SUITE_P(DeflatedAndStored, RemoveAndCompact, ::testing::Bool());

TEST(CompactOtherArchives, DataDescriptorsOfBsdtarAreDropped)
{
    if (runCommand("command -v bsdtar >/dev/null") != 0)
        GTEST_SKIP() << "bsdtar is not installed";
    TempDir dir;
    const fs::path tree = makeFixtureTree(dir.path());
    const std::string zip = (dir / "b.zip").string();
    ASSERT_EQ(
        run("cd " + shellQuote(dir.path().string()) + " && bsdtar --format zip -cf " + shellQuote(zip) + " tree"), 0);
    const auto before = fs::file_size(zip);
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(fs::path(zip)), true)) << archive.ErrorMessage();
        ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    }
    EXPECT_LT(fs::file_size(zip), before);
    EXPECT_EQ(run("unzip -tq " + shellQuote(zip)), 0);
    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    for (auto it = fs::recursive_directory_iterator(tree); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file()) {
            EXPECT_EQ(readFile(dir / "out" / fs::relative(it->path(), dir.path())), readFile(it->path())) << it->path();
        }
    }
    EXPECT_EQ(run("python3 -c \"import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " +
                  shellQuote(zip)),
        0);
}

TEST(CompactFailures, BrokenOrMismatchedRecordsAreLeftWhereTheyAre)
{
    TempDir dir;
    // The third record's signature is broken; the first entry is removed so that the second
    // has to move.
    RawZip four = layoutZip({RawEntry("a", randomBytes(1000, 1)), RawEntry("b", "bee"), RawEntry("c", "sea"),
        RawEntry("d", randomBytes(3000, 4))});
    std::string bytes = four.bytes();
    bytes[four.localOffsets[2] + 2] = 'X';
    writeFile(dir / "broken.zip", bytes);
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "broken.zip"), true));
        ASSERT_TRUE(archive.RemoveEntry(1));
        const std::int64_t dataEnd = archive.dataEnd();
        EXPECT_FALSE(archive.Compact());
        EXPECT_EQ(
            archive.ErrorMessage(), "Invalid Local File Header signature (archive appears to be severely corrupted)");
        EXPECT_EQ(archive.dataEnd(), dataEnd);
        ASSERT_TRUE(archive.Close());
    }
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "broken.zip"), false)) << archive.ErrorMessage();
        ASSERT_EQ(archive.EntryCount(), 3);
        EXPECT_EQ(archive.Entry(1)->z_Header().uint32Value(42), 0u);
        EXPECT_TRUE(archive.Entry(1)->Verify());
        EXPECT_FALSE(archive.Entry(2)->Verify());
        EXPECT_TRUE(archive.Entry(3)->Verify());
    }

    // A local header that disagrees with its central record.
    const RawZip two = layoutZip({RawEntry("a", "aaa"), RawEntry("b", "bee")});
    std::string mismatched = two.bytes();
    setBytes(mismatched, two.localOffsets[1] + 14, le32(0)); // b's local CRC
    writeFile(dir / "mismatch.zip", mismatched);
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "mismatch.zip"), true)) << archive.ErrorMessage();
        EXPECT_FALSE(archive.Compact());
        EXPECT_EQ(archive.ErrorMessage(), "File Headers mismatch (archive appears to be severely corrupted)");
        ASSERT_TRUE(archive.Close());
    }
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "mismatch.zip"), false)) << archive.ErrorMessage();
        EXPECT_TRUE(archive.Entry(1)->Verify());
        EXPECT_FALSE(archive.Entry(2)->Verify());
    }
}

TEST(ArchiveEditing, MarkRollbackAndDuplicates)
{
    TempDir dir;
    writeFile(dir / "x", textBytes(5000));
    writeFile(dir / "y", randomBytes(7000, 2));
    const FolderItem zip(dir / "m.zip");
    ZipConfig::UsePlugin = true;
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(zip, true));
        ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "x"), ZipArchive::MacBinarySmart), 1);
        archive.Mark();
        const std::int64_t marked = archive.dataEnd();
        ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "y"), ZipArchive::MacBinarySmart), 2);
        ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "y"), ZipArchive::MacBinarySmart), 3);
        EXPECT_TRUE(archive.Rollback());
        EXPECT_TRUE(archive.Rollback());
        EXPECT_EQ(archive.EntryCount(), 1);
        EXPECT_EQ(archive.dataEnd(), marked);

        EXPECT_EQ(archive.AddFakeDuplicate(nullptr, "none", std::nullopt, nullptr), 0);
        EXPECT_EQ(archive.ErrorMessage(), "no entry reference given");
        ASSERT_EQ(archive.AddFakeDuplicate(archive.Entry(1), "copy of x", std::nullopt, nullptr), 2);
        EXPECT_EQ(archive.Entry(2)->z_Header().uint16Value(30), archive.Entry(1)->z_Header().uint16Value(30));
        ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "y"), ZipArchive::MacBinarySmart), 3);
        EXPECT_FALSE(archive.SetComment(std::string(70000, 'c')));
        EXPECT_TRUE(archive.SetComment("edited"));
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    }
    EXPECT_EQ(verifiedNames(dir / "m.zip"), (std::vector<std::string>{"x", "copy of x", "y"}));
    {
        // Removing the source's neighbour and compacting keeps the shared header shared.
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(zip, true));
        EXPECT_EQ(archive.Comment(), "edited");
        EXPECT_FALSE(archive.Rollback());
        ASSERT_TRUE(archive.RemoveEntry(3));
        ASSERT_TRUE(archive.Compact()) << archive.ErrorMessage();
        EXPECT_EQ(archive.Entry(1)->z_Header().uint32Value(42), archive.Entry(2)->z_Header().uint32Value(42));
        ASSERT_TRUE(archive.Close());
    }
    ASSERT_EQ(extractAll(dir / "m.zip", dir / "out"), "");
    EXPECT_EQ(readFile(dir / "out" / "copy of x"), readFile(dir / "x"));
    EXPECT_EQ(listTree(dir / "out"), (std::vector<std::string>{"copy of x", "x"}));

    ZipArchive readOnly;
    ASSERT_TRUE(readOnly.Open(zip, false));
    EXPECT_FALSE(readOnly.Compact());
    EXPECT_EQ(readOnly.ErrorMessage(), "Archive was opened read-only");
    EXPECT_EQ(readOnly.ReplaceEntry(1, readOnly.Entry(2)), nullptr);
}

// The reader takes one duplicate record per local header, and only one that it can tell from
// the entry it copies: the writer refuses every other duplicate, and what it wrote opens again.
TEST(ArchiveEditing, DuplicatesTheReaderWouldRefuseAreNotWritten)
{
    const char* const Shared = "The entry has a duplicate already (one local header takes one duplicate at most)";
    const char* const Described =
        "The entry cannot be duplicated: its records' flags (a data descriptor) leave a duplicate no mark of its own";
    struct Case {
        const char* what;
        RawEntry entry;
        std::function<void(ZipArchive&)> before;  // on the archive with the one entry
        std::int32_t source;
        const char* message;
    };
    const auto firstDuplicate = [](ZipArchive& a) {
        ASSERT_EQ(a.AddFakeDuplicate(a.Entry(1), "b", std::nullopt, nullptr), 2);
    };
    const RawEntry described = RawEntry("a", "with a data descriptor").withFlags(8);
    const Case cases[] = {
        {"a second duplicate of one entry", RawEntry("a", "shared"), firstDuplicate, 1, Shared},
        {"a duplicate of the duplicate", RawEntry("a", "shared"), firstDuplicate, 2, Shared},
        {"an entry with a data descriptor", described, {}, 1, Described},
        // Compaction drops the descriptor and clears the local flag; the central one keeps it.
        {"that entry compacted", described, [](ZipArchive& a) { ASSERT_TRUE(a.Compact()) << a.ErrorMessage(); }, 1,
         Described},
    };
    ZipConfig::UsePlugin = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path zip = dir / "d.zip";
        writeFile(zip, layoutZip({c.entry}).bytes());
        std::int32_t count = 0;
        {
            ZipArchive archive;
            ASSERT_TRUE(archive.Open(FolderItem(zip), true)) << archive.ErrorMessage();
            if (c.before)
                c.before(archive);
            count = archive.EntryCount();
            EXPECT_EQ(archive.AddFakeDuplicate(archive.Entry(c.source), "c", std::nullopt, nullptr), 0);
            EXPECT_EQ(archive.ErrorMessage(), c.message);
            EXPECT_EQ(archive.EntryCount(), count);
            ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
        }
        EXPECT_EQ(verifiedNames(zip).size(), std::size_t(count));
        const std::string failure = extractAll(zip, dir / "out");
        EXPECT_EQ(failure, "");
        if (failure.empty()) {
            EXPECT_EQ(readFile(dir / "out" / "a"), c.entry.data);
        }
    }
}

} // namespace
} // namespace lv::test
