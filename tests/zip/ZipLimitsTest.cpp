// Archives at the limits of the zip format without its 64-bit extension: zip64 archives are
// refused under their own name, whatever made them; entries of 2 to 4 GiB, whose sizes still fit
// the 32-bit fields, extract. The large archives are sparse files, so they cost little disk.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/FolderItem.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipEntry.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

const char* const Zip64Text = "The archive uses the zip64 extension, which this program does not read";

std::string openError(const fs::path& zip)
{
    ZipArchive archive;
    if (archive.Open(FolderItem(zip), false))
        return "(opened)";
    return archive.ErrorMessage();
}

// Writes `bytes` at `at` of `file`, which grows (with a hole) as needed.
void writeAt(const fs::path& file, std::uint64_t at, std::string_view bytes)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), off_t(at)), ssize_t(bytes.size()));
    ::close(fd);
}

// The CRC-32 of `zeros` zero bytes followed by `tail`.
std::uint32_t crcOfZerosThen(std::uint64_t zeros, std::string_view tail)
{
    const std::string block(1 << 20, '\0');
    const uLong blockCrc = crc32(0, reinterpret_cast<const Bytef*>(block.data()), uInt(block.size()));
    uLong crc = crc32(0, nullptr, 0);
    for (; zeros >= block.size(); zeros -= block.size())
        crc = crc32_combine(crc, blockCrc, z_off_t(block.size()));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), uInt(zeros));
    return std::uint32_t(crc32(crc, reinterpret_cast<const Bytef*>(tail.data()), uInt(tail.size())));
}

// A zip64 end record and its locator for a directory of `count` records at `dirStart`.
std::string zip64End(std::uint64_t count, std::uint64_t dirSize, std::uint64_t dirStart)
{
    const auto le64 = [](std::uint64_t v) { return le32(std::uint32_t(v)) + le32(std::uint32_t(v >> 32)); };
    const std::string record = le32(0x06064B50) + le64(44) + le16(45) + le16(45) + le32(0) + le32(0) + le64(count) +
        le64(count) + le64(dirSize) + le64(dirStart);
    return record + le32(0x07064B50) + le32(0) + le64(dirStart + dirSize) + le32(1);
}

TEST(ZipLimits, Zip64ArchivesAreRefusedUnderTheirName)
{
    TempDir dir;
    writeFile(dir / "a.txt", "hello");
    std::vector<std::pair<std::string, fs::path>> archives;

    // Other tools' zip64 archives.
    ASSERT_TRUE(toolInstalled("zip", "zip"));
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && zip -q -fz infozip.zip a.txt"), 0);
    archives.emplace_back("Info-ZIP, forced zip64", dir / "infozip.zip");
    ASSERT_TRUE(toolInstalled("python3", "python3"));
    ASSERT_EQ(run("python3 -c \"import sys, zipfile\n"
                  "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                  "    with z.open('a.txt', 'w', force_zip64=True) as f: f.write(b'hello')\" " +
                  shellQuote((dir / "python.zip").string())),
              0);
    archives.emplace_back("Python, forced zip64", dir / "python.zip");

    // A directory whose counts and offset are left to the zip64 end record, as for more than
    // 65,535 entries; and a locator in front of an end record that holds the real values.
    const RawZip z = layoutZip({RawEntry("a.txt", "hello")});
    const auto dirStart = std::uint32_t(z.locals.size());
    const auto dirSize = std::uint32_t(z.central.size());
    writeFile(dir / "counts.zip", z.locals + z.central + zip64End(1, dirSize, dirStart) +
                                      endRecord(0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF));
    archives.emplace_back("counts in the zip64 record", dir / "counts.zip");
    writeFile(dir / "locator.zip",
              z.locals + z.central + zip64End(1, dirSize, dirStart) + endRecord(0, 0, 1, 1, dirSize, dirStart));
    archives.emplace_back("zip64 locator", dir / "locator.zip");

    // Records that need version 4.5 for a zip64 extra block, in both headers or in the local one
    // only (as tools write zip64 for small entries).
    const RawEntry withBlock = RawEntry("a.txt", "hello").withVersionNeeded(45);
    const RawZip block = layoutZip({withBlock.withExtra(le16(1) + le16(8) + le32(5) + le32(0))});
    writeFile(dir / "block.zip", block.bytes());
    archives.emplace_back("a zip64 extra block", dir / "block.zip");
    const RawZip plain = layoutZip({withBlock});
    writeFile(dir / "local.zip", block.locals + plain.central +
                                     endRecord(0, 0, 1, 1, dirSize, std::uint32_t(block.locals.size())));
    archives.emplace_back("a zip64 extra block in the local header", dir / "local.zip");

    // An archive of more than 4 GiB: its directory's offset no longer fits the end record.
    const std::uint64_t far = (std::uint64_t(1) << 32) + 100;
    writeAt(dir / "huge.zip", 0, z.locals);
    writeAt(dir / "huge.zip", far, z.central + endRecord(0, 0, 1, 1, dirSize, std::uint32_t(far)));
    archives.emplace_back("over 4 GiB", dir / "huge.zip");

    for (const auto& [what, zip] : archives)
        EXPECT_EQ(openError(zip), Zip64Text) << what;

    // 65,535 entries fit the end record: such an archive is no zip64 one.
    std::vector<RawEntry> many;
    for (int i = 0; i < 65535; ++i)
        many.emplace_back(std::to_string(i));
    writeFile(dir / "many.zip", layoutZip(many).bytes());
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "many.zip"), false)) << archive.ErrorMessage();
    EXPECT_EQ(archive.EntryCount(), 65535);
}

