// Every way a job can fail or be cancelled ends the same way: its message, the main window reset,
// the error notice (none for a Cancel), and no output or work file left behind.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "RoadFixture.h"
#include "platform/LeftoverRecords.h"
#include "support/ChildProcess.h"
#include "support/LockedFolder.h"
#include "support/SmallFileSystem.h"
#include "platform/DiskSpace.h"
#include "zip/ExtractionJob.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

const std::string EncryptionErrorNotice =
    "notify: Encryption Error|Encryption Error!|An error was encountered during the encryption process.";
const std::string DecryptionErrorNotice =
    "notify: Decryption Error|Decryption Error!|An error was encountered during the decryption process.";

class RoadFailureTest : public RoadTest {
protected:
    // The messages shown, the notices posted, whether the window was reset, and what is left:
    // no work file, and a record only of a hidden folder that the job could not remove.
    void expectFailureEnding(const std::string& message, const std::string& notice, std::size_t recordsKept = 0)
    {
        std::vector<std::string> messages;
        for (const auto& m : gui.messages()) messages.push_back(m.message);
        if (!message.empty()) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0], message);
        }
        EXPECT_EQ(gui.eventsStartingWith("notify: "), std::vector<std::string>{notice});
        EXPECT_TRUE(gui.hasEvent("reset"));
        EXPECT_NE(gui.lastCaption(), "OK");
        EXPECT_TRUE(workLeftovers().empty());
        EXPECT_EQ(leftoverRecords().size(), recordsKept);
    }

    void expectCancelled()
    {
        EXPECT_EQ(enc.outcome(), JobOutcome::Cancelled);
        EXPECT_TRUE(gui.messages().empty());
        EXPECT_TRUE(gui.eventsStartingWith("notify: ").empty());
        EXPECT_NE(gui.lastCaption(), "OK");
        EXPECT_TRUE(workLeftovers().empty());
        EXPECT_TRUE(leftoverRecords().empty());
    }

    // An encrypted file of the fixture tree (several cipher chunks long), made with `cipher`.
    fs::path encryptedTree(const std::string& cipher = "AES")
    {
        const fs::path out = root / "tree.cdx";
        EXPECT_EQ(encrypt(makeFixtureTree(items), FolderItem(out), cipher), JobOutcome::Succeeded);
        gui.clear();
        return out;
    }
};

