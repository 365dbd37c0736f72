// The entry data reader: MacBinary payloads split into forks, the header recognised and applied,
// progress and abort.

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "platform/DateTime.h"
#include "platform/FolderItem.h"
#include "platform/MacMetadataStore.h"
#include "platform/compression/Crc.h"
#include "support/TempDir.h"
#include "zip/MacBinary.h"
#include "zip/SeqStreams.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipProgressNotifier.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

// A caller's sink that keeps what it gets.
class StringSink final : public SeqDataOutputStream {
public:
    bool Write(std::string_view data) override
    {
        bytes += data;
        ++writes;
        return !failWrite;
    }
    bool Open() override
    {
        opened = true;
        bytes.clear();
        return !failOpen;
    }
    bool Close() override
    {
        closed = opened;
        return !failClose;
    }
    void GetErrorDescription(std::int32_t& code, std::string& message) const override
    {
        code = 0;
        message.clear();
    }
    bool Skip(std::int32_t) override { return false; }
    void ClearError() override {}
    bool Flush() override { return true; }

    std::string bytes;
    bool opened = false, closed = false;
    bool failOpen = false, failWrite = false, failClose = false;
    int writes = 0;
};

MemoryBlock macBinaryHeader(std::int32_t dataLen, std::int32_t rsrcLen, std::string_view name,
    std::optional<std::int64_t> modified = std::nullopt)
{
    ZipArchive maker;
    return maker.MakeMacBinaryHeader(dataLen, rsrcLen, name, "APPL", "LVzp", modified, modified);
}

std::string pad(std::string s)
{
    s.resize(std::size_t(macbinary::padded(std::int64_t(s.size()))), '\0');
    return s;
}

// A one-entry archive of another tool (no ZPIT field) holding `payload`.
fs::path archiveOf(const TempDir& dir, const std::string& name, const std::string& payload, bool deflate)
{
    const fs::path zip = dir / (name + (deflate ? ".d.zip" : ".s.zip"));
    RawEntry e(name, payload);
    writeFile(zip, layoutZip({deflate ? e.deflated() : e}).bytes());
    return zip;
}

class MacBinaryPayload : public ::testing::TestWithParam<bool> {};

TEST_P(MacBinaryPayload, IsSplitIntoForksAndHeader)
{
    ZipConfig::UsePlugin = true;
    TempDir dir;
    const std::string data = randomBytes(20000, 1), rsrc = randomBytes(300, 2);
    const std::string payload = macBinaryHeader(20000, 300, "Tool", 1434000000).toString() + pad(data) + pad(rsrc);
    ASSERT_EQ(payload.size(), 20608u);
    const fs::path zip = archiveOf(dir, "Tool", payload, GetParam());

    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(zip), false));
    const ZipEntryPtr entry = archive.Entry(1);
    StringSink dataOut, rsrcOut;
    std::optional<MemoryBlock> header;
    ASSERT_TRUE(entry->Extract(true, &dataOut, &rsrcOut, header)) << entry->ErrorMessage();
    EXPECT_EQ(dataOut.bytes, data);
    EXPECT_EQ(rsrcOut.bytes, rsrc);
    ASSERT_TRUE(header);
    EXPECT_EQ(entry->z_MBHdrLevel(*header), 3);

    // Without decoding the stream is one data fork.
    StringSink whole;
    ASSERT_TRUE(entry->Extract(false, &whole, nullptr, header));
    EXPECT_EQ(whole.bytes, payload);
    EXPECT_FALSE(header);

    ASSERT_TRUE(entry->Extract(FolderItem(dir / "Tool"), true)) << entry->ErrorMessage();
    const FolderItem out(dir / "Tool");
    EXPECT_EQ(readFile(out.path()), data);
    EXPECT_EQ(MacMetadataStore::readResourceFork(out.path()), rsrc);
    EXPECT_EQ(out.macType(), "APPL");
    EXPECT_EQ(out.macCreator(), "LVzp");
    EXPECT_EQ(out.modificationDate(), std::optional<std::int64_t>(1434000000));
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, MacBinaryPayload, ::testing::Bool());

