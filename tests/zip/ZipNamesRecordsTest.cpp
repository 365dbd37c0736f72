// Entry names and raw paths, the shared archive state's small operations, and the entry's
// accessors over its central record.

#include <gtest/gtest.h>

#include <ctime>

#include "WriterTestSupport.h"
#include "platform/Exceptions.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipRecords.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

ZipEntry entryNamed(const ZipArchive& archive, const std::string& name)
{
    return ZipEntry(archive.data(), std::nullopt, name, nullptr, "");
}

TEST(EntryNames, StoredNamesSplitIntoComponents)
{
    ZipArchive archive;
    struct Case {
        std::string name;
        std::vector<std::string> parts;
        bool folder;
        bool ditto;
    };
    const Case cases[] = {
        {"a/b/c.txt", {"a", "b", "c.txt"}, false, false},
        {"a/b/", {"a", "b"}, true, false},
        {"/", {""}, true, false},
        {"", {}, false, false},
        {"/a", {"", "a"}, false, false},
        {"a//b", {"a", "", "b"}, false, false},
        {"./a", {"a"}, false, false},
        {"a/./b", {"a", "b"}, false, false},
        {"a/.", {"a", "."}, false, false},
        {"../a", {"..", "a"}, false, false},
        {"x:y/z", {"x-y", "z"}, false, false},
        {"__MACOSX/d/._f", {"__MACOSX", "d", "._f"}, false, true},
        {"d/._f", {"d", "._f"}, false, true},
        {"__macosx/d/f", {"__macosx", "d", "f"}, false, false},
        {"._d/", {"._d"}, true, false},
    };
    for (const Case& c : cases) {
        const ZipEntry e = entryNamed(archive, c.name);
        EXPECT_EQ(e.pathComponents(), c.parts) << c.name;
        EXPECT_EQ(e.IsDirectory(), c.folder) << c.name;
        EXPECT_EQ(e.hasDittoName(), c.ditto) << c.name;
        EXPECT_EQ(e.RawPath(), c.name);
    }
    EXPECT_EQ(entryNamed(archive, "a/b/").Name(), "b");
    EXPECT_EQ(entryNamed(archive, "a/c.txt").Name(), "c.txt");
}

TEST(EntryNames, RawPathsAndStoredForms)
{
    TempDir dir;
    writeFile(dir / "sub1" / "sub2" / "file", "");
    writeFile(dir / "back\\slash" / "f", "");
    ZipArchive archive;
    const FolderItem base(dir.path());
    EXPECT_EQ(archive.RawPath(base, base), "");
    EXPECT_EQ(archive.RawPath(base, FolderItem(dir / "sub1" / "sub2" / "file")), "sub1/sub2/file");
    EXPECT_EQ(archive.RawPath(base, FolderItem(dir / "back\\slash" / "f")), "back-slash/f");
    EXPECT_EQ(archive.RawPath(FolderItem(dir / "sub1"), FolderItem(dir / "back\\slash")), "");
    EXPECT_EQ(archive.RawPath(FolderItem(dir / "sub1" / "sub2" / "file"), base), "");
    EXPECT_EQ(ZipArchive::RawPath({"a/b", "c\\d"}), "a-b/c-d");
    EXPECT_EQ(ZipArchive::RawPath({}), "");
    EXPECT_EQ(ZipArchive::CleanName("a/b\\c"), "a-b-c");
    EXPECT_TRUE(ZipArchive::IsValidName(""));
    EXPECT_FALSE(ZipArchive::IsValidName("a\\b"));

    const std::pair<std::string, std::string> stored[] = {{"", "/"}, {"/", "/"}, {"/a/b", "a/b"}, {"//a", "/a"}, {"a/", "a/"}};
    for (const auto& [path, name] : stored)
        EXPECT_EQ(archive.z_pathToEncName(path), name) << path;
}

