#include <gtest/gtest.h>

#include <filesystem>

#include "engine/LVTagger.h"
#include "engine/crypto/SHA_512.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string record(std::string_view bytes) { return char(std::uint8_t(bytes.size())) + std::string(bytes); }

std::string digestOf(std::string_view key)
{
    SHA_512 hash;
    hash.Update(key);
    return hash.Final();
}

// A tagger that has accepted an AES file with a 3-byte digest.
LVTagger checkedAes(const TempDir& dir)
{
    writeFile(dir / "aes", LVTagger::headerBytes("AES", "abc") + "body");
    LVTagger tagger;
    EXPECT_TRUE(tagger.CheckTag(FolderItem(dir / "aes")));
    return tagger;
}

TEST(LVTagger, CreateTagWritesTheHeaderAsTabled)
{
    const std::string digest = digestOf("correct horse");
    ASSERT_EQ(digest.size(), 64u);
    for (auto [cipher, code] : {std::pair{"Blowfish", '0'}, {"Serpent", '1'}, {"AES", '2'}}) {
        SCOPED_TRACE(cipher);
        TempDir dir;
        writeFile(dir / "out", "");
        LVTagger tagger;
        tagger.EncryptionType = cipher;
        tagger.q = "correct horse";
        ASSERT_TRUE(tagger.CreateTag(FolderItem(dir / "out")));

        const std::string bytes = readFile(dir / "out");
        ASSERT_EQ(bytes.size(), 142u);
        EXPECT_EQ(tagger.TagLength, 142);
        EXPECT_EQ(tagger.q, digest);  // the key is replaced by its digest
        EXPECT_EQ(bytes[0], 29);
        EXPECT_EQ(bytes.substr(1, 29), "<HEAD>__LVEFCDX__VER__</HEAD>");
        EXPECT_EQ(bytes[30], 37);
        EXPECT_EQ(bytes.substr(31, 37), "<FileTypeVersion>1</FlileTypeVersion>");
        EXPECT_EQ(bytes[68], 8);
        EXPECT_EQ(bytes.substr(69, 8), std::string("<x>") + code + "</x>");
        EXPECT_EQ(bytes[77], 64);
        EXPECT_EQ(bytes.substr(78), digest);
    }
}

TEST(LVTagger, CreateTagFailures)
{
    TempDir dir;
    LVTagger missing;
    missing.EncryptionType = "AES";
    missing.q = "k";
    EXPECT_FALSE(missing.CreateTag(FolderItem(dir / "missing")));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    writeFile(dir / "out", "");
    LVTagger unknown;
    unknown.EncryptionType = "Twofish";
    unknown.q = "k";
    EXPECT_FALSE(unknown.CreateTag(FolderItem(dir / "out")));
    EXPECT_EQ(fs::file_size(dir / "out"), 0u);
}

TEST(LVTagger, CheckTagReadsWhatCreateTagWrote)
{
    TempDir dir;
    writeFile(dir / "enc", "");
    LVTagger writer;
    writer.EncryptionType = "Serpent";
    writer.q = "pässwörd";
    ASSERT_TRUE(writer.CreateTag(FolderItem(dir / "enc")));
    {
        auto body = FolderItem(dir / "enc").openAsBinaryFile(true);
        body->setPosition(std::uint64_t(writer.TagLength));
        ASSERT_TRUE(body->write("ciphertext"));
    }

    LVTagger reader;
    ASSERT_TRUE(reader.CheckTag(FolderItem(dir / "enc")));
    EXPECT_TRUE(reader.IsLockvane);
    EXPECT_EQ(reader.FileTypeVersion, 1);
    EXPECT_EQ(reader.EncryptionType, "Serpent");
    EXPECT_EQ(reader.q, digestOf("pässwörd"));
    EXPECT_EQ(reader.TagLength, 142);

    // The header holds nothing that changes from job to job.
    writeFile(dir / "again", "");
    LVTagger second;
    second.EncryptionType = "Serpent";
    second.q = "pässwörd";
    ASSERT_TRUE(second.CreateTag(FolderItem(dir / "again")));
    EXPECT_EQ(readFile(dir / "again"), readFile(dir / "enc").substr(0, 142));
}

TEST(LVTagger, CheckTagRefusesWhatIsNoWholeHeader)
{
    const std::string whole = LVTagger::headerBytes("Blowfish", std::string(64, 'd'));
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"shorter than the tag", whole.substr(0, 29)},
        {"other tag", record("<HEAD>__LVEFCDX__VER__</HEAX>") + whole.substr(30)},
        {"zip archive", "PK\x03\x04 not an encrypted file"},
        {"ends after the tag", whole.substr(0, 30)},
        {"ends inside the version", whole.substr(0, 40)},
        {"ends before the digest", whole.substr(0, 77)},
        {"ends inside the digest", whole.substr(0, 141)},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "f", c.bytes);
        LVTagger tagger = checkedAes(dir);
        EXPECT_FALSE(tagger.CheckTag(FolderItem(dir / "f")));
        // The previous file's fields stay.
        EXPECT_EQ(tagger.EncryptionType, "AES");
        EXPECT_EQ(tagger.q, "abc");
        EXPECT_EQ(tagger.TagLength, 81);
    }
    LVTagger tagger;
    EXPECT_FALSE(tagger.CheckTag(FolderItem(dir.path())));
    EXPECT_FALSE(tagger.CheckTag(FolderItem(dir / "missing")));
    EXPECT_FALSE(tagger.IsLockvane);
}

TEST(LVTagger, VersionAndCipherRecords)
{
    struct Case {
        const char* what;
        std::string version;
        std::string cipher;
        std::int32_t expectedVersion;
        const char* expectedCipher;
    };
    const Case cases[] = {
        {"later version", "<FileTypeVersion>2</FlileTypeVersion>", "<x>1</x>", 2, "Serpent"},
        {"closing tag repeats the name", "<FileTypeVersion>1</FileTypeVersion>", "<x>0</x>", 1, "Blowfish"},
        {"no digit", "<FileTypeVersion></FlileTypeVersion>", "<x>2</x>", 0, "AES"},
        {"no opening tag", "garbage", "<x>2</x>", 0, "AES"},
        {"unknown cipher code", "<FileTypeVersion>1</FlileTypeVersion>", "<x>3</x>", 1, ""},
        {"no cipher code", "<FileTypeVersion>1</FlileTypeVersion>", "<y>0</y>", 1, ""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(dir / "f", record(LVTagger::Tag) + record(c.version) + record(c.cipher) + record("dig") + "body");
        LVTagger tagger = checkedAes(dir);
        ASSERT_TRUE(tagger.CheckTag(FolderItem(dir / "f")));
        EXPECT_EQ(tagger.FileTypeVersion, c.expectedVersion);
        // An unknown code never leaves the previous file's cipher in place.
        EXPECT_EQ(tagger.EncryptionType, c.expectedCipher);
        EXPECT_EQ(tagger.q, "dig");
        EXPECT_EQ(tagger.TagLength, std::int32_t(4 + 29 + c.version.size() + c.cipher.size() + 3));
    }
}

TEST(LVTagger, ParseLine)
{
    EXPECT_EQ(LVTagger::ParseLine("<x>2</x>", "x"), "2");
    EXPECT_EQ(LVTagger::ParseLine("<x>2", "x"), "");
    EXPECT_EQ(LVTagger::ParseLine("</x><x>2", "x"), "");
    EXPECT_EQ(LVTagger::ParseLine("<y>2</y>", "x"), "");
}

} // namespace
} // namespace lv
