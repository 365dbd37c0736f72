// The extraction of a decryption runs on a pool of threads: a failure or a Cancel in the middle
// of it still ends the job cleanly, and a job leaves no thread or descriptor behind.

#include <gtest/gtest.h>

#include <filesystem>

#include "RoadFixture.h"
#include "zip/ZipArchive.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const char* folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    return n;
}

// Threads and open descriptors of this process.
std::pair<std::size_t, std::size_t> threadsAndDescriptors()
{
    return {entriesIn("/proc/self/task"), entriesIn("/proc/self/fd")};
}

// Many entries in several folders, `size` bytes of text each, deflated.
fs::path manyEntries(const fs::path& out, int count, std::size_t size, const std::string& failing = {})
{
    return encryptedArchive(out, [&](ZipArchive& a) {
        for (int i = 0; i < count; ++i) {
            if (i == count / 2 && !failing.empty()) addEntry(a, failing, "x");
            std::string text = "entry " + std::to_string(i) + "\n";
            while (text.size() < size) text += text;
            text.resize(size);
            addEntry(a, std::string("d").append(std::to_string(i % 7)).append("/f").append(std::to_string(i)), text,
                     0100644);
        }
    });
}

using ExtractionRoadTest = RoadTest;

TEST_F(ExtractionRoadTest, ManyEntriesComeOutAndTheJobLeavesNoThreadOrDescriptor)
{
    const fs::path file = manyEntries(root / "many.cdx", 300, 20000);
    ASSERT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Succeeded);
    const auto before = threadsAndDescriptors();
    fs::remove_all(dest / "DecryptedFiles");
    ASSERT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Succeeded);
    EXPECT_EQ(threadsAndDescriptors(), before);
    EXPECT_EQ(listTree(dest / "DecryptedFiles").size(), 307u);
    EXPECT_EQ(readFile(dest / "DecryptedFiles" / "d3" / "f157").substr(0, 10), "entry 157\n");
    EXPECT_TRUE(workLeftovers().empty());
}

TEST_F(ExtractionRoadTest, AFailingEntryInTheMiddleFailsTheJobAndLeavesNothing)
{
    const fs::path file = manyEntries(root / "failing.cdx", 300, 20000, "d1/../../escape");
    const auto before = threadsAndDescriptors();
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    ASSERT_EQ(gui.messages().size(), 1u);
    EXPECT_EQ(gui.messages()[0].message, "Extraction of \"d1/../../escape\" failed: No destination given");
    EXPECT_TRUE(gui.hasEvent("reset"));
    EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_TRUE(workLeftovers().empty());
    EXPECT_EQ(threadsAndDescriptors(), before);
}

// The job holds its destination open: renaming it, or putting a link in its place, neither keeps
// a failed job's files nor sends the clean-up elsewhere.
TEST_F(ExtractionRoadTest, ADestinationMovedDuringTheJobIsStillCleanedUp)
{
    const fs::path file = manyEntries(root / "failing.cdx", 300, 20000, "d1/../../escape");
    fs::create_directory(root / "elsewhere");
    bool moved = false;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (archiving || step != 2) return;
        fs::rename(dest, root / "moved");
        fs::create_directory_symlink(root / "elsewhere", dest);
        moved = true;
    });
    EXPECT_EQ(decrypt(FolderItem(file), FolderItem(dest)), JobOutcome::Failed);
    ASSERT_TRUE(moved);
    EXPECT_FALSE(gui.hasEvent("status: Decryption Complete."));
    EXPECT_TRUE(fs::is_empty(root / "moved")) << "the decrypted files stayed in the renamed folder";
    EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
}

// How soon a cancel takes effect is for the benchmark to measure; here, that it does.
TEST_F(ExtractionRoadTest, CancelInTheMiddleStopsAndLeavesNothing)
{
    const fs::path file = manyEntries(root / "large.cdx", 64, 512 * 1024);
    const auto before = threadsAndDescriptors();
    // One thread of the pool waits at the twentieth entry while the others go on.
    Pause pause;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 20) pause.reach();
    });
    startDecrypt(FolderItem(file), FolderItem(dest));
    ASSERT_TRUE(pause.waitReached());
    EXPECT_FALSE(fs::is_empty(enc.extractionFolder().path()));
    enc.Kill();
    pause.release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    EXPECT_TRUE(gui.messages().empty());
    EXPECT_TRUE(fs::is_empty(dest));
    EXPECT_TRUE(workLeftovers().empty());
    EXPECT_EQ(threadsAndDescriptors(), before);
}

// A cancel stops entries in the middle: their files go through the folders' descriptors too,
// not by a path that now leads elsewhere.
TEST_F(ExtractionRoadTest, ACancelAfterTheDestinationMovedLeavesNothing)
{
    const fs::path file = manyEntries(root / "large.cdx", 64, 512 * 1024);
    fs::create_directory(root / "elsewhere");
    Pause pause;
    ZipThread::setStepHookForTesting([&](bool archiving, std::int32_t step) {
        if (!archiving && step == 20) pause.reach();
    });
    startDecrypt(FolderItem(file), FolderItem(dest));
    ASSERT_TRUE(pause.waitReached());
    fs::rename(dest, root / "moved");
    fs::create_directory_symlink(root / "elsewhere", dest);
    enc.Kill();
    pause.release();
    EXPECT_EQ(enc.waitForJob(), JobOutcome::Cancelled);
    std::string left;
    for (auto& e : fs::recursive_directory_iterator(root / "moved")) left += e.path().string() + "\n";
    EXPECT_TRUE(left.empty()) << left;
    EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
}

} // namespace
} // namespace lv::test