// A sink that fails is never taken for success, and the entry says where it failed.
TEST(CallerStreams, FailuresOfTheSinksFailTheEntry)
{
    ZipConfig::UsePlugin = true;
    TempDir dir;
    const std::string data = randomBytes(3000, 1);
    const std::string payload = macBinaryHeader(3000, 10, "Tool").toString() + pad(data) + pad("0123456789");
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(archiveOf(dir, "Tool", payload, false)), false));
    const ZipEntryPtr entry = archive.Entry(1);

    enum Failing { OpenData, WriteData, CloseData, OpenRsrc, WriteRsrc };
    const struct {
        Failing failing;
        const char* message;
    } cases[] = {
        {OpenData, "Opening destination file failed"},
        {WriteData, "File write error (disk full?)"},
        {CloseData, "File write error (disk full?)"},
        {OpenRsrc, "Opening destination rsrc fork failed"},
        {WriteRsrc, "File write error (disk full?)"},
    };
    for (const auto& c : cases) {
        StringSink dataOut, rsrcOut;
        dataOut.failOpen = c.failing == OpenData;
        dataOut.failWrite = c.failing == WriteData;
        dataOut.failClose = c.failing == CloseData;
        rsrcOut.failOpen = c.failing == OpenRsrc;
        rsrcOut.failWrite = c.failing == WriteRsrc;
        std::optional<MemoryBlock> header;
        EXPECT_FALSE(entry->Extract(true, &dataOut, &rsrcOut, header)) << c.failing;
        EXPECT_EQ(entry->ErrorMessage(), c.message) << c.failing;
        if (c.failing == OpenRsrc) {
            // The data fork was complete and closed before the resource fork began.
            EXPECT_EQ(dataOut.bytes, data);
            EXPECT_TRUE(dataOut.closed);
        }
    }

    std::optional<MemoryBlock> header;
    EXPECT_FALSE(entry->Extract(false, nullptr, nullptr, header));
    EXPECT_EQ(entry->ErrorMessage(), "Internal error (exception)");
    ASSERT_TRUE(archive.Close());
    EXPECT_FALSE(entry->Verify());
    EXPECT_EQ(entry->ErrorMessage(), "Archive is closed");
}

TEST(MacBinaryHeaderDecoding, LevelsOfRecognition)
{
    ZipEntry entry(std::make_shared<ZipArchiveData>(), std::nullopt, "e", nullptr, "");
    entry.z_Header().setUInt32Value(24, 1000);  // room for the forks the headers claim
    auto withCrc = [](MemoryBlock h) {
        h.setUInt16Value(macbinary::offset::Crc, Crc16_MemoryBlock(h, 0, macbinary::offset::Crc));
        return h;
    };
    auto changed = [&](std::size_t at, std::uint8_t value, bool fixCrc = true) {
        MemoryBlock h = macBinaryHeader(10, 20, "name");
        h.setByteValue(at, value);
        return fixCrc ? withCrc(h) : h;
    };
    MemoryBlock longName = macBinaryHeader(10, 20, "name");
    longName.setByteValue(1, 40);
    longName = withCrc(longName);

    struct Case {
        const char* what;
        MemoryBlock header;
        std::int32_t level;
        std::int32_t withMacBinaryI;
    };
    const std::vector<Case> cases = {
        {"written here", macBinaryHeader(10, 20, "name"), 3, 3},
        {"version after III", changed(123, 131), 4, 4},
        {"no mBIN", changed(102, 'x'), 2, 2},
        {"wrong CRC", changed(124, 0, false), 0, 1},
        {"wrong CRC, long name",
            [&] {
                MemoryBlock h = longName;
                h.setByteValue(124, 0);
                return h;
            }(),
            0, 0},
        {"name length 0", changed(1, 0), 0, 0},
        {"name length 64", changed(1, 64), 0, 0},
        {"byte 0", changed(0, 1), 0, 0},
        {"byte 82", changed(82, 1), 0, 0},
        {"byte 127", changed(127, 1), 0, 0},
        {"negative fork length", changed(87, 0x80), 0, 0},
        {"forks beyond the entry", macBinaryHeader(900, 20, "name"), 0, 0},
    };
    for (const Case& c : cases) {
        entry.EnableMacBinary1Detection(false);
        EXPECT_EQ(entry.z_MBHdrLevel(c.header), c.level) << c.what;
        entry.EnableMacBinary1Detection(true);
        EXPECT_EQ(entry.z_MBHdrLevel(c.header), c.withMacBinaryI) << c.what;
    }
}

