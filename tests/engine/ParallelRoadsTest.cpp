// The roads with the parallel archive writer and the pipelined cipher stages: what comes back,
// files that change while they are read, and a job that leaves no thread or descriptor behind.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "RoadFixture.h"
#include "engine/KeyCheck.h"
#include "engine/ScopeExit.h"
#include "platform/MacMetadataStore.h"
#include "platform/ReachablePath.h"
#include "zip/ItemReadHook.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& folder)
{
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

std::string text(std::size_t size, int seed)
{
    std::string s;
    for (int i = 0; s.size() < size; ++i)
        s += "line " + std::to_string(i * seed % 7919) + " of file " + std::to_string(seed) + "\n";
    s.resize(size);
    return s;
}

class ParallelRoadTest : public RoadTest {
protected:
    JobOutcome encryptWith(const std::vector<FolderItem>& list, const fs::path& out, const JobSettings& s)
    {
        enc.Encrypt(list, FolderItem(out), "AES", "key", arc, gui.controls(), s);
        return enc.waitForJob();
    }
};

TEST_F(ParallelRoadTest, FilesComeBackWithTheirPermissions)
{
    const fs::path tree = items / "Modes";
    const std::pair<const char*, fs::perms> files[] = {
        {"private", fs::perms(0600)}, {"shared", fs::perms(0644)}, {"tool", fs::perms(0755)}, {"frozen", fs::perms(0444)}};
    for (const auto& [name, mode] : files) {
        writeFile(tree / name, name);
        fs::permissions(tree / name, mode);
    }
    // Folders' modes too, a read-only one among them: they are applied after their files.
    fs::create_directories(tree / "closed");
    writeFile(tree / "closed" / "inside", "in");
    fs::create_directories(tree / "group");
    fs::permissions(tree / "group", fs::perms(0750));
    fs::permissions(tree / "closed", fs::perms(0555));
    const fs::path out = dest / "modes.cdx";
    ASSERT_EQ(encrypt({FolderItem(tree), FolderItem(tree / "private")}, FolderItem(out), "AES"), JobOutcome::Succeeded);
    ASSERT_EQ(decrypt(FolderItem(out), FolderItem(dest)), JobOutcome::Succeeded);
    for (const auto& [name, mode] : files) {
        SCOPED_TRACE(name);
        EXPECT_EQ(fs::status(dest / "DecryptedFiles" / "Modes" / name).permissions(), mode);
        EXPECT_EQ(readFile(dest / "DecryptedFiles" / "Modes" / name), name);
    }
    EXPECT_EQ(fs::status(dest / "DecryptedFiles" / "private").permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(dest / "DecryptedFiles" / "Modes" / "group").permissions(), fs::perms(0750));
    EXPECT_EQ(fs::status(dest / "DecryptedFiles" / "Modes" / "closed").permissions(), fs::perms(0555));
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "Modes" / "closed" / "inside"), "in");
    // The test folder's clean-up needs to get in again.
    fs::permissions(tree / "closed", fs::perms(0755));
    fs::permissions(dest / "DecryptedFiles" / "Modes" / "closed", fs::perms(0755));
}

TEST_F(ParallelRoadTest, ManyFilesAndAFileLargerThanTheMemoryBoundRoundTrip)
{
    const fs::path tree = items / "Many";
    const unsigned many = 4 * std::max(std::thread::hardware_concurrency(), 2u) + 7;
    for (unsigned i = 0; i < many; ++i) {
        writeFile(tree / ("sub" + std::to_string(i % 5)) / ("text" + std::to_string(i)), text(1000 + i * 3001, int(i)));
        writeFile(tree / ("noise" + std::to_string(i)), randomBytes(i * 777, i));
    }
    // Text, then noise, then text again: pieces of every kind in one entry.
    writeFile(tree / "large.bin", text(1500000, 1) + randomBytes(700000, 2) + text(900001, 3));
    for (const auto& e : fs::recursive_directory_iterator(tree))
        FolderItem(e.path()).setModificationDate(1600000000);  // even seconds: zip dates keep two-second steps
    for (const bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "compressed" : "stored");
        JobSettings s = settings(compress);
        s.archiveMemory = 1 << 20;
        s.archiveWorkers = 3;
        const fs::path out = dest / (compress ? "z.cdx" : "s.cdx");
        ASSERT_EQ(encryptWith({FolderItem(tree)}, out, s), JobOutcome::Succeeded);
        const fs::path into = root / (compress ? "z" : "s");
        fs::create_directories(into);
        ASSERT_EQ(decrypt(FolderItem(out), FolderItem(into)), JobOutcome::Succeeded);
        expectSameTree(tree, into / "DecryptedFiles" / "Many");
    }
}

