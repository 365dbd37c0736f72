// Records of a job's hidden items: kept private, held while the job lives, and the next removal
// takes exactly the items of jobs that are over, nothing else.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "platform/LeftoverRecords.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace lv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

class LeftoverRecordsTest : public ::testing::Test {
protected:
    LeftoverRecordsTest() : folder(dir / "state" / "lockvane" / "leftovers"), records(folder) {}

    LeftoverRecord record(const fs::path& item)
    {
        int err = 0;
        LeftoverRecord r = records.record(item, err);
        EXPECT_TRUE(r) << item << ": " << std::strerror(err);
        return r;
    }
    std::size_t recordCount() const
    {
        std::size_t n = 0;
        std::error_code ec;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder, ec)) ++n;
        return n;
    }
    static mode_t modeOf(const fs::path& p)
    {
        struct stat st;
        return ::lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
    }

    TempDir dir;
    fs::path folder;
    LeftoverRecords records;
};

TEST_F(LeftoverRecordsTest, RemovalTakesOnlyTheRecordedItemsOfJobsThatAreOver)
{
    const fs::path here = dir / "dest";
    const struct Case {
        const char* what;
        fs::path item;
        bool folder;
        // After the item is recorded: what happens to it and its record before its job ends
        // (crashes), unless the job still runs.
        std::function<void(LeftoverRecord&)> meanwhile;
        bool running = false;
        bool left = true;  // something is at the item's path after the removal
    } cases[] = {
        {"a crashed job's staging folder", here / ".stage-a", true, [](LeftoverRecord&) {}, false, false},
        {"a crashed job's copy", here / ".copy-b", false, [](LeftoverRecord&) {}, false, false},
        {"a running job's folder", here / ".stage-c", true, [](LeftoverRecord&) {}, true},
        {"a published folder", here / ".stage-d", true, [](LeftoverRecord& r) { r.drop(); }},
        {"another folder at the recorded place", here / ".stage-e", true,
         [&](LeftoverRecord&) {
             fs::rename(here / ".stage-e", here / "moved away");
             writeFile(here / ".stage-e" / "mine.txt", "mine");
         }},
        {"a link at the recorded place", here / ".stage-f", true,
         [&](LeftoverRecord&) {
             fs::rename(here / ".stage-f", here / "real");
             fs::create_directory_symlink(here / "real", here / ".stage-f");
         }},
        {"an item already gone", here / ".stage-g", true, [&](LeftoverRecord&) { fs::remove_all(here / ".stage-g"); },
         false, false},
        {"an item out of reach for now (a drive not mounted)", here / "away" / ".stage-h", true,
         [&](LeftoverRecord&) { fs::rename(here / "away", dir / "unmounted"); }, false, false},
    };
    std::vector<LeftoverRecord> held;
    for (const Case& c : cases) {
        if (c.folder) {
            writeFile(c.item / "plain.txt", "plaintext");
            // Folder modes an archive gave must not keep anything in.
            writeFile(c.item / "closed" / "inner.txt", "plaintext");
            fs::permissions(c.item / "closed", fs::perms::owner_read | fs::perms::owner_exec);
        } else {
            writeFile(c.item, "ciphertext");
        }
        LeftoverRecord r = record(c.item);
        c.meanwhile(r);
        if (c.running) held.push_back(std::move(r));
    }
    EXPECT_EQ(recordCount(), 7u);
    EXPECT_EQ(modeOf(folder), mode_t(S_IFDIR | 0700));
    for (const auto& e : fs::directory_iterator(folder)) EXPECT_EQ(modeOf(e.path()), mode_t(S_IFREG | 0600));

    records.removeUnheld();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(fs::exists(fs::symlink_status(c.item)), c.left);
    }
    EXPECT_EQ(test::readFile(here / ".stage-e" / "mine.txt"), "mine");
    EXPECT_TRUE(fs::exists(here / "moved away" / "plain.txt")) << "a record follows no rename";
    EXPECT_TRUE(fs::exists(here / "real" / "plain.txt")) << "a link was followed";
    EXPECT_EQ(recordCount(), 2u) << "the running job's and the unreachable one's";

    // Back in reach, once its job is over, the last one goes too; a held record outlives any
    // number of removals.
    fs::rename(dir / "unmounted", here / "away");
    records.removeUnheld();
    EXPECT_FALSE(fs::exists(here / "away" / ".stage-h"));
    EXPECT_TRUE(fs::exists(here / ".stage-c" / "plain.txt"));
    EXPECT_EQ(recordCount(), 1u);
    held.clear();
    records.removeUnheld();
    EXPECT_FALSE(fs::exists(here / ".stage-c"));
    EXPECT_EQ(recordCount(), 0u);
}

// A crashed decryption of a deep tree leaves a staging folder deeper than the files a process may
// hold open: it goes all the same, read-only folders in it too.
TEST_F(LeftoverRecordsTest, ARecordedFolderDeeperThanTheOpenFileLimitIsRemoved)
{
    const fs::path staged = dir / "dest" / ".stage";
    fs::path deepest = staged;
    for (int level = 0; level < 400; ++level)
        deepest /= "d";
    fs::create_directories(deepest);
    writeFile(deepest / "plaintext", "secret");
    fs::permissions(deepest, fs::perms::owner_read | fs::perms::owner_exec);
    {
        LeftoverRecord crashed = record(staged);
        ASSERT_TRUE(crashed);
    }
    const int status = test::runInChild([&] {
        const struct rlimit few = {64, 64};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0)
            return 2;
        records.removeUnheld();
        return 0;
    });
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(staged));
    EXPECT_EQ(recordCount(), 0u);
}

TEST_F(LeftoverRecordsTest, WhatIsNeverRecorded)
{
    writeFile(dir / "visible", "x");
    writeFile(dir / ".hidden", "x");
    fs::create_directory_symlink(dir.path(), dir / ".link");
    const struct {
        const char* what;
        fs::path item;
        int err;
    } cases[] = {
        {"a name that is not hidden", dir / "visible", EINVAL},
        {"a link", dir / ".link", EINVAL},
        {"a missing item", dir / ".missing", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int err = 0;
        EXPECT_FALSE(records.record(c.item, err));
        EXPECT_EQ(err, c.err);
    }
    EXPECT_EQ(recordCount(), 0u);

    // A records folder that is a link is refused, and nothing is written where it leads.
    fs::create_directories(folder.parent_path());
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", folder);
    int err = 0;
    EXPECT_FALSE(records.record(dir / ".hidden", err));
    EXPECT_NE(err, 0);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

} // namespace
} // namespace lv