TEST_F(RoadFailureTest, EncryptionFailures)
{
    writeFile(items / "good.txt", "good");
    writeFile(items / "other" / "good.txt", "other");
    writeFile(root / "plain file", "x");
    struct Case {
        const char* what;
        std::vector<FolderItem> items;
        fs::path target;
        const char* message;  // "" when the archive's own message is shown
    };
    const Case cases[] = {
        {"an item that cannot be added", {FolderItem(items / "good.txt"), FolderItem(items / "gone")}, dest / "a.cdx", ""},
        {"an unwritable destination", {FolderItem(items / "good.txt")}, root / "plain file" / "a.cdx",
         "There was an error."},
        {"a destination that appeared meanwhile", {FolderItem(items / "good.txt")}, root / "plain file",
         "There was an error."},
        // Extracted, one would overwrite the other.
        {"two items of the same name", {FolderItem(items / "good.txt"), FolderItem(items / "other" / "good.txt")},
         dest / "a.cdx", "Encryption Failed!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gui.clear();
        EXPECT_EQ(encrypt(c.items, FolderItem(c.target), "Blowfish"), JobOutcome::Failed);
        expectFailureEnding(c.message, EncryptionErrorNotice);
        EXPECT_EQ(gui.messages().size(), 1u);
        EXPECT_FALSE(gui.hasEvent("status: Encryption Finished."));
        EXPECT_TRUE(fs::is_empty(dest));
    }
    EXPECT_EQ(readFile(root / "plain file"), "x");  // never replaced
}

TEST_F(RoadFailureTest, TheArchiveMessageOfAnItemThatCouldNotBeAddedIsShown)
{
    writeFile(items / "clash" / "a-b", "1");
    writeFile(items / "clash" / "a:b", "2");
    const struct {
        fs::path item;
        std::string message;
    } cases[] = {
        {items / "gone", "Opening the source data stream failed"},
        {items / "clash", "The items \"a-b\" and \"a:b\" would get the same name in the archive"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        gui.clear();
        EXPECT_EQ(encrypt({FolderItem(c.item)}, FolderItem(dest / "a.cdx"), "AES"), JobOutcome::Failed);
        expectFailureEnding(c.message, EncryptionErrorNotice);
    }
}

TEST_F(RoadFailureTest, TheWorkArchiveCannotBeCreated)
{
    writeFile(items / "good.txt", "good");
    fs::create_directories(work / "Lockvane.zip" / "in the way");
    EXPECT_EQ(encrypt({FolderItem(items / "good.txt")}, FolderItem(dest / "a.cdx"), "AES"), JobOutcome::Failed);
    EXPECT_EQ(gui.messages().at(0).message, "Encryption Failed!");
    EXPECT_EQ(gui.eventsStartingWith("notify: "), std::vector<std::string>{EncryptionErrorNotice});
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, AnExceptionInTheWorkerEndsAsAFailureWithItsMessage)
{
    // The user's temporary folder is refused (a link): the worker's exception ends the job.
    fs::create_directories(root / "runtime");
    fs::create_directory_symlink(root / "elsewhere", root / "runtime" / "lockvane");
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", (root / "runtime").c_str(), 1);
    writeFile(items / "good.txt", "good");
    JobSettings unset = settings();
    unset.workFolder = FolderItem();
    enc.Encrypt({FolderItem(items / "good.txt")}, FolderItem(dest / "a.cdx"), "AES", "k", arc, gui.controls(), unset);
    const JobOutcome outcome = enc.waitForJob();
    saved ? ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");

    EXPECT_EQ(outcome, JobOutcome::Failed);
    expectFailureEnding("Encryption Failed!", EncryptionErrorNotice);
    EXPECT_NE(gui.messages().at(0).explanation.find("temporary folder"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, DecryptionFailures)
{
    const fs::path good = encryptedTree();
    const std::string bytes = readFile(good);
    writeFile(root / "plain file", "x");

    struct Case {
        const char* what;
        std::function<fs::path()> prepare;  // the file to decrypt
        fs::path destFolder;
        std::string key = "key";
        // Whether the extraction starts: never before the whole body is known to be authentic.
        bool reachesExtraction = false;
        const char* reason = "";  // in the message's explanation
    };
    const Case cases[] = {
        {"a body with one flipped byte",
         [&] {
             std::string flipped = bytes;
             flipped[142 + 5000] ^= 0x01;
             writeFile(root / "flipped.cdx", flipped);
             return root / "flipped.cdx";
         },
         dest, "key", false, "The encrypted data is damaged."},
        {"a damaged tag at the very end",
         [&] {
             std::string damaged = bytes;
             damaged.back() ^= 0x01;
             writeFile(root / "tag.cdx", damaged);
             return root / "tag.cdx";
         },
         dest, "key", false, "The encrypted data is damaged."},
        {"a byte flipped near the end",
         [&] {
             std::string flipped = bytes;
             flipped[bytes.size() - 100] ^= 0x01;
             writeFile(root / "end.cdx", flipped);
             return root / "end.cdx";
         },
         dest, "key", false, "The encrypted data is damaged."},
        {"a changed version text in the outer header",
         [&] {
             std::string changed = bytes;
             changed[55] ^= 0x20;  // in the version record's closing tag, which no reader parses
             writeFile(root / "version.cdx", changed);
             return root / "version.cdx";
         },
         dest, "key", false, "The encrypted data is damaged."},
        {"a body of the first format with one flipped byte",
         [&] {
             std::string flipped =
                 readFile(fs::path(LOCKVANE_SOURCE_DIR) / "tests/fixtures/engine/format1/format1-AES.cdx");
             flipped[142 + 1000] ^= 0x01;
             writeFile(root / "format1.cdx", flipped);
             return root / "format1.cdx";
         },
         dest, "format one", false, "The encrypted data is damaged."},
        {"a body cut short",
         [&] {
             writeFile(root / "short.cdx", bytes.substr(0, bytes.size() - 10));
             return root / "short.cdx";
         },
         dest},
        {"a body without its last half",
         [&] {
             writeFile(root / "half.cdx", bytes.substr(0, bytes.size() / 2));
             return root / "half.cdx";
         },
         dest},
        // No key check matched: the job cannot tell a wrong key from damage.
        {"a wrong key", [&] { return good; }, dest, "other key", false,
         "The key is wrong or the encrypted data is damaged."},
        {"an unwritable destination", [&] { return good; }, root / "plain file", "key", true, ": Not a directory"},
        {"a destination that is gone", [&] { return good; }, root / "gone", "key", true,
         ": No such file or directory"},
        {"an unknown cipher code",
         [&] {
             std::string unknown = bytes;
             unknown[72] = '3';
             writeFile(root / "unknown.cdx", unknown);
             return root / "unknown.cdx";
         },
         dest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gui.clear();
        const fs::path file = c.prepare();
        bool extracting = false;
        ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t) { extracting |= !archiving; });
        EXPECT_EQ(decrypt(FolderItem(file), FolderItem(c.destFolder), c.key), JobOutcome::Failed);
        ZipThread::setStepHookForTesting(nullptr);
        EXPECT_TRUE(c.reachesExtraction || !extracting) << "the zip reader saw the archive";
        expectFailureEnding("Decryption failed!", DecryptionErrorNotice);
        if (!gui.messages().empty()) {
            EXPECT_NE(gui.messages()[0].explanation.find(c.reason), std::string::npos) << gui.messages()[0].explanation;
        }
        EXPECT_EQ(gui.hasEvent("status: Unarchiving..."), c.reachesExtraction);
        EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
        EXPECT_TRUE(fs::is_empty(dest)) << "nothing is extracted";
    }
}

// Segments moved, repeated, dropped or cut off are each authentic on their own, in the wrong place.
TEST_F(RoadFailureTest, SegmentsOutOfPlaceAreRefusedBeforeAnythingIsExtracted)
{
    writeFile(items / "noise.bin", randomBytes(3 * 1024 * 1024 + 1000, 7));
    ASSERT_EQ(encrypt({FolderItem(items / "noise.bin")}, FolderItem(root / "big.cdx"), "Serpent", false),
              JobOutcome::Succeeded);
    const std::string bytes = readFile(root / "big.cdx");
    const std::size_t first = 142 + 25, full = (1u << 20) + 32;
    ASSERT_GT(bytes.size(), first + 3 * full);
    const auto segment = [&](std::size_t i) { return bytes.substr(first + i * full, full); };
    const std::string head = bytes.substr(0, first), rest = bytes.substr(first + 3 * full);
    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"two segments swapped", head + segment(1) + segment(0) + segment(2) + rest},
        {"a segment repeated", head + segment(0) + segment(0) + segment(2) + rest},
        {"a segment missing", head + segment(0) + segment(2) + rest},
        {"cut at a segment boundary", head + segment(0) + segment(1) + segment(2)},
        {"cut after the body's header", head},
        {"the last segment cut by one block", bytes.substr(0, bytes.size() - 16)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        gui.clear();
        writeFile(root / "changed.cdx", c.file);
        bool extracting = false;
        ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t) { extracting |= !archiving; });
        EXPECT_EQ(decrypt(FolderItem(root / "changed.cdx"), FolderItem(dest)), JobOutcome::Failed);
        ZipThread::setStepHookForTesting(nullptr);
        ASSERT_EQ(gui.messages().size(), 1u);
        EXPECT_EQ(gui.messages()[0].explanation, "The encrypted data is damaged.");
        expectFailureEnding("Decryption failed!", DecryptionErrorNotice);
        EXPECT_FALSE(extracting);
        EXPECT_FALSE(gui.hasEvent("status: Unarchiving..."));
        EXPECT_TRUE(fs::is_empty(dest));
    }
    gui.clear();
    ASSERT_EQ(decrypt(FolderItem(root / "big.cdx"), FolderItem(dest)), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "noise.bin"), readFile(items / "noise.bin"));
}