TEST_F(ParallelRoadTest, AFileThatGrowsWhileItIsArchivedFailsTheJobWithItsName)
{
    writeFile(items / "before.txt", text(300000, 4));
    const fs::path growing = items / "growing.log";
    writeFile(growing, text(200000, 5));
    // The file grows after the walk looked at it and before its bytes are read.
    itemreadhook::setForTesting([&](const FolderItem& item) {
        if (item.path() == growing)
            std::ofstream(growing, std::ios::app | std::ios::binary) << "another line of the log\n";
    });
    const ScopeExit unhook([] { itemreadhook::setForTesting({}); });
    const JobOutcome outcome =
        encrypt({FolderItem(items / "before.txt"), FolderItem(growing)}, FolderItem(dest / "a.cdx"), "AES");
    EXPECT_EQ(outcome, JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_NE(gui.messages()[0].message.find("\"growing.log\" changed while it was read"), std::string::npos)
        << gui.messages()[0].message;
    EXPECT_TRUE(workLeftovers().empty());
    EXPECT_TRUE(fs::is_empty(dest));
}

// A chain of `depth` folders named `part` below `top`, made through descriptors: its paths are
// longer than the kernel takes.
struct DeepChain {
    DeepChain(const fs::path& top, const std::string& part, int depth) : top(top), part(part), depth(depth)
    {
        fs::create_directories(top);
        int fd = ::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < depth; ++i) {
            ::mkdirat(fd, part.c_str(), 0755);
            const int next = ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
        }
        ::close(fd);
    }
    fs::path at(int level) const
    {
        fs::path p = top;
        for (int i = 0; i < level; ++i)
            p /= part;
        return p;
    }
    fs::path top;
    std::string part;
    int depth;
};

TEST_F(ParallelRoadTest, ATreeDeeperThanTheLongestPathRoundTripsWithItsMetadata)
{
    const DeepChain chain(items / "Deep", std::string(200, 'd'), 25);
    ASSERT_GT(chain.at(25).native().size(), std::size_t(PATH_MAX));
    const auto write = [](const fs::path& file, const std::string& bytes) {
        std::ofstream(ReachablePath(file).path(), std::ios::binary) << bytes;
    };
    const auto read = [](const fs::path& file) { return readFile(ReachablePath(file).path()); };
    const auto statOf = [](const fs::path& item) {
        struct stat st {};
        EXPECT_EQ(::lstat(ReachablePath(item).c_str(), &st), 0);
        return st;
    };
    write(chain.at(10) / "middle.txt", text(5000, 1));
    const fs::path bottom = chain.at(25) / "bottom.txt";
    write(bottom, text(300000, 2));
    // The bottom file carries a resource fork and Finder information; a folder deep down a mode
    // and a date of its own.
    const std::string fork = randomBytes(3000, 5);
    FinderInfo info;
    info.setType("TEXT");
    info.setCreator("ttxt");
    {
        const ReachablePath at(bottom);
        ASSERT_TRUE(MacMetadataStore::writeResourceFork(at.path(), fork));
        ASSERT_TRUE(MacMetadataStore::writeFinderInfo(at.path(), info));
        const ReachablePath folder(chain.at(20));
        const struct timespec folderTimes[2] = {{0, UTIME_OMIT}, {1500000000, 0}};
        const struct timespec fileTimes[2] = {{0, UTIME_OMIT}, {1500000002, 0}};
        ASSERT_EQ(::chmod(folder.c_str(), 0750), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), folderTimes, 0), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, at.c_str(), fileTimes, 0), 0);
    }
    const fs::path out = dest / "deep.cdx";
    ASSERT_EQ(encrypt({FolderItem(chain.top)}, FolderItem(out), "AES"), JobOutcome::Succeeded)
        << (gui.messages().empty() ? "" : gui.messages()[0].explanation);
    ASSERT_EQ(decrypt(FolderItem(out), FolderItem(dest)), JobOutcome::Succeeded)
        << (gui.messages().empty() ? "" : gui.messages()[0].message);

    const fs::path back = dest / "DecryptedFiles" / "Deep";
    const auto there = [&](const fs::path& original) { return back / original.lexically_relative(chain.top); };
    EXPECT_EQ(read(there(chain.at(10) / "middle.txt")), text(5000, 1));
    EXPECT_EQ(read(there(bottom)), text(300000, 2));
    const ReachablePath bottomBack(there(bottom));
    EXPECT_EQ(MacMetadataStore::readResourceFork(bottomBack.path()), fork);
    EXPECT_EQ(MacMetadataStore::readFinderInfo(bottomBack.path()), info);
    EXPECT_EQ(statOf(there(chain.at(20))).st_mode & 07777, 0750u);
    EXPECT_EQ(statOf(there(chain.at(20))).st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(statOf(there(bottom)).st_mtim.tv_sec, 1500000002);
}