// A file whose first 128 bytes pass every test of a MacBinary II header by chance (as one entry
// of a Java archive does) is no MacBinary stream when the forks it claims cannot fit in it.
TEST(MacBinaryHeaderDecoding, HeaderWhoseForksCannotFitIsPlainData)
{
    ZipConfig::UsePlugin = true;
    TempDir dir;
    MemoryBlock chance(macbinary::HeaderSize, false);
    chance.setStringValue(0, randomBytes(macbinary::HeaderSize, 5));
    chance.setByteValue(0, 0);
    chance.setByteValue(1, 32);
    chance.setByteValue(82, 0);
    chance.setUInt32Value(83, 19201);
    chance.setUInt32Value(87, 687895040);
    chance.setStringValue(102, "none");
    chance.setUInt16Value(124, Crc16_MemoryBlock(chance, 0, 124));
    chance.setUInt16Value(126, 0);
    const std::string plain = chance.toString() + randomBytes(528, 6);
    ASSERT_EQ(plain.size(), 656u);

    // The same size holds a real MacBinary stream whose resource fork is not padded.
    const std::string data = randomBytes(300, 7), rsrc = randomBytes(144, 8);
    const std::string real = macBinaryHeader(300, 144, "real").toString() + pad(data) + rsrc;
    ASSERT_EQ(real.size(), 656u);

    for (const bool deflate : {false, true}) {
        for (const std::uint16_t flags : {0, 8}) {
            SCOPED_TRACE(std::to_string(deflate) + " " + std::to_string(flags));
            const fs::path zip = dir / "t.zip";
            RawEntry a("chance.bin", plain), b("real", real);
            if (deflate) {
                a = a.deflated();
                b = b.deflated();
            }
            writeFile(zip, layoutZip({a.withFlags(flags), b.withFlags(flags)}).bytes());
            fs::remove_all(dir / "out");
            ASSERT_EQ(extractAll(zip, dir / "out"), "");
            EXPECT_EQ(readFile(dir / "out" / "chance.bin"), plain);
            EXPECT_EQ(MacMetadataStore::readResourceFork(dir / "out" / "chance.bin"), std::nullopt);
            EXPECT_EQ(readFile(dir / "out" / "real"), data);
            EXPECT_EQ(MacMetadataStore::readResourceFork(dir / "out" / "real"), rsrc);

            ZipArchive archive;
            ASSERT_TRUE(archive.Open(FolderItem(zip), false));
            std::optional<MemoryBlock> header;
            EXPECT_FALSE(archive.Entry(1)->GetMacBinaryHeader(header));
            EXPECT_EQ(archive.Entry(1)->ErrorMessage(), "");
            EXPECT_FALSE(header);
            ASSERT_TRUE(archive.Entry(2)->GetMacBinaryHeader(header)) << archive.Entry(2)->ErrorMessage();
            EXPECT_EQ(header->uint32Value(83), 300u);
        }
    }

    // A short entry has no header to fetch, and that is no failure.
    ZipArchive small;
    ASSERT_TRUE(small.Open(FolderItem(archiveOf(dir, "small", "tiny", false)), false));
    std::optional<MemoryBlock> header;
    EXPECT_FALSE(small.Entry(1)->GetMacBinaryHeader(header));
    EXPECT_EQ(small.Entry(1)->ErrorMessage(), "");
}

