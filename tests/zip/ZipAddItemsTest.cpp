// Adding files and folder trees: the MacBinary decision, size-only runs, what a walk takes and
// skips, the limits of the records, and failures that end a walk without spoiling the archive.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "WriterTestSupport.h"
#include "platform/Exceptions.h"
#include "platform/MacMetadataStore.h"
#include "platform/Thread.h"
#include "zip/ItemReadHook.h"
#include "zip/SeqStreams.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipProgressNotifier.h"
#include "zip/ZipRecords.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

// An archive created in a fresh temporary folder.
struct NewArchive {
    TempDir dir;
    fs::path file = dir / "out.zip";
    ZipArchive archive;
    NewArchive()
    {
        ZipConfig::UsePlugin = false;
        EXPECT_TRUE(archive.Open(FolderItem(file), true));
    }
    ~NewArchive() { ZipConfig::UsePlugin = false; }

    std::vector<std::string> names()
    {
        std::vector<std::string> result;
        for (std::int32_t i = 1; i <= archive.EntryCount(); ++i)
            result.push_back(archive.Entry(i)->RawPath());
        return result;
    }
    // Adds an item as the archiving worker does; false on failure.
    bool addTree(const FolderItem& item, std::int32_t mode, bool followAliases = false)
    {
        const std::int32_t index = archive.AddItemToRoot(item, mode);
        if (index < 1)
            return false;
        return !item.isFolder() || archive.AddFolderContents(item, archive.Entry(index)->RawPath(), mode, followAliases);
    }
    // Closes the archive and has Info-ZIP test it.
    void closeAndTest()
    {
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
        std::string out;
        EXPECT_EQ(run("unzip -tq " + shellQuote(file), &out), 0) << out;
    }
};


TEST(AddItems, SizeOnlyRunsEqualWhatIsWrittenInEveryMode)
{
    for (const std::int32_t mode : {ZipArchive::MacBinaryNever, ZipArchive::MacBinarySmart, ZipArchive::MacBinaryAlways}) {
        NewArchive a;
        const fs::path tree = makeFixtureTree(a.dir.path());
        writeFile(tree / "sub" / "forked", "data fork");
        ASSERT_TRUE(MacMetadataStore::writeResourceFork(tree / "sub" / "forked", randomBytes(300, 5)));
        const FolderItem item(tree);

        const std::int64_t predicted =
            std::int64_t(a.archive.CalcItemSize(item, mode)) + a.archive.CalcFolderSize(item, false, mode);
        ASSERT_TRUE(a.addTree(item, mode)) << a.archive.ErrorMessage();
        std::int64_t written = 0;
        for (std::int32_t i = 1; i <= a.archive.EntryCount(); ++i)
            written += a.archive.Entry(i)->Size();
        EXPECT_EQ(written, predicted) << "mode " << mode;
        // Four folders, nine files.
        EXPECT_EQ(a.archive.EntryCount(), 13) << "mode " << mode;
        a.closeAndTest();
    }
}

TEST(AddItems, MacBinaryDecisionAndSizes)
{
    TempDir dir;
    writeFile(dir / "one", "x");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "one", "r"));
    writeFile(dir / "plain", std::string(10, 'p'));
    fs::create_directories(dir / "folder");
    ZipArchive archive;  // size runs need no open archive
    struct Case {
        const char* item;
        std::int32_t mode;
        std::int32_t size;
    };
    const Case cases[] = {
        {"one", ZipArchive::MacBinarySmart, 384},  // 128 + 128 + 128
        {"one", ZipArchive::MacBinaryNever, 1},
        {"plain", ZipArchive::MacBinarySmart, 10},
        {"plain", ZipArchive::MacBinaryAlways, 256},
        {"folder", ZipArchive::MacBinarySmart, 0},
        {"folder", ZipArchive::MacBinaryAlways, 128},
    };
    for (const Case& c : cases)
        EXPECT_EQ(archive.CalcItemSize(FolderItem(dir / c.item), c.mode), c.size) << c.item << " mode " << c.mode;
    EXPECT_EQ(archive.CalcItemSize(FolderItem(), ZipArchive::MacBinarySmart), 0);
    EXPECT_EQ(archive.ErrorMessage(), "no file reference given");
    EXPECT_EQ(archive.CalcFolderSize(FolderItem(), false, ZipArchive::MacBinarySmart), -1);
    EXPECT_EQ(archive.ErrorMessage(), "no folder reference given");
}