TEST(EntryNames, LookupByRawPath)
{
    TempDir dir;
    ZipConfig::UsePlugin = false;
    ZipArchive archive;
    EXPECT_THROW(archive.EntryIdxByRawPath("a", 1), RuntimeException);
    ASSERT_TRUE(archive.Open(FolderItem(dir / "a.zip"), true));
    for (const char* name : {"Docs/", "Docs/Read.txt", "docs/read.txt"})
        ASSERT_GE(archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, name, nullptr, std::nullopt), 1);
    EXPECT_EQ(archive.EntryIdxByRawPath("Docs/", 1), 1);
    EXPECT_EQ(archive.EntryIdxByRawPath("Docs", 1), 0);  // a folder only with its "/"
    EXPECT_EQ(archive.EntryIdxByRawPath("DOCS/READ.TXT", 1), 2);  // letter case is ignored
    EXPECT_EQ(archive.EntryIdxByRawPath("docs/read.txt", 3), 3);
    EXPECT_EQ(archive.EntryIdxByRawPath("/Docs/Read.txt", 1), 2);
    EXPECT_EQ(archive.EntryIdxByRawPath("Docs/", 4), 0);
    EXPECT_THROW(archive.EntryIdxByRawPath("Docs/", 0), OutOfBoundsException);
    EXPECT_THROW(archive.EntryIdxByRawPath("Docs/", 5), OutOfBoundsException);
    EXPECT_EQ(archive.AllEntriesAsRawPaths(), (std::vector<std::string>{"Docs/", "Docs/Read.txt", "docs/read.txt"}));
    EXPECT_TRUE(archive.Entry(2)->SameRawPath("Docs/Read.txt"));
    EXPECT_TRUE(archive.Entry(2)->SameRawPath("DOCS/read.TXT"));
    EXPECT_FALSE(archive.Entry(2)->SameRawPath("/Docs/Read.txt"));
    EXPECT_FALSE(archive.Entry(2)->SameRawPath("Docs/Read"));
    EXPECT_TRUE(archive.Entry(1)->SameRawPath("docs/"));
    EXPECT_FALSE(archive.Entry(1)->SameRawPath("Docs"));
    EXPECT_TRUE(archive.Close());

    // The path is compared in the archive's own encoding.
    ZipArchive roman;
    ASSERT_TRUE(roman.Open(FolderItem(dir / "r.zip"), true, ZipArchive::EncodedAsMacDefault()));
    ASSERT_EQ(roman.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, "\xC3\x84pfel", nullptr, std::nullopt), 1);
    EXPECT_EQ(roman.Entry(1)->z_origEncodedName(), "\x80pfel");
    EXPECT_TRUE(roman.Entry(1)->SameRawPath("\xC3\x84PFEL"));
    EXPECT_FALSE(roman.Entry(1)->SameRawPath("\x80pfel"));
    EXPECT_TRUE(roman.Close());
}

TEST(SharedState, SmallOperations)
{
    EXPECT_EQ(ZipArchiveData::lastInStr("xyxy", "xy"), 3);
    EXPECT_EQ(ZipArchiveData::lastInStr("aaa", "aa"), 2);
    EXPECT_EQ(ZipArchiveData::lastInStr("xyz", "q"), 0);
    EXPECT_EQ(ZipArchiveData::shiftRight16(-1), 65535);
    EXPECT_EQ(ZipArchiveData::shiftRight16(0x7FFF0000), 0x7FFF);
    EXPECT_EQ(ZipArchiveData::shiftLeft16(0x7FFF), 0x7FFF0000);
    EXPECT_EQ(ZipArchiveData::shiftLeft16(0x18000), std::int32_t(0x80000000u));

    ZipArchiveData d;
    EXPECT_EQ(d.entryCount(), 0);
    EXPECT_EQ(d.encodeForZip("Gr\xC3\xBC\xC3\x9F" "e"), "Gr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(d.encodeForZip("\xFF\xFE raw"), "\xFF\xFE raw");  // never converted in a UTF-8 archive
    d.setArchiveEncoding(ZipArchive::EncodedAsDOSLatinUS());
    EXPECT_EQ(d.encodeForZip("\xC3\xA9t\xC3\xA9"), "\x82t\x82");  // code page 437
    EXPECT_EQ(d.decodeFromZip("\x82t\x82"), "\x82t\x82");
    d.setArchiveEncoding(std::nullopt);
    EXPECT_EQ(d.archiveEncoding, TextEncoding::utf8());

    TempDir dir;
    writeFile(dir / "f", "");
    std::int32_t mode = 0;
    ASSERT_EQ(d.updateUnixPermissions(FolderItem(dir / "f"), 0, 0640), 0);
    ASSERT_EQ(d.getUnixPermissionsFromFile(FolderItem(dir / "f"), mode), 0);
    EXPECT_EQ(mode & 07777, 0640);
    ASSERT_EQ(d.updateUnixPermissions(FolderItem(dir / "f"), -1, 0x10000), 0);  // bits above 16 are dropped
    ASSERT_EQ(d.getUnixPermissionsFromFile(FolderItem(dir / "f"), mode), 0);
    EXPECT_EQ(mode & 07777, 0640);
    EXPECT_NE(d.getUnixPermissionsFromFile(FolderItem(dir / "gone"), mode), 0);
    EXPECT_EQ(mode, 0);
    EXPECT_FALSE(d.FSRefOfFolderItem(FolderItem(dir / "gone")));
}

TEST(EntryRecord, AccessorsAndAttributes)
{
    ZipArchive archive;
    MemoryBlock record(zip::central::Size, true);
    record.setUInt16Value(zip::central::Date, 0x3A6E);
    record.setUInt16Value(zip::central::Time, 0x6DAF);
    record.setUInt16Value(zip::central::Method, 12);
    record.setUInt32Value(zip::central::UncompressedSize, 0x80000000u);
    record.setUInt16Value(zip::central::InternalAttributes, 3);
    record.setByteValue(41, 0x81);
    ZipEntry e(archive.data(), record, "f", nullptr, "");

    const std::time_t t = std::time_t(*e.Time());
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_EQ(std::vector<int>({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec}),
              std::vector<int>({2009, 3, 14, 13, 45, 30}));
    EXPECT_FALSE(entryNamed(archive, "f").Time());
    EXPECT_LT(e.Size(), 0);
    EXPECT_FALSE(e.CanExtract());  // method 12
    EXPECT_TRUE(e.IsTextFile());
    e.SetTextFileFlag(false);
    EXPECT_EQ(e.z_Header().uint16Value(zip::central::InternalAttributes), 2);
    EXPECT_LT(e.ExternalFileAttributes(), 0);
    e.SetOSMadeBy(3);
    EXPECT_EQ(e.OSMadeBy(), 3);
    EXPECT_EQ(e.z_Header().byteValue(zip::central::VersionMadeBy), 0);
    EXPECT_DOUBLE_EQ(e.z_ulongToDouble(-1), 4294967295.0);

    EXPECT_FALSE(entryNamed(archive, "dir/").CanExtract());
    EXPECT_TRUE(entryNamed(archive, "file").CanExtract());

    // An unlocked central field is misuse; a missing one becomes an empty locked one.
    ZipEntry unlocked(archive.data(), std::nullopt, "u", std::make_shared<ZipExtraField>(archive.data(), ""), "");
    EXPECT_THROW(unlocked.ExtraFieldInCentralDir(), RuntimeException);
    archive.data()->dirty = false;
    unlocked.SetExtraFieldInCentralDir(nullptr);
    EXPECT_TRUE(unlocked.ExtraFieldInCentralDir()->IsLocked());
    EXPECT_EQ(unlocked.ExtraFieldInCentralDir()->AsData(), "");
    EXPECT_EQ(unlocked.z_Header().uint16Value(zip::central::ExtraLength), 0);
    EXPECT_TRUE(archive.data()->dirty);

    // No archive stream: the local extra field cannot be read.
    EXPECT_EQ(unlocked.ExtraField(), nullptr);
    EXPECT_EQ(unlocked.ErrorMessage(), "Archive is closed");
}

TEST(EntryRecord, LocalExtraFieldIsReadFromTheArchive)
{
    TempDir dir;
    ZipConfig::UsePlugin = false;
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "a.zip"), true));
    const ZipExtraFieldPtr zpit = archive.MakeZipExtraField("TEXT", "ttxt", "");
    ASSERT_EQ(archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, "f", zpit, std::nullopt), 1);
    const ZipEntryPtr e = archive.Entry(1);
    const ZipExtraFieldPtr local = e->ExtraField();
    ASSERT_TRUE(local);
    EXPECT_TRUE(local->IsLocked());
    EXPECT_EQ(local->AsData(), zpit->AsData());

    e->z_Header().setUInt32Value(zip::central::LocalHeaderOffset, 5);  // not a local header
    archive.data()->zipStream->setPosition(3);
    EXPECT_EQ(e->ExtraField(), nullptr);
    EXPECT_EQ(e->ErrorMessage(), "Invalid Local File Header signature (archive appears to be severely corrupted)");
    EXPECT_EQ(archive.data()->zipStream->position(), 3u);
    e->z_Header().setUInt32Value(zip::central::LocalHeaderOffset, 0);
    EXPECT_TRUE(archive.Close());
}