// A stored entry of 2 GiB and a bit, and a small one behind it whose local header lies beyond
// 2 GiB, in an archive of a little over 2 GiB: both extract, byte for byte.
TEST(ZipLimits, EntriesOfTwoToFourGiBExtract)
{
    TempDir dir;
    const fs::path zip = dir / "big.zip";
    const std::uint64_t zeros = (std::uint64_t(1) << 31) + 4096;
    const std::string tail = "the end";
    const std::uint64_t size = zeros + tail.size();
    const std::uint32_t crc = crcOfZerosThen(zeros, tail);
    const std::string name = "big.bin";
    const std::string common = le16(0) + le16(0) + le16(0x6000) + le16(0x4A21);
    const std::string sizes = le32(crc) + le32(std::uint32_t(size)) + le32(std::uint32_t(size));
    const std::string local = le32(0x04034B50) + le16(20) + common + sizes + le16(std::uint16_t(name.size())) +
        le16(0) + name;
    writeAt(zip, 0, local);
    writeAt(zip, local.size() + zeros, tail);

    const std::uint64_t afterOffset = local.size() + size;
    RawZip after = layoutZip({RawEntry("after.txt", "small")});
    const std::uint64_t dirStart = afterOffset + after.locals.size();
    // The small entry's central record, with its local header where it really is.
    std::string afterCentral = after.central;
    setBytes(afterCentral, 42, le32(std::uint32_t(afterOffset)));
    const std::string bigCentral = le32(0x02014B50) + char(20) + char(3) + le16(20) + common + sizes +
        le16(std::uint16_t(name.size())) + le16(0) + le16(0) + le16(0) + le16(0) + le32(0) + le32(0) + name;
    const std::string central = bigCentral + afterCentral;
    writeAt(zip, afterOffset,
            after.locals + central + endRecord(0, 0, 2, 2, std::uint32_t(central.size()), std::uint32_t(dirStart)));

    ZipConfig::UsePlugin = true;
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), false)) << archive.ErrorMessage();
        ASSERT_EQ(archive.EntryCount(), 2);
        EXPECT_TRUE(archive.Entry(1)->Verify()) << archive.Entry(1)->ErrorMessage();
    }
    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    EXPECT_EQ(fs::file_size(dir / "out" / name), size);
    EXPECT_EQ(readFile(dir / "out" / "after.txt"), "small");
    std::string end(tail.size(), '\0');
    const int fd = ::open((dir / "out" / name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, end.data(), end.size(), off_t(zeros)), ssize_t(end.size()));
    ::close(fd);
    EXPECT_EQ(end, tail);
}

} // namespace
} // namespace lv::test
