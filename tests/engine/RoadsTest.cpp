// Both roads end to end, on real threads: the items are archived, enciphered and written as one
// encrypted file, which is read back, deciphered and extracted.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "RoadFixture.h"
#include "engine/crypto/SHA_512.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> EncryptShape = {
    "max: 0",
    "status: Compressing...",
    "max: *",
    "status: Encrypting...",
    "status: Encryption Finished.",
    "notify: Encryption Finished|Encryption Finished!|Your encryption has finished successfully.",
    "caption: OK",
    "default: 1",
    "attention",
};

const std::vector<std::string> DecryptShape = {
    "max: *",
    "status: Decrypting...",
    "max: 0",
    "status: Unarchiving...",
    "status: Decryption Complete.",
    "max: 1",
    "notify: Decryption Finished|Decryption Finished!|Your decryption has finished successfully.",
    "caption: OK",
    "default: 1",
    "attention",
};

// The progress values of the cipher loop that shows `loopStatus` climb to the maximum set before it.
void expectProgressClimbs(const std::vector<std::string>& events, const std::string& loopStatus)
{
    std::int64_t maximum = -1, last = -1;
    bool inLoop = false;
    for (const std::string& e : events) {
        if (inLoop && (e.starts_with("status: ") || e.starts_with("max: "))) break;
        if (e == "status: " + loopStatus) inLoop = true;
        if (!inLoop && e.starts_with("max: ")) maximum = std::stoll(e.substr(5));
        if (inLoop && e.starts_with("value: ")) {
            const std::int64_t v = std::stoll(e.substr(7));
            EXPECT_GE(v, last);
            last = v;
        }
    }
    EXPECT_GT(maximum, 0);
    EXPECT_EQ(last, maximum);
}

std::string digestOf(const std::string& key)
{
    SHA_512 hash;
    hash.Update(key);
    return hash.Final();
}

TEST_F(RoadTest, EveryCipherCompressedAndStoredRoundTrips)
{
    const auto list = makeFixtureTree(items);
    std::uintmax_t compressedSize = 0;
    for (const char* cipher : {"Blowfish", "Serpent", "AES"}) {
        for (bool compress : {true, false}) {
            SCOPED_TRACE(std::string(cipher) + (compress ? " compressed" : " stored"));
            gui.clear();
            const fs::path out = dest / (std::string(cipher) + (compress ? "-z" : "-s") + ".cdx");
            ASSERT_EQ(encrypt(list, FolderItem(out), cipher, compress, "pässwörd 1"), JobOutcome::Succeeded);

            std::vector<std::string> expected = EncryptShape;
            if (!compress) expected[1] = "status: Archiving...";
            EXPECT_EQ(shape(), expected);
            expectProgressClimbs(gui.events(), "Encrypting...");
            EXPECT_TRUE(workLeftovers().empty());

            // The header as tabled, with the 64-byte digest of the key.
            const std::string bytes = readFile(out);
            EXPECT_EQ(bytes.substr(0, 142), LVTagger::headerBytes(cipher, digestOf("pässwörd 1")));
            LVTagger header;
            ASSERT_TRUE(header.CheckTag(FolderItem(out)));
            EXPECT_EQ(header.TagLength, 142);
            EXPECT_EQ(header.EncryptionType, cipher);
            if (compress) compressedSize = bytes.size();
            else EXPECT_GT(bytes.size(), compressedSize);

            gui.clear();
            const fs::path into = root / ("out-" + std::string(cipher) + (compress ? "-z" : "-s"));
            fs::create_directories(into);
            ASSERT_EQ(decrypt(FolderItem(out), FolderItem(into), "pässwörd 1"), JobOutcome::Succeeded);
            EXPECT_EQ(shape(), DecryptShape);
            expectProgressClimbs(gui.events(), "Decrypting...");
            EXPECT_EQ(gui.value(), 1);
            EXPECT_TRUE(workLeftovers().empty());
            expectSameTree(items / "Tree", into / "DecryptedFiles" / "Tree");
            expectSameTree(items / "loose.bin", into / "DecryptedFiles" / "loose.bin");
            EXPECT_EQ(bytes.substr(142, 4), "LVB2") << "new files are written in segments";
        }
    }
}