TEST_F(RoadFailureTest, AnEntryThatCannotBeExtracted)
{
    const fs::path file = encryptedTree();
    // A file in the way of the first entry, the folder "Tree/".
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 1) writeFile(enc.extractionFolder().path() / "Tree", "in the way");
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_TRUE(gui.messages()[0].message.starts_with("Extraction of \"Tree/\" failed: ")) << gui.messages()[0].message;
    // The hidden folder stays, so its record does too.
    expectFailureEnding("", DecryptionErrorNotice, 1);
    EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
    // What the job extracted is removed; the file someone else put there stays, in the hidden
    // folder the job extracted into, which never got its name, until the next start.
    const std::string staged = enc.extractionFolder().name();
    EXPECT_TRUE(staged.starts_with(".lvextract-")) << staged;
    EXPECT_EQ(listTree(dest), (std::vector<std::string>{staged + "/", staged + "/Tree"}));
    LeftoverRecords::user().removeUnheld();
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_TRUE(leftoverRecords().empty());
}

TEST_F(RoadFailureTest, AFileExtractedEarlierIsNeverOverwritten)
{
    // Two entries of one name (or of names differing only in case on a file system that ignores
    // case): the second must not overwrite the first in silence.
    const fs::path file = encryptedArchive(root / "twice.cdx", [&](ZipArchive& a) {
        addEntry(a, "note.txt", "earlier");
        addEntry(a, "note.txt", "later");
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_EQ(gui.messages()[0].message, std::string("Extraction of \"note.txt\" failed: ") +
                                             ExtractionJob::FileExtractedAlreadyText);
    expectFailureEnding("", DecryptionErrorNotice);
    EXPECT_TRUE(fs::is_empty(dest));

    // Nor is a file that appeared in the job's own folder from elsewhere.
    gui.clear();
    writeFile(items / "note.txt", "later");
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt")}, FolderItem(root / "note.cdx"), "AES"), JobOutcome::Succeeded);
    gui.clear();
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 1) writeFile(enc.extractionFolder().path() / "note.txt", "planted");
    });
    EXPECT_EQ(decrypt(FolderItem(root / "note.cdx"), FolderItem(dest)), JobOutcome::Failed);
    EXPECT_EQ(readFile(enc.extractionFolder().path() / "note.txt"), "planted");
    EXPECT_FALSE(fs::exists(dest / "DecryptedFiles"));
}

