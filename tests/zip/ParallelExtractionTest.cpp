// The entries of an archive extracted by a pool of threads: the same files, the same first
// failure and the same clean-up as one entry after the other.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "ReaderTestSupport.h"
#include "platform/FolderItem.h"
#include "support/TempDir.h"
#include "zip/ExtractionJob.h"
#include "zip/ExtractionSchedule.h"
#include "zip/ParallelExtraction.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipEntry.h"
#include "zip/ZipProgressNotifier.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

// Folders with many files each, text and random, stored and deflated, and one deflated entry too
// large to be inflated whole in memory.
std::vector<RawEntry> manyEntries(int folders, int filesPerFolder)
{
    std::vector<RawEntry> entries;
    for (int f = 0; f < folders; ++f) {
        const std::string folder = std::string("f").append(std::to_string(f)).append("/");
        entries.push_back(RawEntry(folder).withAttributes(3, 0040750u << 16));
        for (int i = 0; i < filesPerFolder; ++i) {
            const std::string name = folder + "file" + std::to_string(i);
            const std::string text = std::string(std::size_t(100 + 37 * i), char('a' + i % 26)) + name;
            RawEntry e = i % 3 == 0 ? RawEntry(name, randomBytes(std::size_t(1000 + 97 * i), unsigned(i)))
                                    : RawEntry(name, text).deflated();
            entries.push_back(e.withAttributes(3, (0100000u | (i % 2 ? 0640u : 0755u)) << 16));
        }
    }
    entries.push_back(RawEntry("big/large.txt", std::string(9u << 20, 'z') + "end").deflated());
    return entries;
}

std::optional<ParallelExtraction::Failure> extractInParallel(const fs::path& zip, ExtractionJob& job,
                                                             unsigned threads = 0, unsigned* used = nullptr)
{
    ZipConfig::UsePlugin = true;
    ZipArchive archive;
    EXPECT_TRUE(archive.Open(FolderItem(zip), false)) << archive.ErrorMessage();
    ParallelExtraction pool(archive, job, threads);
    if (used)
        *used = pool.threadCount();
    return pool.run();
}

// Extracts `zip` a few times, each time into a folder of its own claimed in `out` (named, or
// staged: hidden until published, files written under their own names), and hands `check` the
// outcome: threads that run in another order must not change it.
void extractRepeatedly(const fs::path& zip, const fs::path& out,
                       const std::function<void(const std::optional<ParallelExtraction::Failure>&, ExtractionJob&)>& check)
{
    fs::create_directories(out);
    for (int run = 0; run < 4; ++run) {
        const bool staged = run % 2 == 1;
        SCOPED_TRACE(staged ? "staged" : "named");
        std::string error;
        auto job = staged ? ExtractionJob::claimStagingFolder(FolderItem(out), "x", error)
                          : ExtractionJob::claimFolder(FolderItem(out), "x", error);
        ASSERT_TRUE(job) << error;
        check(extractInParallel(zip, *job), *job);
    }
}