// Files written before the body came in segments still decrypt, with every cipher.
TEST_F(RoadTest, BodiesOfTheFirstFormatStillDecrypt)
{
    const fs::path fixtures = fs::path(LOCKVANE_SOURCE_DIR) / "tests/fixtures/engine/format1";
    for (const char* cipher : {"Blowfish", "Serpent", "AES"}) {
        SCOPED_TRACE(cipher);
        gui.clear();
        const fs::path file = fixtures / ("format1-" + std::string(cipher) + ".cdx");
        ASSERT_EQ(readFile(file).substr(142, 4), "LVB1");
        const fs::path into = root / cipher;
        fs::create_directories(into);
        ASSERT_EQ(decrypt(FolderItem(file), FolderItem(into), "format one"), JobOutcome::Succeeded);
        EXPECT_EQ(shape(), DecryptShape);
        for (const char* name : {"Old/note.txt", "Old/sub/noise.bin"})
            EXPECT_EQ(readFile(into / "DecryptedFiles" / name), readFile(fixtures / name)) << name;
    }
}

TEST_F(RoadTest, DecryptionNeverWritesIntoAnEarlierExtraction)
{
    writeFile(items / "note.txt", "new");
    const fs::path out = dest / "a.cdx";
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt")}, FolderItem(out), "AES"), JobOutcome::Succeeded);

    writeFile(dest / "DecryptedFiles" / "note.txt", "earlier");
    // Empty, but another job may have just made it: a job only uses a folder it makes itself.
    fs::create_directories(dest / "DecryptedFiles3");
    ASSERT_EQ(decrypt(FolderItem(out), FolderItem(dest)), JobOutcome::Succeeded);
    ASSERT_EQ(decrypt(FolderItem(out), FolderItem(dest)), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "note.txt"), "earlier");
    EXPECT_EQ(readFile(dest / "DecryptedFiles2" / "note.txt"), "new");
    EXPECT_TRUE(fs::is_empty(dest / "DecryptedFiles3"));
    EXPECT_EQ(readFile(dest / "DecryptedFiles4" / "note.txt"), "new");
    EXPECT_EQ(enc.extractionFolder().path(), dest / "DecryptedFiles4");
}

// Two decryptions into one destination at once each extract into a folder of their own, and one
// that fails removes only what it made.
TEST_F(RoadTest, TwoDecryptionsIntoOneDestinationAtOnce)
{
    const fs::path tree = root / "tree.cdx";
    ASSERT_EQ(encrypt(makeFixtureTree(items), FolderItem(tree), "AES"), JobOutcome::Succeeded);
    const fs::path failing = encryptedArchive(root / "failing.cdx", [&](ZipArchive& a) {
        addEntry(a, "Tree/");
        addEntry(a, "Tree/readme.txt", "other");
        addEntry(a, "../escape", "x");
    });

    // Both extractions wait for each other before their first entry: both have chosen their
    // folder before either writes.
    std::mutex mutex;
    std::condition_variable bothThere;
    int arrived = 0;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving || step != 1) return;
        std::unique_lock lock(mutex);
        ++arrived;
        bothThere.notify_all();
        bothThere.wait_for(lock, std::chrono::seconds(60), [&] { return arrived % 2 == 0; });
    });
    RecordingGui otherGui;
    ZipThread otherArch;
    LVArchiver otherArc{otherArch};
    LVEncryptor other;
    JobSettings otherSettings = settings();
    otherSettings.workFolder = FolderItem(root / "other work");
    fs::create_directories(otherSettings.workFolder.path());

    for (const fs::path& second : {tree, failing}) {
        SCOPED_TRACE(second.filename().string());
        fs::remove_all(dest);
        fs::create_directories(dest);
        startDecrypt(FolderItem(tree), FolderItem(dest));
        LVTagger header;
        ASSERT_TRUE(header.CheckTag(FolderItem(second)));
        other.Decrypt(FolderItem(second), FolderItem(dest), header.EncryptionType, "key", header, otherArc,
                      otherGui.controls(), otherSettings);
        EXPECT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
        EXPECT_EQ(other.waitForJob(), second == tree ? JobOutcome::Succeeded : JobOutcome::Failed);
        EXPECT_NE(enc.extractionFolder(), other.extractionFolder());
        expectSameTree(items / "Tree", enc.extractionFolder().path() / "Tree");
        if (second == tree)
            expectSameTree(items / "Tree", other.extractionFolder().path() / "Tree");
        else
            EXPECT_FALSE(fs::exists(other.extractionFolder().path()));
        EXPECT_EQ(std::distance(fs::directory_iterator(dest), fs::directory_iterator()), second == tree ? 2 : 1);
    }
}