// The header's name comes back where the archive had to store it cleaned; a "/" becomes ":".
TEST(MacBinaryHeaderDecoding, MacNameIsRestoredWithoutReplacingAnything)
{
    ZipConfig::UsePlugin = true;
    TempDir dir;
    const std::string payload = macBinaryHeader(4, 0, "A/B\\C").toString() + pad("data");
    const fs::path zip = archiveOf(dir, "A-B-C", payload, false);
    ASSERT_EQ(extractAll(zip, dir / "out"), "");
    EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{"A:B\\C"});
    EXPECT_EQ(readFile(dir / "out" / "A:B\\C"), "data");
    // A DOS date and no header date: the entry's date stays.
    EXPECT_EQ(FolderItem(dir / "out" / "A:B\\C").modificationDate(), fromDosDateTime(DosDateTime{0x4A21, 0x6000}));

    writeFile(dir / "again" / "A:B\\C", "mine");
    ASSERT_EQ(extractAll(zip, dir / "again"), "");
    EXPECT_EQ(readFile(dir / "again" / "A:B\\C"), "mine");
    EXPECT_EQ(readFile(dir / "again" / "A-B-C"), "data");

    // A name a Mac wrote in the encoding of its script (script byte with bit 7 set).
    const struct {
        std::uint8_t script;
        std::string macName, stored, restored;
    } scripts[] = {
        {0x80, "caf\x8E/x", "caf\xC3\xA9-x", "caf\xC3\xA9:x"},
        {0x87, "\x94\xEE\xF2\xEE/1", "\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE-1", "\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE:1"},
        {0x9A, "\xA0/1", "\xC2\xA0-1", "\xC2\xA0-1"},  // Tibetan: no conversion, the name stays
    };
    for (const auto& c : scripts) {
        MemoryBlock header = macBinaryHeader(4, 0, c.macName);
        header.setByteValue(macbinary::offset::Script, c.script);
        header.setUInt16Value(macbinary::offset::Crc, Crc16_MemoryBlock(header, 0, macbinary::offset::Crc));
        const fs::path scriptZip = archiveOf(dir, c.stored, header.toString() + pad("data"), false);
        const fs::path out = dir / ("script" + std::to_string(c.script));
        ASSERT_EQ(extractAll(scriptZip, out), "") << int(c.script);
        EXPECT_EQ(listTree(out), std::vector<std::string>{c.restored}) << int(c.script);
    }
}

class AbortingMonitor final : public ZipProgressNotifier {
public:
    void zipProgress(ZipEntry&, std::int32_t total, std::int32_t done, bool& abort) override
    {
        reports.emplace_back(done, total);
        abort = done >= abortAt;
    }
    void ZipFileError(const FolderItem&, std::int32_t, const std::string&, bool&) override {}
    void ZipFileStarting(const FolderItem&, bool&) override {}

    std::int32_t abortAt = 0;
    std::vector<std::pair<std::int32_t, std::int32_t>> reports;
};

TEST(EntryProgress, ReportsEveryChunkAndStopsOnAbort)
{
    ZipConfig::UsePlugin = true;
    TempDir dir;
    const fs::path zip = archiveOf(dir, "p", randomBytes(40000, 4), true);
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(zip), false));
    AbortingMonitor monitor;
    monitor.abortAt = 1 << 30;
    archive.SetProgressMonitor(&monitor);
    ASSERT_TRUE(archive.Entry(1)->Verify());
    EXPECT_EQ(monitor.reports,
        (std::vector<std::pair<std::int32_t, std::int32_t>>{
            {0, 40000}, {16384, 40000}, {32768, 40000}, {40000, 40000}}));

    monitor.abortAt = 16384;
    EXPECT_FALSE(archive.Entry(1)->Extract(FolderItem(dir / "p"), true));
    EXPECT_EQ(archive.Entry(1)->ErrorMessage(), "Aborted");
    EXPECT_FALSE(fs::exists(dir / "p"));
}

} // namespace
} // namespace lv::test
