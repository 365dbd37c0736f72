// The archive object's error model: opening, reopening, closing, flushing, read-only archives
// and the central directory writer, with the texts the client shows.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <functional>

#include "WriterTestSupport.h"
#include "platform/Exceptions.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipRecords.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

std::int32_t addBytes(ZipArchive& archive, const std::string& name, const std::string& bytes)
{
    StringSource source(bytes);
    return archive.AddItemByStreams(&source, std::int64_t(bytes.size()), nullptr, 0, std::nullopt, name, nullptr, std::nullopt);
}

std::size_t count(const std::string& haystack, const std::string& needle)
{
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

int unzipTest(const fs::path& zip)
{
    std::string out;
    return run("unzip -tq " + shellQuote(zip), &out);
}

TEST(ArchiveOpen, FailuresGiveTheirTexts)
{
    TempDir dir;
    writeFile(dir / "empty.zip", "");
    writeFile(dir / "folder" / "x", "");
    struct Case {
        const char* what;
        FolderItem file;
        bool forWrite;
        const char* text;
    };
    const Case cases[] = {
        {"no file", FolderItem(), true, "No file specified"},
        {"missing file read-only", FolderItem(dir / "missing.zip"), false, "Opening the archive file failed"},
        {"missing folder", FolderItem(dir / "nofolder" / "new.zip"), true, "Creating the archive file failed"},
        {"a folder", FolderItem(dir / "folder"), true, "Opening the archive file failed"},
        {"empty file", FolderItem(dir / "empty.zip"), true, "File does not appear to by a Zip file ('PK' header missing)"},
    };
    for (const Case& c : cases) {
        ZipArchive archive;
        EXPECT_FALSE(archive.Open(c.file, c.forWrite)) << c.what;
        EXPECT_EQ(archive.ErrorMessage(), c.text) << c.what;
        EXPECT_FALSE(archive.IsOpen()) << c.what;
        EXPECT_TRUE(archive.Close()) << c.what;
        EXPECT_EQ(archive.ErrorMessage(), c.text) << "the text survives Close: " << c.what;
    }
    // An existing empty file is never re-created.
    EXPECT_EQ(fs::file_size(dir / "empty.zip"), 0u);
    EXPECT_FALSE(fs::exists(dir / "missing.zip"));
}

TEST(ArchiveOpen, SecondOpenFailsAndLeavesTheArchiveUsable)
{
    TempDir dir;
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "a.zip"), true));
    EXPECT_EQ(archive.EntryCount(), 0);
    EXPECT_FALSE(archive.Open(FolderItem(dir / "b.zip"), true));
    EXPECT_EQ(archive.ErrorMessage(), "Unexpected error (exception)");
    EXPECT_TRUE(archive.IsWritable());
    EXPECT_EQ(addBytes(archive, "x", "data"), 1);
    EXPECT_TRUE(archive.Close());
    EXPECT_FALSE(fs::exists(dir / "b.zip"));
    EXPECT_EQ(unzipTest(dir / "a.zip"), 0);
}

TEST(ArchiveOpen, EntriesOfAClosedArchiveAndOutOfRangeIndexesAreMisuse)
{
    TempDir dir;
    ZipArchive archive;
    EXPECT_THROW(archive.EntryCount(), RuntimeException);
    EXPECT_THROW(archive.Entry(1), RuntimeException);
    EXPECT_TRUE(archive.Close());  // never opened
    ASSERT_TRUE(archive.Open(FolderItem(dir / "a.zip"), true));
    ASSERT_EQ(addBytes(archive, "x", "data"), 1);
    EXPECT_THROW(archive.Entry(0), OutOfBoundsException);
    EXPECT_THROW(archive.Entry(2), OutOfBoundsException);
    EXPECT_EQ(archive.Entry(1), archive.Entry(1));  // the same object each time
    EXPECT_TRUE(archive.Close());
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_FALSE(archive.IsWritable());
    EXPECT_THROW(archive.Flush(), RuntimeException);
}

TEST(ArchiveClose, EmptyArchiveGetsTheRootEntryAndOpensAgain)
{
    TempDir dir;
    const fs::path zip = dir / "a.zip";
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        ASSERT_TRUE(archive.Close());
    }
    const std::string bytes = readFile(zip);
    // One local header for "/", its central record and the end record.
    EXPECT_EQ(bytes.size(), 30u + 1 + 46 + 1 + 22);
    EXPECT_EQ(bytes.substr(30, 1), "/");
    ZipArchive again;
    ASSERT_TRUE(again.Open(FolderItem(zip), false)) << again.ErrorMessage();
    ASSERT_EQ(again.EntryCount(), 1);
    EXPECT_EQ(again.Entry(1)->RawPath(), "/");
}