TEST(AddItems, EntryNamesAreCleanedAndNestedUnderThePath)
{
    NewArchive a;
    writeFile(a.dir / "src" / "back\\slash", "b");
    writeFile(a.dir / "src" / "Sub" / "g", "g");
    fs::create_directories(a.dir / "src" / "Sub" / "empty");
    const FolderItem src(a.dir / "src");
    ASSERT_TRUE(a.archive.AddFolderContents(src, "Docs/", ZipArchive::MacBinarySmart, false));
    ASSERT_TRUE(a.archive.AddFolderContents(src, "", ZipArchive::MacBinarySmart, false));
    EXPECT_EQ(a.names(), (std::vector<std::string>{"Docs/back-slash", "Docs/Sub/", "Docs/Sub/g", "Docs/Sub/empty/",
                                                   "back-slash", "Sub/", "Sub/g", "Sub/empty/"}));
    a.closeAndTest();
}

TEST(AddItems, WalkTakesOnlyFilesAndFoldersAndFollowsAliasesOnlyToFiles)
{
    for (const bool follow : {false, true}) {
        NewArchive a;
        const fs::path tree = a.dir / "tree";
        writeFile(tree / "file", "f");
        writeFile(a.dir / "outside" / "target", "t");
        fs::create_symlink(a.dir / "outside" / "target", tree / "link-to-file");
        fs::create_directory_symlink(a.dir / "outside", tree / "link-to-folder");
        ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0600), 0);
        // Reading the FIFO would block for ever; the walk must not open it.
        ASSERT_TRUE(a.addTree(FolderItem(tree), ZipArchive::MacBinarySmart, follow)) << a.archive.ErrorMessage();
        const std::vector<std::string> expected =
            follow ? std::vector<std::string>{"tree/", "tree/file", "tree/target"} : std::vector<std::string>{"tree/", "tree/file"};
        EXPECT_EQ(a.names(), expected) << "follow " << follow;
        a.closeAndTest();
    }
}

TEST(AddItems, FolderAlreadyOnThePathIsNotEnteredAgain)
{
    NewArchive a;
    const fs::path tree = a.dir / "tree";
    writeFile(tree / "file", "f");
    fs::create_directories(tree / "sub" / "loop");
    const std::string loop = (tree / "sub" / "loop").string();
    if (run("mount --bind " + shellQuote(tree) + " " + shellQuote(loop)) != 0)
        GTEST_SKIP() << "bind mounts are not available here";
    struct Unmount {
        std::string path;
        ~Unmount() { run("umount " + shellQuote(path)); }
    } unmount{loop};
    ASSERT_TRUE(a.addTree(FolderItem(tree), ZipArchive::MacBinarySmart)) << a.archive.ErrorMessage();
    EXPECT_EQ(a.names(), (std::vector<std::string>{"tree/", "tree/file", "tree/sub/"}));
    a.closeAndTest();
}

TEST(AddItems, ItemsBeyondTheRecordLimitsAreRefusedAtOnce)
{
    NewArchive a;
    const fs::path big = a.dir / "tree" / "sparse3G";
    writeFile(a.dir / "tree" / "a-small", "small");
    writeFile(big, "");
    fs::resize_file(big, std::uintmax_t(3) << 30);  // sparse: no data is written or read
    const std::string tooLarge = "The item is too large for a zip archive (2 GB or more)";

    EXPECT_LT(a.archive.AddItemToRoot(FolderItem(big), ZipArchive::MacBinarySmart), 1);
    EXPECT_EQ(a.archive.ErrorMessage(), tooLarge);
    EXPECT_EQ(a.archive.CalcItemSize(FolderItem(big), ZipArchive::MacBinarySmart), -1);
    EXPECT_EQ(a.archive.CalcFolderSize(FolderItem(a.dir / "tree"), false, ZipArchive::MacBinarySmart), -1);
    EXPECT_FALSE(a.archive.AddFolderContents(FolderItem(a.dir / "tree"), "tree/", ZipArchive::MacBinarySmart, false));
    EXPECT_EQ(a.archive.ErrorMessage(), tooLarge);
    EXPECT_EQ(a.names(), std::vector<std::string>{"tree/a-small"});

    EXPECT_EQ(a.archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, std::string(65536, 'n'), nullptr, std::nullopt),
              -50);
    EXPECT_EQ(a.archive.ErrorMessage(), "The entry name is too long (more than 65535 bytes)");
    EXPECT_EQ(a.archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, "x", a.archive.MakeZipExtraField(std::string(65536, 'e')),
                                         std::nullopt),
              -2);
    EXPECT_EQ(a.archive.ErrorMessage(), "The extra field is too long (more than 65535 bytes)");
    // A payload that fits its own fields but would carry the archive past 2^31 - 1 bytes; the
    // source is never read.
    StringSource unread("");
    EXPECT_EQ(a.archive.AddItemByStreams(&unread, zip::MaxOffset - 50, nullptr, 0, std::nullopt, "huge", nullptr, std::nullopt),
              -2);
    EXPECT_EQ(a.archive.ErrorMessage(), "The archive would grow beyond 2 GB, which the zip format used here cannot hold");
    EXPECT_EQ(a.names(), std::vector<std::string>{"tree/a-small"});
    a.closeAndTest();
}

