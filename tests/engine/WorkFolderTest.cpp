// The work folder: chosen for each job by the room it needs, held while the job runs, and cleared
// of what a crashed job left, by the next job there and at the program's start-up.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>

#include "RoadFixture.h"
#include "engine/WorkFolder.h"
#include "platform/DiskSpace.h"
#include "platform/SpecialFolders.h"
#include "support/ChildProcess.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t MB = 1000000;

// The user's folders inside the test's own: a runtime folder and a cache folder whose free
// space the test decides.
class WorkFolderTest : public RoadTest {
protected:
    WorkFolderTest() : run(root / "run"), cache(root / "cache")
    {
        for (const char* v : {"HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"})
            if (const char* value = std::getenv(v)) m_saved[v] = value;
        fs::create_directories(run);
        ::setenv("HOME", (root / "home").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        setRoom(100 * MB, 100 * MB);
    }
    ~WorkFolderTest() override
    {
        DiskSpace::setProbeForTesting(nullptr);
        for (const char* v : {"HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"}) {
            if (auto it = m_saved.find(v); it != m_saved.end())
                ::setenv(v, it->second.c_str(), 1);
            else
                ::unsetenv(v);
        }
    }

    void setRoom(std::uint64_t inRun, std::uint64_t inCache)
    {
        DiskSpace::setProbeForTesting([=, this](const fs::path& at) -> std::optional<std::uint64_t> {
            if (at.native().starts_with(run.native())) return inRun;
            if (at.native().starts_with(cache.native()) || at == root.path()) return inCache;
            return std::nullopt;
        });
    }
    // The settings of a job that uses the user's work folder.
    JobSettings userSettings() const
    {
        JobSettings s = settings();
        s.workFolder = FolderItem();
        return s;
    }
    std::unique_ptr<WorkFolder> claim(std::uint64_t bytes, std::string& error)
    {
        return WorkFolder::claim(SpecialFolders::temporaryCandidates(), bytes, error);
    }
    void plantWorkFiles(const fs::path& folder)
    {
        writeFile(folder / "Lockvane.zip", "plaintext");
        writeFile(folder / "Lockvane.cdx", "ciphertext");
    }
    static bool hasWorkFiles(const fs::path& folder)
    {
        return fs::exists(folder / "Lockvane.zip") || fs::exists(folder / "Lockvane.cdx");
    }
    // Kills the child (kill -9) once it has written `marker`, which it does where it holds.
    static void killOnceReached(pid_t pid, const fs::path& marker)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(pid, SIGKILL);
        EXPECT_EQ(waitForChild(pid), -1);
        ASSERT_TRUE(fs::exists(marker));
    }
    // Runs a job in the child with a recording GUI of its own, until it ends or is killed.
    static int runJob(const std::function<void(LVEncryptor&, LVArchiver&, const JobControls&)>& start)
    {
        RecordingGui quiet;
        ZipThread worker;
        LVArchiver archiver{worker};
        LVEncryptor job;
        start(job, archiver, quiet.controls());
        job.waitForJob();
        return 0;
    }

    fs::path run, cache;

private:
    std::map<std::string, std::string> m_saved;
};

TEST_F(WorkFolderTest, ChosenByTheRoomTheJobNeedsAndHeldWhileItRuns)
{
    setRoom(1 * MB, 100 * MB);
    std::string error;
    {
        const auto small = claim(MB / 2, error);
        ASSERT_TRUE(small) << error;
        EXPECT_EQ(small->folder().path(), run / "lockvane");
        EXPECT_EQ(FolderItem(run / "lockvane").mode() & 0777, 0700u);
        // The runtime folder is held: a second job at once goes to the cache folder.
        const auto second = claim(MB / 2, error);
        ASSERT_TRUE(second) << error;
        EXPECT_EQ(second->folder().path(), cache / "lockvane");
        EXPECT_FALSE(claim(MB / 2, error));
        EXPECT_EQ(error, "Another Lockvane job is using the folder for its work files. Try again once it has finished.");
    }
    const auto large = claim(5 * MB, error);
    ASSERT_TRUE(large) << error;
    EXPECT_EQ(large->folder().path(), cache / "lockvane");

    EXPECT_FALSE(claim(500 * MB, error));
    EXPECT_EQ(error, "There is not enough free space for the work files of this job: they need 500.0 MB, but there is "
                     "only 1.0 MB in \"" + (run / "lockvane").native() + "\" and 100.0 MB in \"" +
                         (cache / "lockvane").native() + "\".");
}