TEST(ArchiveClose, ReopenedArchiveIsRewrittenInPlaceAndCut)
{
    TempDir dir;
    const fs::path zip = dir / "py.zip";
    // Another tool's archive with an archive comment of 100 bytes.
    std::string out;
    ASSERT_EQ(run("python3 -c 'import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],\"w\")\nz.writestr(\"a.txt\",\"alpha\")\n"
                  "z.writestr(\"b.txt\",\"beta\"*100, zipfile.ZIP_DEFLATED)\nz.comment=b\"c\"*100\nz.close()' " +
                      shellQuote(zip),
                  &out),
              0)
        << out;
    const std::string original = readFile(zip);
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true)) << archive.ErrorMessage();
        EXPECT_EQ(archive.Comment(), std::string(100, 'c'));
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    }
    EXPECT_TRUE(readFile(zip) == original);

    // Flush twice, then one more entry: the first directory is overwritten, none is left behind.
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        EXPECT_TRUE(archive.Flush());
        EXPECT_TRUE(archive.Flush());
        EXPECT_TRUE(readFile(zip) == original);
        ASSERT_EQ(addBytes(archive, "c.txt", "gamma"), 3);
        ASSERT_TRUE(archive.Close());
    }
    const std::string grown = readFile(zip);
    EXPECT_EQ(count(grown, "PK\x05\x06"), 1u);
    EXPECT_EQ(grown.substr(grown.size() - 100), std::string(100, 'c'));
    EXPECT_EQ(unzipTest(zip), 0);

    // A shorter directory written at the same offset: the file is cut behind its end record.
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        ASSERT_TRUE(archive.RemoveEntry(3));
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    }
    const std::string cut = readFile(zip);
    EXPECT_EQ(cut.size(), grown.size() - (46 + 5));
    EXPECT_EQ(count(cut, "PK\x05\x06"), 1u);
    EXPECT_EQ(cut.substr(cut.size() - 100), std::string(100, 'c'));
    EXPECT_EQ(unzipTest(zip), 0);
}

TEST(ArchiveClose, ReadOnlyArchiveIsNeverWritten)
{
    TempDir dir;
    const fs::path zip = dir / "a.zip";
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        ASSERT_EQ(addBytes(archive, "x", "data"), 1);
        ASSERT_TRUE(archive.Close());
    }
    const std::string before = readFile(zip);
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(zip), false));
    EXPECT_FALSE(archive.IsWritable());
    struct Case {
        const char* what;
        std::function<bool()> op;
    };
    const Case cases[] = {
        {"Flush", [&] { return archive.Flush(); }},
        {"AddItemToRoot", [&] { return archive.AddItemToRoot(FolderItem(zip), ZipArchive::MacBinarySmart) >= 1; }},
        {"AddFolderContents", [&] { return archive.AddFolderContents(FolderItem(dir.path()), "", 1, false); }},
        {"AddItemByStreams", [&] { return addBytes(archive, "y", "more") >= 1; }},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.op()) << c.what;
        EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only") << c.what;
    }
    // An entry edit marks the archive changed; closing still writes nothing.
    archive.Entry(1)->SetExtraFieldInCentralDir(archive.MakeZipExtraField("TEXT", "ttxt", ""));
    archive.Entry(1)->SetComment("edited");
    EXPECT_TRUE(archive.Close());
    EXPECT_TRUE(readFile(zip) == before);
}

// Archives whose directory this library cannot write back faithfully open read-only.
TEST(ArchiveClose, ArchivesThatCannotBeRewrittenOpenReadOnly)
{
    TempDir dir;
    const fs::path three = dir / "three.zip";
    std::string out;
    // Three records, but the end record declares two.
    ASSERT_EQ(run("python3 -c 'import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],\"w\")\n"
                  "[z.writestr(n,n) for n in (\"a\",\"b\",\"c\")]\nz.close()\n"
                  "d=bytearray(open(sys.argv[1],\"rb\").read())\nd[-14:-10]=bytes([2,0,2,0])\n"
                  "open(sys.argv[1],\"wb\").write(d)' " + shellQuote(three), &out),
              0)
        << out;
    // AppleDouble companions folded into their partner: a new directory would drop them.
    const fs::path ditto = dir / "ditto.zip";
    fs::copy_file(std::string(LOCKVANE_SOURCE_DIR) + "/tests/fixtures/zip/macos-appledouble.zip", ditto);
    const std::pair<fs::path, std::int32_t> cases[] = {{three, 3}, {ditto, 1}};
    for (const auto& [zip, entries] : cases) {
        const std::string before = readFile(zip);
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true)) << archive.ErrorMessage();
        EXPECT_EQ(archive.EntryCount(), entries) << zip;
        EXPECT_FALSE(archive.IsWritable()) << zip;
        EXPECT_LT(addBytes(archive, "d", "d"), 1);
        EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only") << zip;
        EXPECT_TRUE(archive.Close());
        EXPECT_TRUE(readFile(zip) == before) << zip;
    }
}

