// Opening archives: the end record and central directory checks, and corrupt entry data.

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {
namespace {

std::string openError(const TempDir& dir, const std::string& bytes)
{
    writeFile(dir / "t.zip", bytes);
    ZipArchive archive;
    if (archive.Open(FolderItem(dir / "t.zip"), false))
        return "(opened)";
    return archive.ErrorMessage();
}

RawZip oneEntry() { return layoutZip({RawEntry("a.txt", "hello")}); }

// A central record for the single entry of `z` under another name of the same length, marked as
// a duplicate (data-descriptor flag over the shared local header that lacks it).
std::string duplicateRecord(const RawZip& z, std::string_view name)
{
    std::string record = z.central;
    record[8] = char(std::uint8_t(record[8]) | 8);
    setBytes(record, 46, name);
    return record;
}

const char* const OutsideTheArchive = "An entry's data lie outside the archive (archive appears to be severely corrupted)";
const char* const OverlappingEntries = "Entries overlap (archive appears to be severely corrupted)";

struct CraftedDirectory {
    const char* what;
    std::string bytes;
    const char* message;
};

TEST(ZipDirectoryReader, CraftedDirectoriesFailWithTheirTexts)
{
    const RawZip z = oneEntry();
    const auto dirSize = std::uint32_t(z.central.size());
    const auto dirStart = std::uint32_t(z.locals.size());
    std::string badSignature = z.bytes();
    setBytes(badSignature, dirStart, "PK\x01\x09");
    RawZip newer = layoutZip({RawEntry("a.txt", "hello").withVersionNeeded(63)});
    RawZip hostByte = layoutZip({RawEntry("a.txt", "hello").withVersionNeeded(0x0314)});
    // The zip64 extension's version, but no sign of it in the records.
    RawZip fourFive = layoutZip({RawEntry("a.txt", "hello").withVersionNeeded(45)});

    // Crafted records that make a small file stand for more data than it holds.
    std::string hugeSize = z.bytes();
    setBytes(hugeSize, 18, le32(0x7FFFFFF0)); // compressed size, local and central
    setBytes(hugeSize, 22, le32(0x7FFFFFF0));
    setBytes(hugeSize, dirStart + 20, le32(0x7FFFFFF0));
    setBytes(hugeSize, dirStart + 24, le32(0x7FFFFFF0));
    std::string tenRecords;
    for (int i = 0; i < 10; ++i)
        tenRecords += z.central;
    const std::string sharing = z.locals + tenRecords +
        endRecord(0, 0, 10, 10, std::uint32_t(tenRecords.size()), dirStart);
    // Duplicates of "a.txt": one is what the library writes, two are refused.
    const std::string twoDuplicates = z.locals + z.central + duplicateRecord(z, "b.txt") +
        duplicateRecord(z, "c.txt") + endRecord(0, 0, 3, 3, 3 * dirSize, dirStart);
    // The second record points into the middle of the first one's data.
    const RawZip inner = layoutZip({RawEntry("b", "inner data")});
    const RawZip outer = layoutZip({RawEntry("a", "head" + inner.locals + "tail"), RawEntry("b", "inner data")});
    std::string innerCentral = outer.central;
    setBytes(innerCentral, 46 + 1 + 42, le32(30 + 1 + 4));
    const std::string inside = outer.locals.substr(0, outer.localOffsets[1]) + innerCentral +
        endRecord(0, 0, 2, 2, std::uint32_t(innerCentral.size()), outer.localOffsets[1]);

    const std::vector<CraftedDirectory> cases = {
        {"end record only", endRecord(0, 0, 0, 0, 0, 0), "File does not appear to by a Zip file ('PK' header missing)"},
        {"21 bytes", "PK\x03\x04" + std::string(17, '\0'), "Central Directory not found; probably a damaged Zip file"},
        {"no end record", z.locals + z.central, "Central Directory not found; probably a damaged Zip file"},
        {"several disks", z.locals + z.central + endRecord(1, 0, 1, 1, dirSize, dirStart),
            "This is part of a multi-segment archive, which is not supported by the ZipArchive class"},
        {"counts that differ", z.locals + z.central + endRecord(0, 0, 1, 2, dirSize, dirStart),
            "This is part of a multi-segment archive, which is not supported by the ZipArchive class"},
        {"size below 46 per entry", z.locals + z.central + endRecord(0, 0, 2, 2, dirSize, dirStart),
            "Central Directory is corrupted."},
        {"directory larger than the file", z.locals + z.central + endRecord(0, 0, 1, 1, 0x7FFFFFF0, dirStart),
            "Central Directory is corrupted."},
        {"directory behind the end record", z.locals + z.central + endRecord(0, 0, 1, 1, dirSize, 0xFFFFFF00),
            "Central Directory is corrupted."},
        {"record running past the directory", z.locals + z.central + endRecord(0, 0, 1, 1, 46, dirStart),
            "Central Directory is corrupted"},
        {"bad record signature", badSignature, "Central Directory is corrupted"},
        {"version needed 63", newer.bytes(),
            "Archive was written in a newer format than what this software supports (it supports up to v2.0 archives)"},
        {"version needed 2.0 with a high byte", hostByte.bytes(),
            "Archive was written in a newer format than what this software supports (it supports up to v2.0 archives)"},
        {"version needed 4.5 alone", fourFive.bytes(),
            "Archive was written in a newer format than what this software supports (it supports up to v2.0 archives)"},
        {"data past the directory", hugeSize, OutsideTheArchive},
        {"records sharing one local entry", sharing, OverlappingEntries},
        {"a record inside another's data", inside, OverlappingEntries},
        {"two duplicates of one local entry", twoDuplicates, OverlappingEntries},
    };
    TempDir dir;
    for (const CraftedDirectory& c : cases)
        EXPECT_EQ(openError(dir, c.bytes), c.message) << c.what;
}

TEST(ZipDirectoryReader, OpensWhatTheRecordsAllow)
{
    TempDir dir;
    const std::string comment = randomBytes(100, 9);
    writeFile(dir / "comment.zip", oneEntry().bytes(comment));
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "comment.zip"), false)) << archive.ErrorMessage();
        EXPECT_EQ(archive.Comment(), comment);
        EXPECT_EQ(archive.EntryCount(), 1);
    }
    // A second record on one local header, as the library's duplicate writes it.
    const RawZip z = oneEntry();
    writeFile(dir / "duplicate.zip",
        z.locals + z.central + duplicateRecord(z, "b.txt") +
            endRecord(0, 0, 2, 2, std::uint32_t(2 * z.central.size()), std::uint32_t(z.locals.size())));
    EXPECT_EQ(extractAll(dir / "duplicate.zip", dir / "duplicate"), "");
    EXPECT_EQ(readFile(dir / "duplicate" / "b.txt"), "hello");
    EXPECT_EQ(readFile(dir / "duplicate" / "a.txt"), "hello");
    // A local header, then an end record with no entries.
    writeFile(dir / "empty.zip", z.locals + endRecord(0, 0, 0, 0, 0, std::uint32_t(z.locals.size())));
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "empty.zip"), false)) << archive.ErrorMessage();
        EXPECT_EQ(archive.EntryCount(), 0);
    }
    // Three records where the end record declares two: all are read, and the archive is
    // read-only even when opened for writing.
    const RawZip three = layoutZip({RawEntry("a", "1"), RawEntry("b", "2"), RawEntry("c", "3")});
    const std::string before = three.locals + three.central +
        endRecord(0, 0, 2, 2, std::uint32_t(three.central.size()), std::uint32_t(three.locals.size()));
    writeFile(dir / "more.zip", before);
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "more.zip"), true)) << archive.ErrorMessage();
        EXPECT_EQ(archive.EntryCount(), 3);
        EXPECT_FALSE(archive.IsWritable());
        EXPECT_FALSE(archive.RemoveEntry(1));
        EXPECT_EQ(archive.ErrorMessage(), "Archive was opened read-only");
        EXPECT_TRUE(archive.Close());
    }
    EXPECT_EQ(readFile(dir / "more.zip"), before);
}