TEST_F(WorkFolderTest, WhatACrashedJobLeftIsRemovedUnlessAJobHoldsIt)
{
    const fs::path runFolder = run / "lockvane", cacheFolder = cache / "lockvane";
    std::string error;
    const auto held = WorkFolder::claim({cacheFolder}, 0, error);
    ASSERT_TRUE(held) << error;
    plantWorkFiles(cacheFolder);
    plantWorkFiles(runFolder);
    fs::create_directories(runFolder / "other");
    // The record of a staging folder that an earlier version kept in its work folder.
    writeFile(dest / ".lvextract-old" / "plain.txt", "plaintext");
    struct stat st;
    ASSERT_EQ(::lstat((dest / ".lvextract-old").c_str(), &st), 0);
    writeFile(runFolder / "Lockvane.staging", std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + "\n" +
                                                 (dest / ".lvextract-old").native());

    removeStaleWorkFiles();
    EXPECT_FALSE(hasWorkFiles(runFolder));
    EXPECT_TRUE(fs::exists(runFolder / "other"));
    EXPECT_FALSE(fs::exists(runFolder / "Lockvane.staging"));
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_EQ(readFile(cacheFolder / "Lockvane.zip"), "plaintext") << "a running job's work files stay";

    // The next job in a folder begins by removing what a crashed one left there.
    plantWorkFiles(runFolder);
    EXPECT_TRUE(claim(0, error));
    EXPECT_FALSE(hasWorkFiles(runFolder));
}

// A job's work files go where it fits; a job that fits nowhere fails before it starts.
TEST_F(WorkFolderTest, JobsUseTheWorkFolderThatHasRoom)
{
    writeFile(items / "big.bin", randomBytes(3 * MB, 4));
    const fs::path file = root / "big.cdx";
    ASSERT_EQ(encrypt({FolderItem(items / "big.bin")}, FolderItem(file), "AES"), JobOutcome::Succeeded);
    gui.clear();

    setRoom(1 * MB, 100 * MB);
    fs::path archiveSeenIn;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 1)
            for (const fs::path& f : {run / "lockvane", cache / "lockvane"})
                if (fs::exists(f / "Lockvane.zip")) archiveSeenIn = f;
    });
    enc.Decrypt(FolderItem(file), FolderItem(dest), "AES", "key", [&] {
        LVTagger h;
        h.CheckTag(FolderItem(file));
        return h;
    }(), arc, gui.controls(), userSettings());
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(archiveSeenIn, cache / "lockvane");
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "big.bin"), readFile(items / "big.bin"));

    // The encryption of the same file needs room for the archive and the encrypted file.
    setRoom(1 * MB, 5 * MB);
    gui.clear();
    enc.Encrypt({FolderItem(items / "big.bin")}, FolderItem(dest / "again.cdx"), "AES", "key", arc, gui.controls(),
                userSettings());
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_EQ(gui.messages()[0].message, "Encryption Failed!");
    EXPECT_TRUE(gui.messages()[0].explanation.starts_with(
        "There is not enough free space for the work files of this job: they need 6.0 MB"))
        << gui.messages()[0].explanation;
    EXPECT_FALSE(fs::exists(dest / "again.cdx"));
    EXPECT_FALSE(hasWorkFiles(run / "lockvane"));
    EXPECT_FALSE(hasWorkFiles(cache / "lockvane"));
}