TEST(ParallelExtraction, MoreEntriesThanThreadsComeOutAsOneAfterTheOther)
{
    TempDir dir;
    const std::vector<RawEntry> entries = manyEntries(12, 25);
    writeFile(dir / "t.zip", layoutZip(entries).bytes());

    ASSERT_EQ(extractAll(dir / "t.zip", dir / "one"), "");
    ExtractionJob job{FolderItem(dir / "many")};
    unsigned threads = 0;
    const auto failure = extractInParallel(dir / "t.zip", job, 4, &threads);
    ASSERT_FALSE(failure) << failure->message;
    std::string finished;
    ASSERT_TRUE(job.finish(finished)) << finished;
    EXPECT_EQ(threads, 4u);

    EXPECT_EQ(listTree(dir / "many"), listTree(dir / "one"));
    for (const RawEntry& e : entries) {
        if (e.name.back() == '/')
            continue;
        EXPECT_EQ(readFile(dir / "many" / e.name), e.data) << e.name;
        EXPECT_EQ(FolderItem(dir / "many" / e.name).mode(), FolderItem(dir / "one" / e.name).mode()) << e.name;
    }
    EXPECT_EQ(FolderItem(dir / "many" / "f3").mode() & 07777, 0750u);
    // Folders keep their entries' dates, though files went into them after.
    for (const char* root : {"one", "many"}) {
        const auto entryDate = FolderItem(dir / root / "f3" / "file1").modificationDate();
        ASSERT_TRUE(entryDate);
        EXPECT_EQ(FolderItem(dir / root / "f3").modificationDate(), entryDate) << root;
    }
    // The job knows all it made, its root included.
    EXPECT_TRUE(job.removeCreated());
    EXPECT_FALSE(fs::exists(dir / "many"));

    // Staged, the same tree appears at once under the first free name, and nothing else.
    fs::create_directories(dir / "dest" / "many");
    std::string error;
    auto staged = ExtractionJob::claimStagingFolder(FolderItem(dir / "dest"), "many", error);
    ASSERT_TRUE(staged) << error;
    ASSERT_FALSE(extractInParallel(dir / "t.zip", *staged, 4));
    ASSERT_TRUE(staged->finish(error)) << error;
    ASSERT_TRUE(staged->publish(error)) << error;
    EXPECT_FALSE(staged->publish(error)) << "published twice";
    EXPECT_EQ(error, ExtractionJob::NoStagingFolderText);
    EXPECT_EQ(staged->root().path(), dir / "dest" / "many2");
    EXPECT_EQ(listTree(dir / "dest" / "many2"), listTree(dir / "one"));
    EXPECT_EQ(listTree(dir / "dest").size(), listTree(dir / "one").size() + 2);
    EXPECT_TRUE(staged->removeCreated());
    EXPECT_EQ(listTree(dir / "dest" / "many2"), listTree(dir / "one")) << "a published root is the user's";
}

// The first failing entry in the archive's order is reported, whatever the threads' timing, and
// the clean-up removes everything the job made, entries after the failure included.
TEST(ParallelExtraction, TheFirstFailureInOrderIsReportedAndNothingIsLeft)
{
    TempDir dir;
    // A long entry that fails only at its end, and right behind it one that fails at once.
    std::vector<RawEntry> entries = manyEntries(8, 20);
    const std::size_t middle = entries.size() / 2;
    entries.insert(entries.begin() + std::ptrdiff_t(middle),
                   {RawEntry("bad.bin", randomBytes(8u << 20, 9)), RawEntry("../escape", "x")});
    RawZip zip = layoutZip(entries);
    std::string bytes = zip.bytes();
    bytes[zip.localOffsets[middle] + 30 + 7 + 2] ^= 0x01;  // "bad.bin" no longer matches its CRC
    writeFile(dir / "t.zip", bytes);

    extractRepeatedly(dir / "t.zip", dir / "out", [&](const auto& failure, ExtractionJob& job) {
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->index, std::int32_t(middle + 1));
        EXPECT_EQ(failure->message, "Extraction of \"bad.bin\" failed: Data appears to be corrupted");
        EXPECT_FALSE(failure->exception);
        EXPECT_TRUE(job.removeCreated());
        EXPECT_TRUE(fs::is_empty(dir / "out"));
    });
}

// Entries whose places meet take turns in the archive's order: a second file of one name never
// replaces the first, however the threads run.
TEST(ParallelExtraction, EntriesOfOnePlaceTakeTurnsInOrder)
{
    TempDir dir;
    // The first takes a while to inflate; the second, right behind it, none.
    const std::string first = randomBytes(3u << 20, 3);
    std::vector<RawEntry> entries = {RawEntry("d/f", first).deflated(), RawEntry("d/f", "later")};
    for (int i = 0; i < 20; ++i)
        entries.push_back(RawEntry(std::string("e").append(std::to_string(i)), "x"));
    writeFile(dir / "t.zip", layoutZip(entries).bytes());
    extractRepeatedly(dir / "t.zip", dir / "out", [&](const auto& refused, ExtractionJob& job) {
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->message,
                  std::string("Extraction of \"d/f\" failed: ") + ExtractionJob::FileExtractedAlreadyText);
        EXPECT_EQ(readFile(job.root().path() / "d" / "f"), first);
    });
}