TEST_F(RoadFailureTest, TheExtractionFolderGetsItsNameOnlyOnceComplete)
{
    const fs::path file = encryptedTree();
    bool hidden = false;
    std::uint32_t stagingMode = 0;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving || step != 2) return;
        hidden = !fs::exists(dest / "DecryptedFiles");
        stagingMode = FolderItem(enc.extractionFolder().path()).mode() & 07777;
        // Meanwhile someone else takes the first name.
        writeFile(dest / "DecryptedFiles" / "theirs.txt", "theirs");
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Succeeded);
    EXPECT_TRUE(hidden) << "a partial result showed under the folder's name";
    EXPECT_EQ(stagingMode, 0700u) << "others could open what was being extracted";
    fs::create_directory(root / "new folder");
    EXPECT_EQ(FolderItem(dest / "DecryptedFiles2").mode() & 07777, FolderItem(root / "new folder").mode() & 07777);
    EXPECT_EQ(enc.extractionFolder().path(), dest / "DecryptedFiles2");
    expectSameTree(items / "Tree", dest / "DecryptedFiles2" / "Tree");
    EXPECT_EQ(listTree(dest / "DecryptedFiles"), std::vector<std::string>{"theirs.txt"});
    EXPECT_EQ(listTree(dest).size(), listTree(dest / "DecryptedFiles2").size() + 3) << "nothing else is left";
}

