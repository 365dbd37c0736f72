// MacBinary III headers and ZPIT extra fields as this library writes them, checked against
// golden bytes and an outside MacBinary decoder.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "WriterTestSupport.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/MacMetadataStore.h"
#include "zip/MacBinary.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {
namespace {

// MakeMacBinaryHeader(10, 300, "Read Me", "TEXT", "ttxt", 2010-01-01, 1950-01-01) in UTC.
const std::string GoldenHeader = fromHex(
    "000752656164204d6500000000000000"
    "00000000000000000000000000000000"
    "00000000000000000000000000000000"
    "00000000000000000000000000000000"
    "00544558547474787400000000000000"
    "0000000000000a0000012cc762eb8056"
    "8713000000006d42494e000000000000"
    "0000000000000000000082816aef0000");

constexpr std::int64_t Jan2010 = 1262304000;
constexpr std::int64_t Jan1950 = -631152000;

class UtcTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        m_savedTz = tz ? std::optional<std::string>(tz) : std::nullopt;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (m_savedTz)
            setenv("TZ", m_savedTz->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        ZipConfig::UsePlugin = false;
    }

private:
    std::optional<std::string> m_savedTz;
};

using MacBinaryHeader = UtcTime;

TEST_F(MacBinaryHeader, WithoutItemMatchesGoldenBytes)
{
    ZipArchive archive;
    const MemoryBlock h = archive.MakeMacBinaryHeader(10, 300, "Read Me", "TEXT", "ttxt", Jan2010, Jan1950);
    EXPECT_EQ(h.toString(), GoldenHeader);
    // A 2010 date lies beyond 2^31 seconds after 1904 and reads as negative when signed.
    EXPECT_LT(h.int32Value(macbinary::offset::Created), 0);
}

TEST_F(MacBinaryHeader, NameIsCutToSixtyThreeBytesAtACharacterBoundary)
{
    ZipArchive archive;
    // 62 ASCII bytes, then "é" (2 bytes) would end at byte 64.
    const std::string name = std::string(62, 'a') + "\xC3\xA9" + "tail";
    const MemoryBlock h = archive.MakeMacBinaryHeader(0, 0, name, "", "", std::nullopt, std::nullopt);
    EXPECT_EQ(h.byteValue(macbinary::offset::NameLength), 62);
    EXPECT_EQ(h.stringValue(macbinary::offset::Name, 63), std::string(62, 'a') + '\0');

    const MemoryBlock ascii = archive.MakeMacBinaryHeader(0, 0, std::string(70, 'b'), "", "", std::nullopt, std::nullopt);
    EXPECT_EQ(ascii.byteValue(macbinary::offset::NameLength), 63);
    EXPECT_THROW(archive.MakeMacBinaryHeader(0, 0, "", "", "", std::nullopt, std::nullopt), RuntimeException);
}

TEST_F(MacBinaryHeader, ItemWithoutFinderInformationTakesLockAndVisibilityFromTheFile)
{
    TempDir dir;
    writeFile(dir / ".hidden", "x");
    std::filesystem::permissions(dir / ".hidden", std::filesystem::perms(0444));
    ZipArchive archive;
    const FolderItem item(dir / ".hidden");
    const MemoryBlock h = archive.MakeMacBinaryHeader(item, 1, 0, item.name());
    EXPECT_EQ(h.byteValue(macbinary::offset::Protected), 1);
    EXPECT_EQ(h.byteValue(macbinary::offset::FinderFlagsHigh), 0x40);  // isInvisible
    EXPECT_EQ(h.byteValue(macbinary::offset::FinderFlagsLow), 0);
    EXPECT_EQ(h.uint16Value(macbinary::offset::Crc), referenceCrc16(h.toString().substr(0, 124)));
}

// The payload of entry `name` in `zip`, through Info-ZIP's unzip.
std::string entryBytes(const std::filesystem::path& zip, const std::string& name)
{
    std::string bytes;
    EXPECT_EQ(runCommand("unzip -p " + shellQuote(zip) + " " + shellQuote(name), &bytes), 0);
    return bytes;
}

// The raw central extra field of every entry, as Python's zipfile reads it: "name=hex" lines.
std::string centralExtras(const std::filesystem::path& zip)
{
    std::string out;
    EXPECT_EQ(runCommand("python3 -c 'import sys,zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist(): "
                         "print(i.filename + \"=\" + i.extra.hex())' " + shellQuote(zip), &out), 0);
    return out;
}

class MacBinaryEntry : public UtcTime, public ::testing::WithParamInterface<bool> {};