TEST_F(ParallelRoadTest, AJobLeavesNoThreadOrDescriptorBehind)
{
    const auto list = makeFixtureTree(items);
    const fs::path out = dest / "a.cdx";
    // One job first: whatever the libraries set up once is there before counting.
    ASSERT_EQ(encrypt(list, FolderItem(dest / "warm.cdx"), "AES"), JobOutcome::Succeeded);
    const std::size_t threads = entriesIn("/proc/self/task"), descriptors = entriesIn("/proc/self/fd");

    ASSERT_EQ(encrypt(list, FolderItem(out), "Serpent"), JobOutcome::Succeeded);
    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(out)));
    KeyCheckResult check = checkKeyForDecryption(FolderItem(out), header, "key");
    ASSERT_TRUE(check.matches);
    ASSERT_TRUE(check.body);
    enc.Decrypt(FolderItem(out), FolderItem(dest), header.EncryptionType, "key", header, arc, gui.controls(),
                settings(), std::move(check.body));
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    expectSameTree(items / "Tree", dest / "DecryptedFiles" / "Tree");

    EXPECT_EQ(entriesIn("/proc/self/task"), threads);
    EXPECT_EQ(entriesIn("/proc/self/fd"), descriptors);
}

TEST_F(ParallelRoadTest, TheKeyCheckRefusesAWrongKeyAndHandsOverTheBodyKeysOfTheRightOne)
{
    writeFile(items / "note.txt", "secret");
    const fs::path out = dest / "a.cdx";
    ASSERT_EQ(encrypt({FolderItem(items / "note.txt")}, FolderItem(out), "Blowfish", true, "right"),
              JobOutcome::Succeeded);
    LVTagger header;
    ASSERT_TRUE(header.CheckTag(FolderItem(out)));
    const KeyCheckResult wrong = checkKeyForDecryption(FolderItem(out), header, "Right");
    EXPECT_FALSE(wrong.matches);
    EXPECT_FALSE(wrong.body);

    KeyCheckResult check = checkKeyForDecryption(FolderItem(out), header, "right");
    EXPECT_TRUE(check.matches);
    ASSERT_TRUE(check.body);
    // The key handed over with the prepared body is not looked at again: only the prepared
    // body's keys (no second derivation) can decipher the file with it.
    enc.Decrypt(FolderItem(out), FolderItem(dest), header.EncryptionType, "not the key", header, arc,
                gui.controls(), settings(), std::move(check.body));
    ASSERT_EQ(enc.waitForJob(), JobOutcome::Succeeded);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "note.txt"), "secret");
}

// How soon the workers stop is for the benchmark to measure; here, that they do stop.
TEST_F(ParallelRoadTest, CancelInTheMiddleOfTheCompressionStopsTheJob)
{
    // Enough work for every core for a while: the cancel lands in the middle of it.
    writeFile(items / "large.txt", text(48 << 20, 6));
    writeFile(items / "second.txt", "second");
    Pause pause;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving && step == 2) pause.reach();
    });
    startEncrypt({FolderItem(items / "large.txt"), FolderItem(items / "second.txt")}, FolderItem(dest / "a.cdx"), "AES");
    ASSERT_TRUE(pause.waitReached());
    enc.Kill();
    pause.release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    EXPECT_TRUE(workLeftovers().empty());
    EXPECT_TRUE(fs::is_empty(dest));
}

} // namespace
} // namespace lv::test