// A file made by someone who knows the key may carry modes for the extraction folder itself.
TEST_F(RoadFailureTest, FolderModesOfAnArchiveNeverReachTheExtractionFolder)
{
    const fs::path file = encryptedArchive(root / "modes.cdx", [&](ZipArchive& a) {
        addEntry(a, "/", {}, 0100777);
        addEntry(a, "./", {}, 0040777);
        addEntry(a, "sub/", {}, 0040555);
        addEntry(a, "sub/f", "data", 0100640);
        addEntry(a, "other/", {}, 0100000);
    });
    ASSERT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Succeeded);
    fs::create_directory(root / "new folder");
    const auto mode = [](const fs::path& p) { return FolderItem(p).mode() & 07777; };
    const fs::path out = dest / "DecryptedFiles";
    EXPECT_EQ(mode(out), mode(root / "new folder"));
    EXPECT_EQ(mode(out / "sub"), 0555u);
    EXPECT_EQ(mode(out / "sub" / "f"), 0640u);
    EXPECT_EQ(mode(out / "other"), mode(root / "new folder"));  // a file's mode on a folder
    EXPECT_EQ(readFile(out / "sub" / "f"), "data");

    // A failed job removes all it made, a folder the archive closed included.
    gui.clear();
    const fs::path failing = encryptedArchive(root / "failing.cdx", [&](ZipArchive& a) {
        addEntry(a, "locked/", {}, 0040000);
        addEntry(a, "locked/f", "x");
        addEntry(a, "locked/../../escape", "x");
    });
    EXPECT_EQ(decrypt(FolderItem(failing), FolderItem(dest)), JobOutcome::Failed);
    expectFailureEnding("", DecryptionErrorNotice);
    EXPECT_EQ(listTree(dest), (std::vector<std::string>{"DecryptedFiles/", "DecryptedFiles/other/",
                                                        "DecryptedFiles/sub/", "DecryptedFiles/sub/f"}));
}

// A job that cannot fit on the destination fails at once, with nothing written.
TEST_F(RoadFailureTest, AnExtractionThatCannotFitFailsBeforeItWrites)
{
    const fs::path file = encryptedArchive(root / "big.cdx", [&](ZipArchive& a) {
        addEntry(a, "small", "small");
        addEntry(a, "zeros", std::string(5000000, '\0'));
    });
    DiskSpace::setProbeForTesting([&](const fs::path& at) {
        return at == dest ? std::optional<std::uint64_t>(3000000) : std::nullopt;
    });
    const JobOutcome outcome = decrypt(FolderItem(file), FolderItem(dest));
    DiskSpace::setProbeForTesting(nullptr);
    EXPECT_EQ(outcome, JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_EQ(gui.messages()[0].message, "There is not enough free space for the extracted files: they need 5.0 MB, "
                                         "but \"dest\" has only 3.0 MB free.");
    expectFailureEnding("", DecryptionErrorNotice);
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, TheEncryptedFileVanishedBeforeDecryption)
{
    const fs::path file = encryptedTree();
    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(file)));
    fs::remove(file);
    enc.Decrypt(FolderItem(file), FolderItem(dest), header.EncryptionType, "key", header, arc, gui.controls(),
                settings());
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Failed);
    expectFailureEnding("Decryption failed!", DecryptionErrorNotice);
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, CancelDuringArchiving)
{
    Pause pause;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving && step == 2) pause.reach();
    });
    startEncrypt(makeFixtureTree(items), FolderItem(dest / "a.cdx"), "AES");
    ASSERT_TRUE(pause.waitReached());
    enc.Kill();
    pause.release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    expectCancelled();
    EXPECT_FALSE(gui.hasEvent("status: Encrypting..."));
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, CancelDuringEncryption)
{
    gui.pauseAtFirstValueAfter("Encrypting...");
    startEncrypt(makeFixtureTree(items), FolderItem(dest / "a.cdx"), "Blowfish", false);
    ASSERT_TRUE(gui.pause().waitReached());
    // What the job view's Cancel button does.
    arc.Cancel();
    enc.Kill();
    gui.pause().release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    expectCancelled();
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, CancelDuringDecryption)
{
    const fs::path file = encryptedTree("Serpent");
    gui.pauseAtFirstValueAfter("Decrypting...");
    startDecrypt(FolderItem(file), FolderItem(dest));
    ASSERT_TRUE(gui.pause().waitReached());
    enc.Kill();
    gui.pause().release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    expectCancelled();
    EXPECT_FALSE(gui.hasEvent("status: Unarchiving..."));
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, AnEncryptedFileCutShortWhileItIsDecrypted)
{
    const fs::path file = encryptedTree();
    gui.pauseAtFirstValueAfter("Decrypting...");
    startDecrypt(FolderItem(file), FolderItem(dest));
    ASSERT_TRUE(gui.pause().waitReached());
    fs::resize_file(file, fs::file_size(file) / 2);
    gui.pause().release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Failed);
    expectFailureEnding("Decryption failed!", DecryptionErrorNotice);
    EXPECT_NE(gui.messages().at(0).explanation.find("became shorter"), std::string::npos)
        << gui.messages().at(0).explanation;
    EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(RoadFailureTest, CancelDuringExtraction)
{
    const fs::path file = encryptedTree();
    Pause pause;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 3) pause.reach();
    });
    startDecrypt(FolderItem(file), FolderItem(dest));
    ASSERT_TRUE(pause.waitReached());
    EXPECT_FALSE(fs::is_empty(enc.extractionFolder().path()));  // the extraction is under way
    enc.Kill();
    pause.release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    expectCancelled();
    EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
    EXPECT_TRUE(fs::is_empty(dest));

    // The next job starts cleanly after the cancelled one.
    ZipThread::setStepHookForTesting(nullptr);
    gui.clear();
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Succeeded);
    expectSameTree(items / "Tree", dest / "DecryptedFiles" / "Tree");
}