TEST_P(MacBinaryEntry, FileWithResourceForkIsStoredAsMacBinaryThatOutsideToolsSplit)
{
    ZipConfig::UsePlugin = GetParam();
    TempDir dir;
    const std::filesystem::path file = dir / "Read Me";
    const std::string data = "0123456789";
    const std::string fork = randomBytes(300, 9);
    writeFile(file, data);
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(file, fork));
    FolderItem item(file);
    FinderInfo info;
    info.setType("TEXT");
    info.setCreator("ttxt");
    info.setFinderFlags(0x4101);  // isInvisible, hasBeenInited, isOnDesk
    ASSERT_TRUE(item.setFinderInfo(info));
    ASSERT_TRUE(item.setModificationDate(Jan1950));
    writeFile(dir / "plain.txt", "no fork");

    const std::filesystem::path zip = dir / "out.zip";
    {
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        ASSERT_EQ(archive.AddItemToRoot(item, ZipArchive::MacBinarySmart), 1) << archive.ErrorMessage();
        ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "plain.txt"), ZipArchive::MacBinarySmart), 2);
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    }

    const std::string payload = entryBytes(zip, "Read Me");
    ASSERT_EQ(payload.size(), 640u);  // 128 + 128 + 384
    std::string expected = GoldenHeader;
    // The creation date is the file's own (it cannot be set here); the flags as given, with
    // hasBeenInited cleared.
    const std::uint32_t created = item.creationDate() ? toMacDate(*item.creationDate()) : 0;
    for (int i = 0; i < 4; ++i)
        expected[std::size_t(91 + i)] = char(created >> (24 - 8 * i));
    expected[73] = char(0x40);
    expected[101] = char(0x01);
    const std::uint16_t crc = referenceCrc16(expected.substr(0, 124));
    expected[124] = char(crc >> 8);
    expected[125] = char(crc);
    EXPECT_EQ(payload.substr(0, 128), expected);
    EXPECT_EQ(payload.substr(128, 10), data);
    EXPECT_EQ(payload.substr(138, 118), std::string(118, '\0'));
    EXPECT_EQ(payload.substr(256, 300), fork);
    EXPECT_EQ(payload.substr(556), std::string(84, '\0'));

    // macutils' macsave splits the stream into the same forks (it writes spaces as "_").
    writeFile(dir / "split" / "in.bin", payload);
    std::string out;
    ASSERT_EQ(runCommand("cd " + shellQuote(dir / "split") + " && macsave -3 < in.bin", &out), 0) << out;
    EXPECT_EQ(readFile(dir / "split" / "Read_Me.data"), data);
    EXPECT_EQ(readFile(dir / "split" / "Read_Me.rsrc"), fork);

    // ZPIT fields: the long form with the item's name, the short form for a plain file (no
    // Finder information: zero type and creator).
    const std::string extras = centralExtras(zip);
    EXPECT_NE(extras.find("Read Me=052614005a5049540752656164204d65544558547474787" "4"), std::string::npos) << extras;
    EXPECT_NE(extras.find("plain.txt=05270c005a5049540000000000000000"), std::string::npos) << extras;
}

INSTANTIATE_TEST_SUITE_P(StoredAndDeflated, MacBinaryEntry, ::testing::Bool());

TEST(ZpitField, BuiltBlocksMatchGoldenBytes)
{
    ZipArchive archive;
    struct Case {
        std::string type, creator, name, hex;
    };
    const Case cases[] = {
        {"TEXT", "ttxt", "", "05270c005a504954544558547474787" "4"},
        {"", "", "", "05270c005a5049540000000000000000"},
        {"APPL", "????", "a/b", "052610005a50495403612f62" "4150504c3f3f3f3f"},
    };
    for (const Case& c : cases) {
        const ZipExtraFieldPtr field = archive.MakeZipExtraField(c.type, c.creator, c.name);
        EXPECT_EQ(field->AsData(), fromHex(c.hex)) << c.name;
        std::string type, creator, name;
        ASSERT_TRUE(field->GetTypeCreatorName(type, creator, name));
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(type, fromHex(c.hex).substr(c.name.empty() ? 8 : 9 + c.name.size(), 4));
    }
    // Names longer than the one-byte length are cut at a character boundary.
    const ZipExtraFieldPtr longName = archive.MakeZipExtraField("TEXT", "ttxt", std::string(254, 'x') + "\xC3\xA9");
    EXPECT_EQ(longName->AsData().size(), 17u + 254u);
}

TEST(ZpitField, ParsingNeverReadsOutsideTheField)
{
    struct Case {
        const char* what;
        std::string hex;
        bool found;
        std::string name;
    };
    const Case cases[] = {
        {"short form", "05270c005a504954544558547474787" "4", true, ""},
        {"another block first", "3412 0400 01020304 05270c005a504954544558547474787" "4", true, ""},
        {"long form with empty name", "05260d005a50495400544558547474787" "4", true, ""},
        {"last of two ZPIT blocks wins", "05270c005a5049544141414141414141 05260e005a504954014e4242424242424242", true, "N"},
        {"data size 11 is ignored", "05270b005a5049545445585474747878", false, ""},
        {"long form of 12 data bytes is too short", "05260c005a504954544558547474787" "4", false, ""},
        {"data size 0 ends the scan", "3412 0000 05270c005a504954544558547474787" "4", false, ""},
        {"first block claims more than remains", "3412 ff00 05270c005a504954544558547474787" "4", false, ""},
        {"name length overruns the block", "052610005a504954c8414141544558547474787" "4", false, ""},
    };
    for (const Case& c : cases) {
        ZipExtraField field(nullptr, fromHex(c.hex));
        std::string type = "keep", creator = "keep", name = "keep";
        EXPECT_EQ(field.GetTypeCreatorName(type, creator, name), c.found) << c.what;
        if (c.found)
            EXPECT_EQ(name, c.name) << c.what;
        else
            EXPECT_EQ(type + creator + name, "keepkeepkeep") << c.what;
    }
}

TEST(ZpitField, UnixType1BlockOnlyWhenItIsTheWholeField)
{
    const ZipExtraField ux(nullptr, fromHex("5558 0800 01000000 02000000"));
    std::int32_t acc = 0, mod = 0;
    EXPECT_TRUE(ux.IsUnixType1Only());
    EXPECT_TRUE(ux.GetUnixTimes(acc, mod));
    EXPECT_EQ(acc, 1);
    EXPECT_EQ(mod, 2);
    EXPECT_FALSE(ZipExtraField(nullptr, fromHex("5558 0800 00000000 02000000")).GetUnixTimes(acc, mod));
    EXPECT_FALSE(ZipExtraField(nullptr, fromHex("5558 0800 01000000 02000000 3412 0000")).IsUnixType1Only());
    EXPECT_FALSE(ZipExtraField(nullptr, "").IsUnixType1Only());
}

} // namespace
} // namespace lv::test