// Corrupt data is never reported as success, and no header field drives a read or an
// allocation beyond the file.
TEST(ZipEntryReader, CorruptDataFailsTheEntry)
{
    ZipConfig::UsePlugin = true;
    const std::string data = randomBytes(5000, 5);
    const RawZip stored = layoutZip({RawEntry("s.bin", data)});
    const RawZip deflated = layoutZip({RawEntry("d.bin", textBytes(20000)).deflated()});

    struct Case {
        const char* what;
        std::string bytes;
        const char* message; // nullptr: any failure
    };
    std::string storedFlip = stored.bytes();
    storedFlip[30 + 5 + 2500] ^= 0x01;
    std::string deflatedFlip = deflated.bytes();
    deflatedFlip[30 + 5 + 40] ^= 0x10;
    std::string storedSizes = stored.bytes();
    setBytes(storedSizes, 22, le32(4999)); // local uncompressed size
    setBytes(storedSizes, stored.locals.size() + 24, le32(4999));
    // The first entry's signature is the file's own: point the entry at bytes that are no header.
    std::string localSignature = stored.bytes();
    setBytes(localSignature, stored.locals.size() + 42, le32(7));
    std::string mismatch = stored.bytes();
    setBytes(mismatch, 14, le32(0)); // local CRC
    std::string bzip2 = stored.bytes();
    setBytes(bzip2, 8, le16(12)); // method, local and central
    setBytes(bzip2, stored.locals.size() + 10, le16(12));

    const std::vector<Case> cases = {
        {"flipped byte, stored", storedFlip, "Data appears to be corrupted"},
        {"flipped byte, deflated", deflatedFlip, nullptr},
        {"stored sizes that differ", storedSizes, "Data appears to be corrupted"},
        {"local signature", localSignature,
            "Invalid Local File Header signature (archive appears to be severely corrupted)"},
        {"local CRC differs from central", mismatch, "File Headers mismatch"},
        {"encrypted", layoutZip({RawEntry("e.bin", data).withFlags(1)}).bytes(), "Unsupported format (encrypted)"},
        {"method 12", bzip2, "Unsupported compression method (12)"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        writeFile(dir / "t.zip", c.bytes);
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "t.zip"), false)) << c.what;
        const ZipEntryPtr entry = archive.Entry(1);
        EXPECT_FALSE(entry->Verify()) << c.what;
        if (c.message)
            EXPECT_EQ(entry->ErrorMessage(), c.message) << c.what;
        else
            EXPECT_FALSE(entry->ErrorMessage().empty()) << c.what;
        const FolderItem dest(dir / "out" / "x");
        std::filesystem::create_directories(dir / "out");
        EXPECT_FALSE(entry->Extract(dest, true)) << c.what;
        EXPECT_FALSE(dest.exists()) << c.what;
        EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{}) << c.what;
    }

    // Deflated data need the inflater, which extraction switches on.
    writeFile(dir / "t.zip", deflated.bytes());
    ZipConfig::UsePlugin = false;
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "t.zip"), false));
    EXPECT_FALSE(archive.Entry(1)->Verify());
    EXPECT_EQ(archive.Entry(1)->ErrorMessage(), "Can't deflate because of missing compression plugin");
    ZipConfig::UsePlugin = true;
}

// Some writers mark an empty file deflated without a single byte of deflate data.
TEST(ZipEntryReader, EmptyDeflatedEntryWithoutDataExtracts)
{
    ZipConfig::UsePlugin = true;
    TempDir dir;
    const std::string name = "empty";
    const std::string local = le32(0x04034B50) + le16(20) + le16(0) + le16(8) + le16(0) + le16(0x4A21) + le32(0) +
        le32(0) + le32(0) + le16(5) + le16(0) + name;
    const std::string central = le32(0x02014B50) + le16(20) + le16(20) + le16(0) + le16(8) + le16(0) + le16(0x4A21) +
        le32(0) + le32(0) + le32(0) + le16(5) + le16(0) + le16(0) + le16(0) + le16(0) + le32(0) + le32(0) + name;
    writeFile(dir / "t.zip",
        local + central + endRecord(0, 0, 1, 1, std::uint32_t(central.size()), std::uint32_t(local.size())));
    EXPECT_EQ(extractAll(dir / "t.zip", dir / "out"), "");
    EXPECT_EQ(readFile(dir / "out" / "empty"), "");
}

} // namespace
} // namespace lv::test