TEST_F(RoadFailureTest, AFileTakenFromTheExtractionFailsItAndNothingIsPublished)
{
    const fs::path file = encryptedArchive(root / "robbed.cdx", [&](ZipArchive& a) {
        addEntry(a, "one.txt", "1");
        addEntry(a, "sub/");
        addEntry(a, "sub/two.txt", "2");
        addEntry(a, "three.txt", "3");
    });
    // Before the last entry, someone deletes a file extracted already.
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving || step != 4) return;
        const fs::path two = enc.extractionFolder().path() / "sub" / "two.txt";
        for (int i = 0; i < 1000 && !fs::exists(two); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fs::remove(two);
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_EQ(gui.messages()[0].message,
              "The extracted file \"sub/two.txt\" was moved or deleted before the extraction ended.");
    expectFailureEnding("", DecryptionErrorNotice);
    EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
    EXPECT_TRUE(fs::is_empty(dest)) << "what was extracted is removed, and nothing is published";
}

// A destination closed to changes while the job extracts: the job fails naming it and removes
// what it extracted, and the hidden folder it could not take away stays recorded until a start
// removes it.
TEST_F(RoadFailureTest, AHiddenFolderThatCouldNotBeRemovedIsRemovedAtTheNextStart)
{
    const fs::path file = encryptedTree();
    std::optional<LockedFolder> locked;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 2) locked.emplace(dest);
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    ZipThread::setStepHookForTesting(nullptr);
    ASSERT_TRUE(locked);
    if (!locked->locked()) GTEST_SKIP() << "the destination cannot be closed to changes here";
    expectFailureEnding("Decryption failed!", DecryptionErrorNotice, 1);
    const std::string explanation = gui.messages().at(0).explanation;
    EXPECT_TRUE(explanation.starts_with("The folder \"DecryptedFiles\" could not be made in \"dest\": ")) << explanation;
    const std::string staged = enc.extractionFolder().name();
    EXPECT_TRUE(staged.starts_with(".lvextract-")) << staged;
    EXPECT_EQ(listTree(dest), std::vector<std::string>{staged + "/"});

    locked->unlock();
    LeftoverRecords::user().removeUnheld();
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_TRUE(leftoverRecords().empty());
}