TEST(AddItems, TheEntryAfterTheLast16BitCountIsRefused)
{
    NewArchive a;
    for (std::int32_t i = 1; i <= 65535; ++i)
        ASSERT_EQ(a.archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, std::to_string(i), nullptr, std::nullopt), i);
    EXPECT_LT(a.archive.AddItemByStreams(nullptr, 0, nullptr, 0, std::nullopt, "one too many", nullptr, std::nullopt), 1);
    EXPECT_EQ(a.archive.ErrorMessage(), "The archive cannot hold more than 65535 entries");
    a.closeAndTest();
}

TEST(AddItems, FolderThatCannotBeListedFailsTheWalk)
{
    TempDir dir;
    writeFile(dir / "tree" / "a", "a");
    writeFile(dir / "tree" / "locked" / "secret", "s");
    // The listing of "locked" is refused; everything else is open to the user who archives.
    fs::permissions(dir.path(), fs::perms::all);
    fs::permissions(dir / "tree", fs::perms(0755));
    fs::permissions(dir / "tree" / "a", fs::perms(0644));
    fs::permissions(dir / "tree" / "locked", fs::perms(0111));
    // Root may list any folder: the tool then runs as nobody.
    const std::string asUser = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const fs::path zip = dir / "out.zip";
    std::string out;
    EXPECT_NE(run(asUser + shellQuote(lvzipPath()) + " add " + shellQuote(zip) + " " + shellQuote(dir / "tree"), &out), 0);
    EXPECT_NE(out.find("Reading the folder failed"), std::string::npos) << out;
    std::string names;
    EXPECT_EQ(run("unzip -Z1 " + shellQuote(zip), &names), 0) << names;
    EXPECT_EQ(names, "tree/\ntree/a\ntree/locked/\n");
}

