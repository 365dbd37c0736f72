// An extraction job at any depth: what the archive recorded comes back however deep the tree,
// a few folders are held open whatever the depth, and a job never ends in success when
// something it extracted was taken away meanwhile.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "ReaderTestSupport.h"
#include "platform/FinderInfo.h"
#include "platform/MacMetadataStore.h"
#include "platform/ReachablePath.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "zip/ExtractionJob.h"
#include "zip/ParallelExtraction.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t Directory = 0040000;

// The date layoutZip gives every entry: 2017-01-01 12:00:00, local time.
std::int64_t entryDate()
{
    std::tm t{};
    t.tm_year = 117;
    t.tm_mday = 1;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::int64_t(std::mktime(&t));
}

// The start of an entry name `levels` folders deep, each name `width` bytes long.
std::string chain(int levels, std::size_t width)
{
    std::string name;
    for (int i = 0; i < levels; ++i)
        name.append(width, 'd').push_back('/');
    return name;
}

struct stat statOf(const fs::path& item)
{
    const ReachablePath reach(item);
    struct stat st {};
    EXPECT_EQ(::lstat(reach.c_str(), &st), 0) << item.filename();
    return st;
}

// The names in a folder of any depth, sorted.
std::vector<std::string> namesIn(const fs::path& folder)
{
    const ReachablePath reach(folder);
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(reach.c_str())) {
        while (const dirent* e = ::readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.emplace_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string zpit(std::string_view type, std::string_view creator)
{
    ZipArchive archive;
    return archive.MakeZipExtraField(type, creator, "")->AsData();
}

// Every entry of `zip` extracted through `job` by a pool of threads, as the program does; "" or
// the message of the first failure.
std::string extractWith(ExtractionJob& job, const fs::path& zip)
{
    ZipConfig::UsePlugin = true;
    ZipArchive archive;
    if (!archive.Open(FolderItem(zip), false))
        return archive.ErrorMessage();
    ParallelExtraction pool(archive, job);
    const auto failure = pool.run();
    return failure ? failure->message : "";
}

// The two folders an extraction meets: one of its own (files written under their names) and one
// of the user's (files written aside and renamed into place); and the two stores of Mac metadata.
struct DeepCase {
    const char* name;
    bool staged;
    bool attributes;
};

TEST(ExtractionJob, ATreeDeeperThanTheLongestPathKeepsWhatTheArchiveRecorded)
{
    const std::string deep = chain(24, 200);
    // Small enough for an attribute wherever there are user attributes.
    const std::string fork = randomBytes(2000, 3);
    // What a Mac's companion carries, and what makes it one.
    const std::string ux = unixType1Extra(1483272000, 1483272000);
    for (const DeepCase& c : {DeepCase{"staged, attributes", true, true}, DeepCase{"named, attributes", false, true},
                              DeepCase{"staged, companions", true, false}, DeepCase{"named, companions", false, false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / "t.zip",
                  layoutZip({RawEntry(deep).withAttributes(3, (Directory | 0750) << 16),
                             RawEntry(deep + "doc", "the text").withExtra(zpit("TEXT", "ttxt")),
                             RawEntry(deep + "forked", "data fork"),
                             RawEntry(deep + "._forked", appleDouble("APPL", "ttxt", 0x0400, fork)).withExtra(ux)})
                      .bytes());
        ASSERT_GT((dir / deep).native().size(), std::size_t(PATH_MAX));
        const bool takesAttributes = ::setxattr(dir.path().c_str(), "user.lockvane.probe", "1", 1, 0) == 0;
        MacMetadataStore::setExtendedAttributesDisabledForTesting(!c.attributes);
        std::string error;
        std::unique_ptr<ExtractionJob> job = c.staged ? ExtractionJob::claimStagingFolder(FolderItem(dir.path()), "out", error)
                                                      : std::make_unique<ExtractionJob>(FolderItem(dir / "out"));
        ASSERT_TRUE(job) << error;
        error = extractWith(*job, dir / "t.zip");
        if (error.empty())
            job->finish(error);
        if (error.empty() && c.staged)
            job->publish(error);
        MacMetadataStore::setExtendedAttributesDisabledForTesting(false);
        ASSERT_EQ(error, "");

        const fs::path at = dir / "out" / deep;
        EXPECT_EQ(readFile(ReachablePath(at / "doc").path()), "the text");
        EXPECT_EQ(readFile(ReachablePath(at / "forked").path()), "data fork");
        EXPECT_EQ(MacMetadataStore::readResourceFork(at / "forked"), fork);
        const auto docInfo = MacMetadataStore::readFinderInfo(at / "doc");
        const auto forkedInfo = MacMetadataStore::readFinderInfo(at / "forked");
        ASSERT_TRUE(docInfo && forkedInfo);
        EXPECT_EQ(docInfo->type() + docInfo->creator(), "TEXTttxt");
        EXPECT_EQ(forkedInfo->type() + forkedInfo->creator(), "APPLttxt");
        EXPECT_EQ(forkedInfo->finderFlags(), 0x0400);
        EXPECT_EQ(statOf(at).st_mode & 07777, 0750u);
        EXPECT_EQ(statOf(at).st_mtim.tv_sec, entryDate());
        // Nothing else: no work file, and each companion beside its file.
        const std::vector<std::string> names = c.attributes && takesAttributes
                                                   ? std::vector<std::string>{"doc", "forked"}
                                                   : std::vector<std::string>{"._doc", "._forked", "doc", "forked"};
        EXPECT_EQ(namesIn(at), names);
    }
}

TEST(ExtractionJob, MetadataThatCannotBeStoredFailsTheEntryWithItsName)
{
    TempDir dir;
    // Without attributes, the Finder information can only go to the companion's place, where a
    // file of the user's is.
    writeFile(dir / "out" / "._doc", "the user's own file");
    writeFile(dir / "t.zip", layoutZip({RawEntry("doc", "the text").withExtra(zpit("TEXT", "ttxt"))}).bytes());
    MacMetadataStore::setExtendedAttributesDisabledForTesting(true);
    ExtractionJob job{FolderItem(dir / "out")};
    const std::string error = extractWith(job, dir / "t.zip");
    MacMetadataStore::setExtendedAttributesDisabledForTesting(false);
    EXPECT_EQ(error, "Extraction of \"doc\" failed: Restoring the Finder information failed: File exists");
    EXPECT_EQ(readFile(dir / "out" / "._doc"), "the user's own file");
    EXPECT_EQ(listTree(dir / "out"), std::vector<std::string>{"._doc"}) << "the file without its metadata stays";
    EXPECT_TRUE(job.removeCreated());
}

struct Robbery {
    const char* name;
    std::function<void(const fs::path& root, const fs::path& aside)> act;
    const char* message;
    std::vector<std::string> left;  // what stays in the folder the root was claimed in
    std::size_t aside;              // items the robbery took away, which stay where they went
};

TEST(ExtractionJob, AnItemTakenAwayBeforeTheEndFailsTheJobAndNothingElseStays)
{
    const std::vector<Robbery> robberies = {
        {"a file deleted", [](const fs::path& root, const fs::path&) { fs::remove(root / "a" / "one.txt"); },
         "The extracted file \"a/one.txt\" was moved or deleted before the extraction ended.", {}, 0},
        {"a folder replaced by another of its name",
         [](const fs::path& root, const fs::path& aside) {
             fs::rename(root / "a" / "sub", aside / "sub");
             fs::create_directory(root / "a" / "sub");
         },
         "The extracted folder \"a/sub\" was moved or deleted before the extraction ended.",
         {"x/", "x/a/", "x/a/sub/"}, 2},
        {"a file replaced by another of its name",
         [](const fs::path& root, const fs::path&) {
             writeFile(root / "new.txt", "someone else's");
             fs::rename(root / "new.txt", root / "three.txt");
         },
         "The extracted file \"three.txt\" was moved or deleted before the extraction ended.", {"x/", "x/three.txt"},
         0},
    };
    for (const Robbery& r : robberies) {
        SCOPED_TRACE(r.name);
        TempDir dir;
        writeFile(dir / "t.zip", layoutZip({RawEntry("a/"), RawEntry("a/one.txt", "1"), RawEntry("a/sub/"),
                                            RawEntry("a/sub/two.txt", "2"), RawEntry("three.txt", "3")})
                                     .bytes());
        fs::create_directories(dir / "in");
        fs::create_directories(dir / "aside");
        std::string error;
        const auto job = ExtractionJob::claimFolder(FolderItem(dir / "in"), "x", error);
        ASSERT_TRUE(job) << error;
        ASSERT_EQ(extractWith(*job, dir / "t.zip"), "");
        r.act(dir / "in" / "x", dir / "aside");
        EXPECT_FALSE(job->finish(error));
        EXPECT_EQ(error, r.message);
        // What the job made goes; what took an item's place, or where an item went, is not its own.
        EXPECT_EQ(job->removeCreated(), r.left.empty());
        EXPECT_EQ(listTree(dir / "in"), r.left);
        EXPECT_EQ(listTree(dir / "aside").size(), r.aside);
    }
}

TEST(ExtractionJob, ANestingDeeperThanTheOpenFileLimitIsExtracted)
{
    TempDir dir;
    const int depth = 2000;
    std::vector<RawEntry> entries;
    for (int level = 1; level <= depth; ++level)
        entries.push_back(RawEntry(chain(level, 1)).withAttributes(3, (Directory | 0750) << 16));
    entries.push_back(RawEntry(chain(depth, 1) + "bottom.txt", "at the bottom"));
    writeFile(dir / "t.zip", layoutZip(entries).bytes());
    // The usual limit is 1024; a quarter of it keeps the test quick.
    const int status = runInChild([&] {
        const struct rlimit few = {256, 256};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0)
            return 2;
        ExtractionJob job{FolderItem(dir / "out")};
        std::string error = extractWith(job, dir / "t.zip");
        if (error.empty() && !job.finish(error) && error.empty())
            error = "finish failed without a message";
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.substr(error.size() > 300 ? error.size() - 300 : 0).c_str());
            return 3;
        }
        const fs::path bottom = dir / "out" / chain(depth, 1);
        if (readFile(ReachablePath(bottom / "bottom.txt").path()) != "at the bottom")
            return 4;
        return (statOf(bottom).st_mode & 07777) == 0750 && statOf(bottom).st_mtim.tv_sec == entryDate() ? 0 : 5;
    });
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace lv::test