TEST_F(RoadTest, AnItemChosenTwiceIsArchivedOnce)
{
    writeFile(items / "note.txt", "once");
    const fs::path out = dest / "a.cdx";
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt"), FolderItem(items / "." / "note.txt")}, FolderItem(out), "AES"),
              JobOutcome::Succeeded);
    ASSERT_EQ(decrypt(FolderItem(out), FolderItem(dest)), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "note.txt"), "once");
}

TEST_F(RoadTest, AnEmptyFolderOthersMayWriteToIsNotUsedForTheExtraction)
{
    writeFile(items / "note.txt", "new");
    const fs::path out = dest / "a.cdx";
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt")}, FolderItem(out), "AES"), JobOutcome::Succeeded);
    fs::create_directories(dest / "DecryptedFiles");
    fs::permissions(dest / "DecryptedFiles", fs::perms::all);
    ASSERT_EQ(decrypt(FolderItem(out), FolderItem(dest)), JobOutcome::Succeeded);
    EXPECT_TRUE(fs::is_empty(dest / "DecryptedFiles"));
    EXPECT_EQ(readFile(dest / "DecryptedFiles2" / "note.txt"), "new");
}

TEST_F(RoadTest, AJobKeepsTheHeaderItWasGiven)
{
    writeFile(items / "note.txt", "kept");
    const fs::path out = dest / "a.cdx";
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt")}, FolderItem(out), "Serpent"), JobOutcome::Succeeded);

    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(out)));
    enc.Decrypt(FolderItem(out), FolderItem(dest), header.EncryptionType, "key", header, arc, gui.controls(),
                settings());
    // A later check of another file changes the shared header, not the running job.
    writeFile(items / "other", LVTagger::headerBytes("AES", std::string(200, 'x')));
    ASSERT_TRUE(header.CheckTag(FolderItem(items / "other")));
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "note.txt"), "kept");
}

TEST_F(RoadTest, NotificationsAndAttentionFollowTheSettings)
{
    writeFile(items / "note.txt", "x");
    JobSettings quiet = settings();
    quiet.notificationsOn = false;
    quiet.bounce = false;
    enc.Encrypt({FolderItem(items / "note.txt")}, FolderItem(dest / "q.cdx"), "Blowfish", "k", arc, gui.controls(),
                quiet);
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_TRUE(gui.eventsStartingWith("notify").empty());
    EXPECT_TRUE(gui.eventsStartingWith("attention").empty());
    EXPECT_EQ(gui.lastCaption(), "OK");
}

} // namespace
} // namespace lv::test

namespace lv::test {
namespace {

TEST_F(RoadTest, AFileThatTookTheChosenNameMeanwhileStaysAndTheNextFreeNameIsUsed)
{
    writeFile(items / "note.txt", "mine");
    // The name was free when it was chosen; another program wrote a file there since.
    writeFile(dest / "EncryptedFile.cdx", "someone else's");
    JobSettings named = settings();
    named.outputBaseName = "EncryptedFile";
    named.outputExtension = "cdx";
    enc.Encrypt({FolderItem(items / "note.txt")}, FolderItem(dest / "EncryptedFile.cdx"), "AES", "k", arc,
                gui.controls(), named);
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "EncryptedFile.cdx"), "someone else's");
    LVTagger header;
    EXPECT_TRUE(header.CheckTag(FolderItem(dest / "EncryptedFile2.cdx")));
}

} // namespace
} // namespace lv::test