TEST(AddItems, FileBeyondThePathLengthLimitFailsTheWalk)
{
    NewArchive a;
    const fs::path tree = a.dir / "tree";
    fs::create_directories(tree);
    // Folders whose own paths still fit, and a file in the last one whose path does not.
    std::string deepest = tree.string();
    while (deepest.size() + 200 < PATH_MAX) {
        deepest += "/" + std::string(150, 'd');
        fs::create_directory(deepest);
    }
    const int dirFd = ::open(deepest.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirFd, 0);
    const std::string leaf(250, 'f');
    const int fd = ::openat(dirFd, leaf.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    ASSERT_EQ(a.archive.AddItemToRoot(FolderItem(tree), ZipArchive::MacBinaryNever), 1);
    EXPECT_FALSE(a.archive.AddFolderContents(FolderItem(tree), "tree", ZipArchive::MacBinaryNever, false))
        << "the file is not left out in silence";
    EXPECT_EQ(a.archive.ErrorMessage(), "Reading the folder failed");
    ::unlinkat(dirFd, leaf.c_str(), 0);
    ::close(dirFd);
    a.closeAndTest();
}

// The archiving worker lists the trees up front, at any depth; lvzip add does as it does.
TEST(AddItems, LvzipArchivesATreeDeeperThanTheLongestPathWithItsMetadata)
{
    TempDir dir;
    const std::string part(200, 'd');
    fs::path bottom = dir / "tree";
    fs::create_directory(bottom);
    int fd = ::open(bottom.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < 24; ++i) {
        ::mkdirat(fd, part.c_str(), 0755);
        const int next = ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        bottom /= part;
    }
    ASSERT_GE(fd, 0);
    const int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_EQ(::write(file, "data", 4), 4);
    ::close(file);
    ::close(fd);
    ASSERT_GT(bottom.native().size(), std::size_t(PATH_MAX));
    const std::string fork = textBytes(3000);
    FinderInfo info;
    info.setType("TEXT");
    info.setCreator("ttxt");
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(bottom / "f", fork));
    ASSERT_TRUE(MacMetadataStore::writeFinderInfo(bottom / "f", info));

    for (const char* mode : {"", "--serial "}) {
        SCOPED_TRACE(mode);
        std::string out;
        ASSERT_EQ(run(shellQuote(lvzipPath()) + " add " + mode + shellQuote(dir / "t.zip") + " " + shellQuote(dir / "tree"),
                      &out),
                  0)
            << out;
        removeTree(dir / "back");
        ASSERT_EQ(run(shellQuote(lvzipPath()) + " extract " + shellQuote(dir / "t.zip") + " " + shellQuote(dir / "back"),
                      &out),
                  0)
            << out;
        const fs::path back = dir / "back" / bottom.lexically_relative(dir.path()) / "f";
        EXPECT_EQ(MacMetadataStore::readResourceFork(back), fork);
        EXPECT_EQ(MacMetadataStore::readFinderInfo(back), info);
    }
}

TEST(AddItems, TheArchiveInsideTheFolderIsNotAddedToItself)
{
    NewArchive a;
    writeFile(a.dir / "data", "d");
    ASSERT_TRUE(a.archive.AddFolderContents(FolderItem(a.dir.path()), "", ZipArchive::MacBinaryNever, false));
    EXPECT_EQ(a.names(), std::vector<std::string>{"data"});
    a.closeAndTest();
}

TEST(AddItems, SiblingsThatWouldBeExtractedUnderOneNameFailTheWalk)
{
    // Extracted, ":" and "\\" both come back as "-": one entry would overwrite the other.
    struct Case {
        const char* file;
        const char* other;  // a file, or a folder when it ends with "/"
    };
    const Case cases[] = {{"a:b", "a-b"}, {"a\\b", "a-b/"}, {"x:y", "x\\y"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.other);
        NewArchive a;
        const fs::path tree = a.dir / "tree";
        writeFile(tree / c.file, "one");
        const std::string other = c.other;
        if (other.ends_with("/"))
            writeFile(tree / other.substr(0, other.size() - 1) / "inside", "two");
        else
            writeFile(tree / other, "two");
        ASSERT_EQ(a.archive.AddItemToRoot(FolderItem(tree), ZipArchive::MacBinaryNever), 1);
        EXPECT_FALSE(a.archive.AddFolderContents(FolderItem(tree), "tree", ZipArchive::MacBinaryNever, false));
        EXPECT_NE(a.archive.ErrorMessage().find("would get the same name in the archive"), std::string::npos)
            << a.archive.ErrorMessage();
        a.closeAndTest();
    }
}

// A monitor that spoils one file while the walk reaches it and stops the walk on the failure.
class Saboteur : public ZipProgressNotifier {
public:
    enum class Harm { DeleteBeforeOpen, ShortenWhileCopied };
    Saboteur(fs::path victim, Harm harm) : m_victim(std::move(victim)), m_harm(harm) {}

    void ZipFileStarting(const FolderItem& file, bool&) override
    {
        if (m_harm == Harm::DeleteBeforeOpen && file.path() == m_victim)
            fs::remove(m_victim);
    }
    void zipProgress(ZipEntry& entry, std::int32_t, std::int32_t done, bool&) override
    {
        if (m_harm == Harm::ShortenWhileCopied && done == 0 && entry.Name() == m_victim.filename().string())
            fs::resize_file(m_victim, 100);
    }
    void ZipFileError(const FolderItem&, std::int32_t code, const std::string&, bool& stop) override
    {
        lastCode = code;
        stop = true;
    }
    std::int32_t lastCode = 1;

private:
    fs::path m_victim;
    Harm m_harm;
};