TEST(ArchiveClose, FailedCloseDeletesOnlyAFileThisObjectCreated)
{
    TempDir dir;
    const fs::path existing = dir / "existing.zip";
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(existing), true));
        ASSERT_TRUE(archive.Close());
    }
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (const bool created : {true, false}) {
        const fs::path zip = created ? dir / "new.zip" : existing;
        {
            ZipArchive archive;
            ASSERT_TRUE(archive.Open(FolderItem(zip), true));
            ASSERT_GE(addBytes(archive, "payload", randomBytes(5000)), 1);
            // No room left for the directory.
            rlimit small = saved;
            small.rlim_cur = rlim_t(fs::file_size(zip));
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(fs::exists(zip), !created) << "created " << created;
    }
    ::signal(SIGXFSZ, oldHandler);

    // The failure's text, seen through an explicit Close.
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "third.zip"), true));
    ASSERT_GE(addBytes(archive, "payload", randomBytes(5000)), 1);
    rlimit small = saved;
    small.rlim_cur = rlim_t(fs::file_size(dir / "third.zip"));
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_FALSE(archive.Close());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(archive.ErrorMessage(), "Writing the central directory failed (disk full?)");
}

TEST(ArchiveClose, DirectoryWriterFailuresLeaveTheArchiveChanged)
{
    struct Case {
        const char* text;
        std::function<void(ZipArchive&)> spoil;
    };
    const Case cases[] = {
        {"Internal error (extra field length mismatch)",
         [](ZipArchive& a) { a.Entry(1)->z_Header().setUInt16Value(zip::central::ExtraLength, 7); }},
        {"Internal error (Exception in z_writeDirectory)",
         [](ZipArchive& a) {
             const auto unlocked = std::make_shared<ZipExtraField>(a.data(), "");
             a.ReplaceEntry(1, std::make_shared<ZipEntry>(a.data(), std::nullopt, "x", unlocked, ""));
         }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "a.zip"), true));
        ASSERT_EQ(addBytes(archive, "x", "data"), 1);
        c.spoil(archive);
        EXPECT_FALSE(archive.Flush()) << c.text;
        EXPECT_EQ(archive.ErrorMessage(), c.text);
        EXPECT_TRUE(archive.data()->dirty) << c.text;
        EXPECT_FALSE(archive.Close()) << c.text;
        EXPECT_EQ(archive.ErrorMessage(), c.text);
    }
}

TEST(EntryWriter, RecordsMatchTheirLayout)
{
    ZipConfig::UsePlugin = false;
    TempDir dir;
    const fs::path zip = dir / "a.zip";
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        const std::int64_t mar2009 = 1237038330;  // 2009-03-14 13:45:30 UTC
        StringSource src("abc");
        ASSERT_EQ(archive.AddItemByStreams(&src, 3, nullptr, 0, std::nullopt, "/dir/f", archive.MakeZipExtraField("TEXT", "ttxt", ""),
                                           mar2009),
                  1);
        const ZipEntry& e = *archive.Entry(1);
        EXPECT_EQ(e.RawPath(), "dir/f");  // one leading "/" dropped
        EXPECT_EQ(e.Size(), 3);
        EXPECT_EQ(e.CompressedSize(), 3);
        EXPECT_EQ(e.ExternalFileAttributes(), 1);  // UTF-8 names
        EXPECT_TRUE(e.ExtraFieldInCentralDir()->IsLocked());
        ASSERT_TRUE(archive.Close());
    }
    const std::string b = readFile(zip);
    const std::size_t dirAt = b.find("PK\x01\x02");
    ASSERT_NE(dirAt, std::string::npos);
    // The local header repeats bytes 6 to 15 of the central record in its bytes 4 to 13.
    EXPECT_EQ(b.substr(4, 10), b.substr(dirAt + 6, 10));
    EXPECT_EQ(b.substr(6, 2), std::string("\0\0", 2));  // flags 0
    // CRC-32 of "abc" in both records, and the extra field behind the name in the local header.
    EXPECT_EQ(b.substr(14, 4), fromHex("c2412435"));
    EXPECT_EQ(b.substr(dirAt + 16, 4), fromHex("c2412435"));
    EXPECT_EQ(b.substr(30 + 5, 16), fromHex("05270c005a504954544558547474787" "4"));
}

} // namespace
} // namespace lv::test
