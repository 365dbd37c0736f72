// The typed key and the body's master key leave the process's memory as soon as a job no longer
// needs them: the key once both derivations are done, the master key once the body is enciphered
// or deciphered. The test holds neither itself: it makes the key afresh where it needs it and
// hands it over by moving it, and it looks for both through a scan of the whole process.

#include <gtest/gtest.h>

#include <botan/secmem.h>

#include "RoadFixture.h"
#include "engine/KeyCheck.h"
#include "engine/crypto/KeyStretch.h"
#include "support/MemoryScan.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> Nowhere;

class KeyWiping : public RoadTest {
protected:
    static constexpr std::size_t KeyLength = 40;  // no short-string copy inside a std::string
    static constexpr std::size_t MasterLength = 64;

    // The same 40 letters every time, written into `out`.
    template <typename Bytes>
    static void writeKey(Bytes&& out)
    {
        const char* const letters = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (std::size_t i = 0; i < KeyLength; ++i)
            out[i] = static_cast<std::uint8_t>(letters[(7 * i + 3) % 36]);
    }
    static std::string key()
    {
        std::string k(KeyLength, '\0');
        writeKey(k);
        return k;
    }
    // The master key of the body of `file` (format 2), into `out`.
    static void writeMasterKey(const fs::path& file, std::span<std::uint8_t> out)
    {
        LVTagger header;
        ASSERT_TRUE(header.CheckTag(FolderItem(file)));
        const std::string bytes = readFile(file);
        ASSERT_EQ(bytes.substr(std::size_t(header.TagLength), 4), "LVB2");
        const auto salt = std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()) + header.TagLength + 5, 16);
        Botan::secure_vector<char> k(KeyLength);
        writeKey(k);
        const auto master = crypto::stretchKey(std::string_view(k.data(), k.size()), salt, MasterLength);
        std::copy(master.begin(), master.end(), out.begin());
    }
};

TEST_F(KeyWiping, OnTheEncryptionRoadTheKeyGoesOnceDerivedAndTheMasterKeyWithTheJob)
{
    writeFile(items / "noise.bin", randomBytes(6 << 20, 3));
    MemoryScan typed(KeyLength);
    writeKey(typed.needle());
    std::string k = key();
    ASSERT_FALSE(typed.find().empty()) << "the scan sees the key the test holds";

    gui.pauseAtFirstValueAfter(LVEncryptor::EncryptingText);
    enc.Encrypt({FolderItem(items / "noise.bin")}, FolderItem(dest / "a.cdx"), "AES", std::move(k), arc,
                gui.controls(), settings());
    ASSERT_TRUE(gui.pause().waitReached());
    EXPECT_EQ(typed.find(), Nowhere) << "enciphering, after both derivations";
    gui.pause().release();
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(typed.find(), Nowhere) << "after the job";

    MemoryScan master(MasterLength);
    writeMasterKey(dest / "a.cdx", master.needle());
    EXPECT_EQ(master.find(), Nowhere) << "after the job";
}

TEST_F(KeyWiping, OnTheDecryptionRoadBothKeysAreGoneBeforeTheExtraction)
{
    writeFile(items / "note.txt", "secret");
    const fs::path file = root / "a.cdx";
    enc.Encrypt({FolderItem(items / "note.txt")}, FolderItem(file), "Serpent", key(), arc, gui.controls(), settings());
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    MemoryScan typed(KeyLength), master(MasterLength);
    writeKey(typed.needle());
    writeMasterKey(file, master.needle());

    // As the key sheet does: the key checked, the body's keys made beside it, then the job.
    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(file)));
    std::string k = key();
    KeyCheckResult check = checkKeyForDecryption(FolderItem(file), header, k);
    ASSERT_TRUE(check.matches);
    ASSERT_TRUE(check.body);
    ASSERT_FALSE(master.find().empty()) << "the scan sees the master key the key check made";
    Pause extracting;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t) {
        if (!archiving) extracting.reach();
    });
    enc.Decrypt(FolderItem(file), FolderItem(dest), header.EncryptionType, std::move(k), header, arc, gui.controls(),
                settings(), std::move(check.body));
    ASSERT_TRUE(extracting.waitReached());
    EXPECT_EQ(typed.find(), Nowhere) << "extracting";
    EXPECT_EQ(master.find(), Nowhere) << "extracting, after the body was deciphered";
    extracting.release();
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "note.txt"), "secret");
}

} // namespace
} // namespace lv::test