TEST(AddItems, FailingSourceEndsTheWalkAndTheArchiveStaysClean)
{
    struct Case {
        Saboteur::Harm harm;
        bool deflate;
        std::int32_t code;
        const char* text;
    };
    const Case cases[] = {
        {Saboteur::Harm::DeleteBeforeOpen, true, -38, "Opening the source data stream failed"},
        {Saboteur::Harm::ShortenWhileCopied, false, -2, "Read error, the archived item may be corrupted"},
        {Saboteur::Harm::ShortenWhileCopied, true, -2, "Read error, the archived item may be corrupted"},
    };
    for (const Case& c : cases) {
        NewArchive a;
        ZipConfig::UsePlugin = c.deflate;
        const fs::path tree = a.dir / "tree";
        writeFile(tree / "a.bin", randomBytes(20000, 1));
        writeFile(tree / "m.bin", randomBytes(40000, 2));
        writeFile(tree / "z.bin", randomBytes(20000, 3));
        Saboteur saboteur(tree / "m.bin", c.harm);
        a.archive.SetProgressMonitor(&saboteur);
        EXPECT_FALSE(a.addTree(FolderItem(tree), ZipArchive::MacBinarySmart));
        EXPECT_EQ(a.archive.ErrorMessage(), c.text);
        EXPECT_EQ(saboteur.lastCode, c.code);
        EXPECT_EQ(a.names(), (std::vector<std::string>{"tree/", "tree/a.bin"}));
        a.closeAndTest();
    }
}

// A file that is gone by the time its bytes are opened (after the walk looked at it) fails with
// the reason the system gave, whichever writer adds it.
TEST(AddItems, AFileGoneBeforeItIsOpenedSaysWhy)
{
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel ? "written behind" : "one by one");
        NewArchive a;
        if (parallel)
            a.archive.WriteInParallel(2, 1 << 20);
        const fs::path victim = a.dir / "gone.bin";
        writeFile(victim, randomBytes(5000, 1));
        itemreadhook::setForTesting([&](const FolderItem& item) {
            if (item.path() == victim)
                fs::remove(victim);
        });
        const std::int32_t added = a.archive.AddItemToRoot(FolderItem(victim), ZipArchive::MacBinarySmart);
        const bool closed = a.archive.Close();
        itemreadhook::setForTesting({});
        EXPECT_TRUE(added < 1 || !closed);
        EXPECT_EQ(a.archive.ErrorMessage(), "Opening the source data stream failed");
        EXPECT_EQ(a.archive.ErrorDetail(), "\"" + victim.string() + "\": No such file or directory.");
    }
}

TEST(AddItems, WriteErrorFailsTheEntryAndTheArchiveStaysClean)
{
    for (const bool deflate : {false, true}) {
        NewArchive a;
        ZipConfig::UsePlugin = deflate;
        writeFile(a.dir / "first", randomBytes(50000, 1));
        writeFile(a.dir / "second", randomBytes(200000, 2));
        ASSERT_EQ(a.archive.AddItemToRoot(FolderItem(a.dir / "first"), ZipArchive::MacBinarySmart), 1);

        // A file-size limit makes the disk "full" in the middle of the second entry.
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 120000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::int32_t result = a.archive.AddItemToRoot(FolderItem(a.dir / "second"), ZipArchive::MacBinarySmart);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(result, -2) << "deflate " << deflate;
        EXPECT_EQ(a.archive.ErrorMessage(), "Write error, the archived item may be corrupted");
        EXPECT_EQ(a.names(), std::vector<std::string>{"first"});
        a.closeAndTest();
    }
}