// After a job is killed (kill -9) its plaintext work archive is left behind: the next job in
// that folder, or the program's next start, removes it.
TEST_F(WorkFolderTest, WorkFilesOfAKilledJobAreRemoved)
{
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in the child of a threaded process";
#endif
    writeFile(items / "big.bin", randomBytes(2 * MB, 5));
    const fs::path folder = run / "lockvane";
    const auto killedWhileEncrypting = [&] {
        const pid_t pid = startChild([&] {
            PausingGui held;
            held.pauseAtFirstValueAfter("Encrypting...");
            ZipThread worker;
            LVArchiver archiver{worker};
            LVEncryptor job;
            job.Encrypt({FolderItem(items / "big.bin")}, FolderItem(dest / "k.cdx"), "AES", "key", archiver,
                        held.controls(), userSettings());
            job.waitForJob();
            return 0;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        const auto written = [&] {
            std::error_code ec;
            const auto size = fs::file_size(folder / "Lockvane.cdx", ec);
            return !ec && size > 1000;
        };
        while (!written() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(pid, SIGKILL);
        EXPECT_EQ(waitForChild(pid), -1);
        EXPECT_TRUE(fs::exists(folder / "Lockvane.zip"));
        EXPECT_TRUE(fs::exists(folder / "Lockvane.cdx"));
    };

    killedWhileEncrypting();
    removeStaleWorkFiles();
    EXPECT_FALSE(hasWorkFiles(folder));

    killedWhileEncrypting();
    // A decryption never writes "Lockvane.cdx": it is gone because the job began by clearing
    // the folder.
    writeFile(items / "note.txt", "note");
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt")}, FolderItem(root / "note.cdx"), "AES"), JobOutcome::Succeeded);
    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(root / "note.cdx")));
    enc.Decrypt(FolderItem(root / "note.cdx"), FolderItem(dest), "AES", "key", header, arc, gui.controls(),
                userSettings());
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_FALSE(hasWorkFiles(folder));
    EXPECT_FALSE(fs::exists(dest / "k.cdx"));
}

// A decryption killed while it extracts leaves its staging folder in the destination. Its record
// outlives the session (the runtime folder is emptied at every logout and reboot), so that the
// next start removes the folder whenever the crash happened.
TEST_F(WorkFolderTest, TheStagingFolderOfAKilledDecryptionIsRemovedAtTheNextStartOfANewSession)
{
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in the child of a threaded process";
#endif
    writeFile(items / "Tree" / "a.txt", "plaintext");
    writeFile(items / "Tree" / "b.txt", "more plaintext");
    ASSERT_EQ(encrypt({FolderItem(items / "Tree")}, FolderItem(root / "t.cdx"), "AES"), JobOutcome::Succeeded);
    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(root / "t.cdx")));
    const fs::path held = root / "held";
    killOnceReached(startChild([&] {
                        // Held inside the extraction, after its first entry, until killed.
                        ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
                            if (archiving || step != 2) return;
                            writeFile(held, "held");
                            for (;;) ::pause();
                        });
                        return runJob([&](LVEncryptor& job, LVArchiver& archiver, const JobControls& controls) {
                            job.Decrypt(FolderItem(root / "t.cdx"), FolderItem(dest), "AES", "key", header, archiver,
                                        controls, userSettings());
                        });
                    }),
                    held);
    std::vector<fs::path> staged;
    for (const auto& e : fs::directory_iterator(dest)) staged.push_back(e.path());
    ASSERT_EQ(staged.size(), 1u);
    EXPECT_TRUE(staged[0].filename().native().starts_with(".lvextract-"));
    EXPECT_FALSE(fs::is_empty(staged[0]));

    // A new session: the runtime folder, where the work files were, starts empty.
    fs::remove_all(run);
    fs::create_directories(run);
    removeStaleWorkFiles();
    EXPECT_FALSE(fs::exists(staged[0])) << "the plaintext outlived the crash";
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_TRUE(leftoverRecords().empty());
}

// A job killed while it copies the encrypted file to another file system leaves the copy under
// construction, hidden, beside the output: the next start removes it.
TEST_F(WorkFolderTest, ACopyOfTheEncryptedFileLeftByAKillIsRemovedAtTheNextStart)
{
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in the child of a threaded process";
#endif
    TempDir shm("/dev/shm");
    struct stat a, b;
    ASSERT_EQ(::stat(shm.path().c_str(), &a), 0);
    ASSERT_EQ(::stat(dest.c_str(), &b), 0);
    if (a.st_dev == b.st_dev) GTEST_SKIP() << "no second file system for the work folder";
    writeFile(items / "big.bin", randomBytes(2 * MB, 6));
    JobSettings elsewhere = settings();
    elsewhere.workFolder = FolderItem(shm.path());
    const fs::path held = root / "held";
    killOnceReached(startChild([&] {
                        // Held once the copy is whole, just before it would be put in place.
                        FolderItem::setCopyHookForTesting([&](const fs::path&) {
                            writeFile(held, "held");
                            for (;;) ::pause();
                        });
                        return runJob([&](LVEncryptor& job, LVArchiver& archiver, const JobControls& controls) {
                            job.Encrypt({FolderItem(items / "big.bin")}, FolderItem(dest / "big.cdx"), "AES", "key",
                                        archiver, controls, elsewhere);
                        });
                    }),
                    held);
    const std::vector<std::string> left = listTree(dest);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0].starts_with(".lvmove-")) << left[0];

    removeStaleWorkFiles();
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_TRUE(leftoverRecords().empty());

    // A move that ends keeps no record.
    enc.Encrypt({FolderItem(items / "big.bin")}, FolderItem(dest / "big.cdx"), "AES", "key", arc, gui.controls(),
                elsewhere);
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(listTree(dest), std::vector<std::string>{"big.cdx"});
    EXPECT_TRUE(leftoverRecords().empty());
}

} // namespace
} // namespace lv::test