TEST(EntryRecord, DatesOutsideTheDosRangeAreClamped)
{
    TempDir dir;
    ZipConfig::UsePlugin = false;
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "a.zip"), true));
    std::tm jun1975{};
    jun1975.tm_year = 75, jun1975.tm_mon = 5, jun1975.tm_mday = 15;
    jun1975.tm_hour = 10, jun1975.tm_min = 15, jun1975.tm_sec = 31, jun1975.tm_isdst = -1;
    struct Case {
        const char* what;
        std::int64_t date;
        std::uint16_t dosDate, dosTime;
    };
    const Case cases[] = {
        // Year bits 0 with month, day and time kept; the odd second rounds down.
        {"1975", std::int64_t(std::mktime(&jun1975)), (6 << 5) | 15, (10 << 11) | (15 << 5) | 15},
        // Clamped to 2107-12-31 23:59:58, never wrapped to 1980.
        {"2150", 5680281600, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
    };
    for (const Case& c : cases) {
        const std::int32_t i = archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, "d", nullptr, c.date);
        ASSERT_GE(i, 1);
        // A duplicate given the date gets the same fields.
        const std::int32_t dup = archive.AddFakeDuplicate(archive.Entry(i), "dup", c.date, nullptr);
        ASSERT_GE(dup, 1);
        for (const std::int32_t at : {i, dup}) {
            const MemoryBlock& record = archive.Entry(at)->z_Header();
            EXPECT_EQ(record.uint16Value(zip::central::Date), c.dosDate) << c.what << " " << at;
            EXPECT_EQ(record.uint16Value(zip::central::Time), c.dosTime) << c.what << " " << at;
        }
    }
    const std::int32_t none = archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, "n", nullptr, std::nullopt);
    EXPECT_FALSE(archive.Entry(none)->Time());
    EXPECT_TRUE(archive.Close());
}

} // namespace
} // namespace lv::test