// Stops the first entry at its first progress report, or kills the thread at the second file.
class Stopper : public ZipProgressNotifier {
public:
    enum class How { AbortEntry, KillThread };
    explicit Stopper(How how) : m_how(how) {}
    void zipProgress(ZipEntry&, std::int32_t total, std::int32_t done, bool& abort) override
    {
        reports.emplace_back(total, done);
        if (m_how == How::AbortEntry)
            abort = true;
    }
    void ZipFileError(const FolderItem&, std::int32_t, const std::string&, bool&) override {}
    void ZipFileStarting(const FolderItem&, bool&) override
    {
        if (m_how == How::KillThread && ++m_files == 2)
            Thread::current()->kill();
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> reports;

private:
    How m_how;
    int m_files = 0;
};

TEST(AddItems, AbortedEntryIsNotAddedAndGetsItsFinalReport)
{
    NewArchive a;
    writeFile(a.dir / "f", randomBytes(40000));
    Stopper stopper(Stopper::How::AbortEntry);
    a.archive.SetProgressMonitor(&stopper);
    EXPECT_EQ(a.archive.AddItemToRoot(FolderItem(a.dir / "f"), ZipArchive::MacBinarySmart), 0);
    EXPECT_EQ(a.archive.ErrorMessage(), "Aborted");
    EXPECT_EQ(stopper.reports, (std::vector<std::pair<std::int32_t, std::int32_t>>{{40000, 0}, {40000, 40000}}));
    EXPECT_EQ(a.archive.EntryCount(), 0);
    a.archive.SetProgressMonitor(nullptr);
    ASSERT_EQ(a.archive.AddItemToRoot(FolderItem(a.dir / "f"), ZipArchive::MacBinarySmart), 1);
    a.closeAndTest();
}

TEST(AddItems, KilledWorkerLeavesNoHalfWrittenArchive)
{
    TempDir dir;
    writeFile(dir / "tree" / "a", randomBytes(1000, 1));
    writeFile(dir / "tree" / "b", randomBytes(1000, 2));
    writeFile(dir / "tree" / "c", randomBytes(1000, 3));
    struct Worker : Thread {
        fs::path zip, tree;
        bool reachedEnd = false;
        void execute() override
        {
            ZipArchive archive;
            Stopper stopper(Stopper::How::KillThread);
            archive.SetProgressMonitor(&stopper);
            ASSERT_TRUE(archive.Open(FolderItem(zip), true));
            archive.AddFolderContents(FolderItem(tree), "", ZipArchive::MacBinarySmart, false);
            reachedEnd = true;
        }
    } worker;
    worker.zip = dir / "out.zip";
    worker.tree = dir / "tree";
    worker.start();
    worker.wait();
    EXPECT_FALSE(worker.reachedEnd);
    EXPECT_FALSE(fs::exists(dir / "out.zip"));
}

TEST(AddItems, UnexpectedExceptionsBecomeFailuresButThreadEndPassesThrough)
{
    NewArchive a;
    StringSource good("hello", StringSource::Fault::None);
    StringSource throwing("hello", StringSource::Fault::Throw);
    StringSource ending("hello", StringSource::Fault::ThreadEnds);
    EXPECT_EQ(a.archive.AddItemByStreams(&good, 5, nullptr, 0, std::nullopt, "good", nullptr, std::nullopt), 1);
    EXPECT_LT(a.archive.AddItemByStreams(&throwing, 5, nullptr, 0, std::nullopt, "bad", nullptr, std::nullopt), 1);
    EXPECT_EQ(a.archive.ErrorMessage(), "Unexpected error (exception) in 'AddItemByStreams'");
    EXPECT_THROW(a.archive.AddItemByStreams(&ending, 5, nullptr, 0, std::nullopt, "ends", nullptr, std::nullopt), ThreadEnd);
    // Misuse: a resource fork without a MacBinary header.
    EXPECT_THROW(a.archive.AddItemByStreams(&good, 5, &good, 5, std::nullopt, "x", nullptr, std::nullopt), RuntimeException);
    EXPECT_EQ(a.names(), std::vector<std::string>{"good"});
    a.closeAndTest();
}

TEST(AddItems, UnixPermissionsGoIntoTheUpperHalfOfTheAttributes)
{
    NewArchive a;
    writeFile(a.dir / "f", "x");
    ::chmod((a.dir / "f").c_str(), 0644);
    a.archive.PreserveUnixPermissions(true);
    const std::int32_t index = a.archive.AddItemToRoot(FolderItem(a.dir / "f"), ZipArchive::MacBinarySmart);
    ASSERT_EQ(index, 1);
    EXPECT_EQ(std::uint32_t(a.archive.Entry(index)->ExternalFileAttributes()) >> 16, 0x81A4u);
    EXPECT_EQ(a.archive.Entry(index)->OSMadeBy(), 3);
    a.closeAndTest();
}

} // namespace
} // namespace lv::test