// The texts a person sees name what the person chose (the destination, an entry's name, the folder
// that filled), never the hidden folder the job extracts into, and say what went wrong.
TEST_F(RoadFailureTest, MessagesNameWhatThePersonChose)
{
    const fs::path climbing = encryptedArchive(root / "climbing.cdx", [&](ZipArchive& a) {
        addEntry(a, "a/", {});
        addEntry(a, "a/../../escape", "x");
    });
    const fs::path nested = encryptedArchive(root / "nested.cdx", [&](ZipArchive& a) {
        addEntry(a, "sub/", {});
        addEntry(a, "sub/f", "data");
    });
    writeFile(root / "not a folder", "");
    std::optional<LockedFolder> stagedLock;
    const struct Case {
        const char* what;
        fs::path file;
        std::function<void(std::int32_t step)> hook;  // at each entry of the extraction
        std::function<bool()> prepare;                 // false: the case cannot be made here
        std::string message, explanation;
        std::size_t recordsKept = 0;
    } cases[] = {
        {"a name that climbs out", climbing, {}, [] { return true; },
         "Extraction of \"a/../../escape\" failed: No destination given",
         "The name \"a/../../escape\" leads outside the destination folder."},
        // The folder's mode cannot be set while it is immutable (root only).
        {"the permissions of the extracted folder", nested,
         [&](std::int32_t step) {
             if (step == 2) stagedLock.emplace(enc.extractionFolder().path());
         },
         [] { return ::geteuid() == 0; }, "Decryption failed!",
         "The permissions of the folder \"DecryptedFiles\" could not be set in \"dest\": Operation not permitted", 1},
        {"the records cannot be written", nested, {},
         [&] {
             ::setenv("XDG_STATE_HOME", (root / "not a folder").c_str(), 1);
             return true;
         },
         "Decryption failed!",
         "Nothing could be extracted into \"dest\": the record that has a crashed job's files removed could not be "
         "written in \"" + (root / "not a folder" / "lockvane" / "leftovers").native() + "\": Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gui.clear();
        if (!c.prepare()) continue;
        ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
            if (!archiving && c.hook) c.hook(step);
        });
        EXPECT_EQ(decrypt(FolderItem(c.file), FolderItem(dest)), JobOutcome::Failed);
        ZipThread::setStepHookForTesting(nullptr);
        stagedLock.reset();
        ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
        ASSERT_EQ(gui.messages().size(), 1u);
        EXPECT_EQ(gui.messages()[0].message, c.message);
        EXPECT_EQ(gui.messages()[0].explanation, c.explanation);
        expectFailureEnding("", DecryptionErrorNotice, c.recordsKept);
        LeftoverRecords::user().removeUnheld();
        EXPECT_TRUE(fs::is_empty(dest));
    }
}

// A work folder that fills up while a job writes its work files is named in the message.
TEST_F(RoadFailureTest, AFullWorkFolderIsNamed)
{
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in the child of a threaded process";
#endif
    writeFile(items / "noise.bin", randomBytes(2 * 1024 * 1024, 9));
    ASSERT_EQ(encrypt({FolderItem(items / "noise.bin")}, FolderItem(root / "noise.cdx"), "AES", false),
              JobOutcome::Succeeded);
    const fs::path small = root / "small";
    fs::create_directories(small);
    const fs::path said = root / "said";
    const struct {
        const char* what;
        bool encrypting;
    } cases[] = {{"encryption", true}, {"decryption", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int status = runInChild([&] {
            if (!mountSmallFileSystem(small, 256 * 1024)) return 2;
            // There seems to be room when the job starts; it runs out while the job writes.
            DiskSpace::setProbeForTesting([](const fs::path&) { return std::optional<std::uint64_t>(); });
            RecordingGui quiet;
            ZipThread worker;
            LVArchiver archiver{worker};
            LVEncryptor job;
            JobSettings s = settings(false);
            s.workFolder = FolderItem(small);
            if (c.encrypting) {
                job.Encrypt({FolderItem(items / "noise.bin")}, FolderItem(dest / "again.cdx"), "AES", "key", archiver,
                            quiet.controls(), s);
            } else {
                LVTagger header;
                header.CheckTag(FolderItem(root / "noise.cdx"));
                job.Decrypt(FolderItem(root / "noise.cdx"), FolderItem(dest), "AES", "key", header, archiver,
                            quiet.controls(), s);
            }
            if (job.waitForJob() != JobOutcome::Failed) return 3;
            std::string texts;
            for (const auto& m : quiet.messages()) texts += m.message + "\n" + m.explanation + "\n";
            writeFile(said, texts);
            return 0;
        });
        if (status == 2) GTEST_SKIP() << "no file system of a set size can be made here";
        ASSERT_EQ(status, 0);
        const std::string texts = readFile(said);
        EXPECT_NE(texts.find("in the folder \"" + small.native() + "\": No space left on device"), std::string::npos)
            << texts;
        EXPECT_TRUE(fs::is_empty(dest));
    }
}

TEST_F(RoadFailureTest, ADestinationDeletedDuringTheJobFailsIt)
{
    const fs::path file = encryptedTree();
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving || step != 2) return;
        std::error_code ec;
        for (int i = 0; i < 100 && fs::exists(dest); ++i) fs::remove_all(dest, ec);
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_FALSE(gui.messages()[0].message.empty());
    EXPECT_FALSE(fs::exists(dest));
}

} // namespace
} // namespace lv::test