// A client's monitor of an archive hears from the archive's own thread only, one call at a time,
// entry after entry in the archive's order, whether it was set before the pool was made or after;
// its abort stops the extraction at that entry.
TEST(ParallelExtraction, AProgressMonitorIsCalledInOrderFromTheCallingThread)
{
    class Recorder final : public ZipProgressNotifier {
    public:
        void zipProgress(ZipEntry& entry, std::int32_t total, std::int32_t done, bool& abort) override
        {
            if (++inside > 1)
                overlapped = true;
            if (std::this_thread::get_id() != caller)
                otherThread = true;
            calls.push_back({entry.RawPath(), total, done});
            if (entry.RawPath() == abortAt)
                abort = true;
            --inside;
        }
        void ZipFileError(const FolderItem&, std::int32_t, const std::string&, bool&) override {}
        void ZipFileStarting(const FolderItem&, bool&) override {}

        struct Call {
            std::string name;
            std::int32_t total, done;
        };
        std::thread::id caller = std::this_thread::get_id();
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false}, otherThread{false};
        std::vector<Call> calls;
        std::string abortAt;
    };

    TempDir dir;
    const std::vector<RawEntry> entries = manyEntries(6, 10);
    writeFile(dir / "t.zip", layoutZip(entries).bytes());
    ZipConfig::UsePlugin = true;
    const struct {
        const char* what;
        bool aborting, setAfter;
    } cases[] = {
        {"whole", false, false},
        {"aborted", true, false},
        {"set after the pool was made", false, true},
        {"set after, aborted", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool aborting = c.aborting;
        Recorder monitor;
        const std::string stopAt = entries[20].name;
        if (aborting)
            monitor.abortAt = stopAt;
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "t.zip"), false));
        if (!c.setAfter)
            archive.SetProgressMonitor(&monitor);
        ExtractionJob job{FolderItem(dir / c.what)};
        ParallelExtraction pool(archive, job, 4);
        if (c.setAfter)
            archive.SetProgressMonitor(&monitor);
        const auto failure = pool.run();
        EXPECT_FALSE(monitor.overlapped);
        EXPECT_FALSE(monitor.otherThread);

        // Each file entry in turn: 0 first, the total last, never going back.
        std::vector<std::string> reported;
        for (const auto& call : monitor.calls) {
            if (reported.empty() || reported.back() != call.name) {
                reported.push_back(call.name);
                EXPECT_EQ(call.done, 0) << call.name;
            }
        }
        std::vector<std::string> expected;
        for (const RawEntry& e : entries) {
            if (e.name.back() != '/')
                expected.push_back(e.name);
            if (aborting && e.name == stopAt)
                break;
        }
        EXPECT_EQ(reported, expected);
        ASSERT_FALSE(monitor.calls.empty());
        EXPECT_EQ(monitor.calls.back().done, monitor.calls.back().total);
        if (aborting) {
            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->message, "Extraction of \"" + stopAt + "\" failed: Aborted");
            EXPECT_FALSE(fs::exists(job.root().path() / entries[21].name));
        } else {
            EXPECT_FALSE(failure) << failure->message;
        }
        archive.SetProgressMonitor(nullptr);
    }
}

TEST(ExtractionSchedule, PlacesThatMeet)
{
    TempDir dir;
    const std::vector<std::string> names = {
        "a/", "a/f", "a/g", "A/F", "b", "b/c", "x:y", "x-y", "x/y", "._f", "f", "d/._g", "d/g", "../up", "/abs",
        "e/../h", "h"};
    std::vector<RawEntry> entries;
    for (const std::string& n : names)
        entries.push_back(RawEntry(n, n.back() == '/' ? "" : "data"));
    writeFile(dir / "t.zip", layoutZip(entries).bytes());
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "t.zip"), false));
    ExtractionSchedule schedule(archive);
    const auto index = [&](const std::string& n) {
        return std::int32_t(std::find(names.begin(), names.end(), n) - names.begin() + 1);
    };
    const std::set<std::pair<std::string, std::string>> meeting = {
        {"a/", "a/f"}, {"a/", "a/g"}, {"a/", "A/F"}, {"a/f", "A/F"}, {"b", "b/c"}, {"x:y", "x-y"},
        {"._f", "f"},  {"d/._g", "d/g"}, {"e/../h", "h"}};
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            if (a >= b)
                continue;
            const bool expected = meeting.count({a, b}) || meeting.count({b, a});
            EXPECT_EQ(schedule.meet(index(a), index(b)), expected) << a << " " << b;
        }
    }
}

} // namespace
} // namespace lv::test
