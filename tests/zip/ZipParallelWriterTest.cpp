// The parallel writer: entries compressed by a pool of workers and written behind the adds hold
// what the one-by-one writer stores, in the same order with the same records; a file longer than
// the memory bound is built in pieces; failures found behind end the adds with their message.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "WriterTestSupport.h"
#include "platform/FolderItem.h"
#include "platform/ItemStat.h"
#include "platform/MacMetadataStore.h"
#include "zip/EntryPayload.h"
#include "zip/SeqStreams.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipRecords.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t SmallBound = 1 << 20;

// Collects what an entry gives back.
class StringSink : public SeqDataOutputStream {
public:
    bool Write(std::string_view data) override { return bytes.append(data), true; }
    bool Open() override { return true; }
    bool Close() override { return true; }
    void GetErrorDescription(std::int32_t& code, std::string& message) const override { code = 0, message.clear(); }
    bool Skip(std::int32_t) override { return false; }
    void ClearError() override {}
    bool Flush() override { return true; }
    std::string bytes;
};

// Files of every kind the writer treats apart: empty, tiny, text, random, a Mac file, modes,
// and more of them than there are workers; one file longer than the small memory bound.
fs::path makeTree(const fs::path& root)
{
    const fs::path tree = root / "tree";
    for (int i = 0; i < 60; ++i) {
        const fs::path sub = tree / ("folder" + std::to_string(i % 7));
        writeFile(sub / ("text" + std::to_string(i) + ".txt"), textBytes(std::size_t(100 + i * 997)));
        writeFile(sub / ("noise" + std::to_string(i) + ".bin"), randomBytes(std::size_t(i * 613), unsigned(i)));
    }
    writeFile(tree / "empty", "");
    writeFile(tree / "one", "1");
    writeFile(tree / "private.txt", "mine");
    fs::permissions(tree / "private.txt", fs::perms(0600));
    writeFile(tree / "long.txt", textBytes(3 * SmallBound + 12345));
    writeFile(tree / "Forked", "the data fork");
    FinderInfo info;
    info.setType("TEXT");
    info.setCreator("ttxt");
    EXPECT_TRUE(FolderItem(tree / "Forked").setFinderInfo(info));
    EXPECT_TRUE(MacMetadataStore::writeResourceFork(tree / "Forked", randomBytes(3000, 9)));
    fs::create_directories(tree / "empty folder");
    return tree;
}

// Writes `tree` as the archiving worker does; `workers` 0 writes one by one.
void writeArchive(const fs::path& zip, const fs::path& tree, unsigned workers)
{
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(zip), true));
    archive.PreserveUnixPermissions(true);
    archive.WriteInParallel(workers, SmallBound);
    ASSERT_GE(archive.AddItemToRoot(FolderItem(tree), ZipArchive::MacBinarySmart), 1);
    ASSERT_TRUE(archive.AddFolderContents(FolderItem(tree), "tree", ZipArchive::MacBinarySmart, false))
        << archive.ErrorMessage();
    ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();
    std::string out;
    EXPECT_EQ(run("unzip -tq " + shellQuote(zip), &out), 0) << out;
}

struct ZipConfigGuard {
    explicit ZipConfigGuard(bool deflate) { ZipConfig::UsePlugin = deflate; }
    ~ZipConfigGuard() { ZipConfig::UsePlugin = false; }
};

TEST(ParallelWriter, WritesTheEntriesTheOneByOneWriterWrites)
{
    ZipConfigGuard deflate(true);
    TempDir dir;
    const fs::path tree = makeTree(dir.path());
    writeArchive(dir / "serial.zip", tree, 0);
    writeArchive(dir / "parallel.zip", tree, 4);

    ZipArchive serial, parallel;
    ASSERT_TRUE(serial.Open(FolderItem(dir / "serial.zip"), false));
    ASSERT_TRUE(parallel.Open(FolderItem(dir / "parallel.zip"), false));
    ASSERT_EQ(parallel.EntryCount(), serial.EntryCount());
    bool storedOne = false, piecesOne = false;
    for (std::int32_t i = 1; i <= serial.EntryCount(); ++i) {
        const ZipEntryPtr a = serial.Entry(i), b = parallel.Entry(i);
        SCOPED_TRACE(a->RawPath());
        EXPECT_EQ(b->RawPath(), a->RawPath());
        // The records agree but for how the data is stored and where.
        MemoryBlock ra = a->z_Header(), rb = b->z_Header();
        for (MemoryBlock* r : {&ra, &rb}) {
            r->setUInt16Value(zip::central::Method, 0);
            r->setUInt32Value(zip::central::CompressedSize, 0);
            r->setUInt32Value(zip::central::LocalHeaderOffset, 0);
        }
        EXPECT_TRUE(ra == rb);
        EXPECT_EQ(b->ExtraFieldInCentralDir()->AsData(), a->ExtraFieldInCentralDir()->AsData());
        // A deflated entry whose data would not shrink is stored.
        if (a->CompressionMethod() != b->CompressionMethod()) {
            EXPECT_EQ(b->CompressionMethod(), 0);
            EXPECT_EQ(b->CompressedSize(), b->Size());
            EXPECT_LE(b->CompressedSize(), a->CompressedSize());
            storedOne = true;
        }
        piecesOne = piecesOne || b->Size() > std::int32_t(SmallBound);
        // The same payload, MacBinary header and forks included.
        StringSink pa, pb;
        std::optional<MemoryBlock> header;
        ASSERT_TRUE(a->Extract(false, &pa, nullptr, header)) << a->ErrorMessage();
        ASSERT_TRUE(b->Extract(false, &pb, nullptr, header)) << b->ErrorMessage();
        EXPECT_TRUE(pa.bytes == pb.bytes);
    }
    EXPECT_TRUE(storedOne);
    EXPECT_TRUE(piecesOne);
    const std::int32_t forked = parallel.EntryIdxByRawPath("tree/Forked", 1);
    ASSERT_GE(forked, 1);
    EXPECT_EQ(parallel.Entry(forked)->Size(), 128 + 128 + 3072);
    // Permissions with the Unix host.
    const ZipEntryPtr mine = parallel.Entry(parallel.EntryIdxByRawPath("tree/private.txt", 1));
    EXPECT_EQ(mine->OSMadeBy(), zip::HostUnix);
    EXPECT_EQ(std::uint32_t(mine->ExternalFileAttributes()) >> 16, 0100600u);
}

// A file-size limit makes the disk "full" while the entries written behind go out.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : m_handler(::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        ::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    sighandler_t m_handler;
};

TEST(ParallelWriter, AFailureFoundBehindFailsEveryLaterAddAndKeepsTheEntriesBeforeIt)
{
    for (const bool deflate : {false, true}) {
        SCOPED_TRACE(deflate ? "deflated" : "stored");
        ZipConfigGuard config(deflate);
        TempDir dir;
        writeFile(dir / "first", randomBytes(50000, 1));
        writeFile(dir / "second", randomBytes(200000, 2));
        writeFile(dir / "third", "3");
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(dir / "out.zip"), true));
        archive.WriteInParallel(2, SmallBound);
        EXPECT_EQ(archive.AddItemToRoot(FolderItem(dir / "first"), ZipArchive::MacBinarySmart), 1);
        {
            FileSizeLimit limit(120000);
            EXPECT_EQ(archive.AddItemToRoot(FolderItem(dir / "second"), ZipArchive::MacBinarySmart), 2);
            EXPECT_EQ(archive.EntryCount(), 1);  // waits for the writes
        }
        EXPECT_EQ(archive.AddItemToRoot(FolderItem(dir / "third"), ZipArchive::MacBinarySmart), -2);
        EXPECT_EQ(archive.ErrorMessage(), "Write error, the archived item may be corrupted");
        EXPECT_TRUE(archive.Close()) << "the add reported the failure already";

        ZipArchive back;
        ASSERT_TRUE(back.Open(FolderItem(dir / "out.zip"), false));
        ASSERT_EQ(back.EntryCount(), 1);
        EXPECT_EQ(back.Entry(1)->RawPath(), "first");
        std::string out;
        EXPECT_EQ(run("unzip -tq " + shellQuote(dir / "out.zip"), &out), 0) << out;
    }
}

// The output goes to the disk on a thread of its own, about 1 MiB at a time: a write that fails
// there keeps the entries that reached the disk whole, and the failure is reported once.
TEST(ParallelWriter, AWriteThatFailsBehindTheAddsKeepsTheEntriesThatReachedTheDisk)
{
    TempDir dir;
    constexpr int Files = 10;
    const auto name = [](int i) { return "noise" + std::to_string(i); };
    for (int i = 0; i < Files; ++i)
        writeFile(dir / name(i), randomBytes(SmallBound, unsigned(20 + i)));
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "out.zip"), true));
    archive.WriteInParallel(3, SmallBound);
    std::string reported;
    {
        // The first four entries go out whole; a later write stops short of the fifth one's end.
        FileSizeLimit limit(5 * SmallBound - 1000);
        for (int i = 0; i < Files && reported.empty(); ++i)
            if (archive.AddItemToRoot(FolderItem(dir / name(i)), ZipArchive::MacBinarySmart) < 1)
                reported = archive.ErrorMessage();
        archive.EntryCount();  // waits for the writes
    }
    const bool closed = archive.Close();
    if (reported.empty()) {
        EXPECT_FALSE(closed) << "no add reported the failure";
        reported = archive.ErrorMessage();
    } else {
        EXPECT_TRUE(closed) << "an add reported the failure already";
    }
    EXPECT_EQ(reported, "Write error, the archived item may be corrupted");

    ZipArchive back;
    ASSERT_TRUE(back.Open(FolderItem(dir / "out.zip"), false));
    ASSERT_EQ(back.EntryCount(), 4);
    for (std::int32_t i = 1; i <= back.EntryCount(); ++i)
        EXPECT_EQ(back.Entry(i)->RawPath(), name(i - 1));
    std::string out;
    EXPECT_EQ(run("unzip -tq " + shellQuote(dir / "out.zip"), &out), 0) << out;
}

TEST(ParallelWriter, AFileBuiltInPiecesIsDeflatedWhereItShrinksThoughItBeginsWithNoise)
{
    ZipConfigGuard config(true);
    TempDir dir;
    const std::string noise = randomBytes(SmallBound / 4, 5), text = textBytes(3 * SmallBound / 4);
    writeFile(dir / "mixed", noise + text + noise);
    ZipArchive archive;
    ASSERT_TRUE(archive.Open(FolderItem(dir / "out.zip"), true));
    archive.WriteInParallel(3, SmallBound);
    ASSERT_EQ(archive.AddItemToRoot(FolderItem(dir / "mixed"), ZipArchive::MacBinarySmart), 1);
    ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();

    ZipArchive back;
    ASSERT_TRUE(back.Open(FolderItem(dir / "out.zip"), false));
    const ZipEntryPtr entry = back.Entry(1);
    EXPECT_EQ(entry->CompressionMethod(), 8);
    // The noise as stored blocks (a few bytes per 64 KiB), the text deflated.
    EXPECT_LT(entry->CompressedSize(), std::int32_t(2 * noise.size() + text.size() / 4));
    StringSink sink;
    std::optional<MemoryBlock> header;
    ASSERT_TRUE(entry->Extract(false, &sink, nullptr, header)) << entry->ErrorMessage();
    EXPECT_TRUE(sink.bytes == noise + text + noise);
    std::string out;
    EXPECT_EQ(run("unzip -tq " + shellQuote(dir / "out.zip"), &out), 0) << out;
}


// A reader following the writer (the cipher does) may go past a large entry's local header while
// the entry is written: what it was told is final must be what the archive holds at the end, but
// for the 8 bytes it was told are held.
TEST(ParallelWriter, BytesToldFinalDuringALargeEntryStayButForItsHeldHeaderFields)
{
    for (const bool deflate : {true, false}) {
        SCOPED_TRACE(deflate ? "deflated" : "stored");
        ZipConfigGuard config(deflate);
        TempDir dir;
        writeFile(dir / "tree" / "small", textBytes(5000));
        // Past the writer's 4 MiB output buffer even deflated, so that some of it reaches the disk early.
        writeFile(dir / "tree" / "large", randomBytes(8 * SmallBound, 6) + textBytes(4 * SmallBound));
        writeFile(dir / "tree" / "after", textBytes(7000));
        struct Told {
            std::int64_t end, held;
            std::string bytes;
        };
        std::vector<Told> told;
        const fs::path zip = dir / "out.zip";
        ZipArchive archive;
        ASSERT_TRUE(archive.Open(FolderItem(zip), true));
        archive.WriteInParallel(3, SmallBound);
        archive.SetFinalBytesListener([&](std::int64_t end, std::int64_t held) {
            told.push_back({end, held, readFile(zip).substr(0, std::size_t(end))});
        });
        for (const char* name : {"small", "large", "after"})
            ASSERT_GE(archive.AddItemToRoot(FolderItem(dir / "tree" / name), ZipArchive::MacBinarySmart), 1);
        ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();

        const std::string final = readFile(zip);
        bool pastAHeader = false;
        for (Told& t : told) {
            ASSERT_LE(t.bytes.size(), final.size());
            std::string expected = final.substr(0, t.bytes.size());
            if (t.held >= 0) {
                ASSERT_LE(std::size_t(t.held) + 8, t.bytes.size());
                pastAHeader = pastAHeader || t.end > t.held + 8 + std::int64_t(SmallBound);
                // The large entry's CRC and compressed size: still zero when told.
                EXPECT_EQ(t.bytes.substr(std::size_t(t.held), 8), std::string(8, '\0'));
                expected.replace(std::size_t(t.held), 8, t.bytes, std::size_t(t.held), 8);
            }
            EXPECT_TRUE(t.bytes == expected) << "told final up to " << t.end;
        }
        EXPECT_TRUE(pastAHeader) << "the reader was never let past the large entry's header";
        EXPECT_EQ(told.back().end, std::int64_t(final.size()));
        EXPECT_EQ(told.back().held, ZipArchive::NothingHeld);
        std::string out;
        EXPECT_EQ(run("unzip -tq " + shellQuote(zip), &out), 0) << out;
    }
}
TEST(ParallelWriter, AFileWhoseSizeReadsZeroIsReadToItsEndByBothWriters)
{
    // A kernel file: stat says empty, reading gives text.
    const fs::path kernel = "/proc/version";
    const ItemStat stat = statItem(kernel);
    if (stat.kind != FolderItem::Kind::File || stat.length != 0)
        GTEST_SKIP() << kernel << " is not an empty-looking regular file here";
    const std::string text = readFile(kernel);
    ASSERT_FALSE(text.empty());
    for (const bool deflate : {false, true})
        for (const unsigned workers : {0u, 2u}) {
            SCOPED_TRACE(std::string(deflate ? "deflated" : "stored") + (workers ? ", parallel" : ", one by one"));
            ZipConfigGuard config(deflate);
            TempDir dir;
            writeFile(dir / "empty", "");
            ZipArchive archive;
            ASSERT_TRUE(archive.Open(FolderItem(dir / "out.zip"), true));
            archive.WriteInParallel(workers, SmallBound);
            EXPECT_EQ(archive.AddItemToRoot(FolderItem(kernel), ZipArchive::MacBinarySmart), 1) << archive.ErrorMessage();
            EXPECT_EQ(archive.AddItemToRoot(FolderItem(dir / "empty"), ZipArchive::MacBinarySmart), 2);
            ASSERT_TRUE(archive.Close()) << archive.ErrorMessage();

            ZipArchive back;
            ASSERT_TRUE(back.Open(FolderItem(dir / "out.zip"), false));
            ASSERT_EQ(back.EntryCount(), 2);
            EXPECT_EQ(back.Entry(1)->Size(), std::int32_t(text.size()));
            StringSink sink;
            std::optional<MemoryBlock> header;
            ASSERT_TRUE(back.Entry(1)->Extract(false, &sink, nullptr, header)) << back.Entry(1)->ErrorMessage();
            EXPECT_EQ(sink.bytes, text);
            EXPECT_EQ(back.Entry(2)->Size(), 0);
            EXPECT_EQ(back.Entry(2)->CompressionMethod(), 0);
            std::string out;
            EXPECT_EQ(run("unzip -tq " + shellQuote(dir / "out.zip"), &out), 0) << out;
        }
}

TEST(EntryPayload, AFileThatChangedSinceItWasLookedAtIsNamedInTheFailure)
{
    TempDir dir;
    const std::string text = textBytes(10000);
    struct Case {
        const char* what;
        void (*change)(const fs::path&);
    };
    const Case cases[] = {
        {"grew", [](const fs::path& f) { writeFile(f, textBytes(10001)); }},
        {"shrank", [](const fs::path& f) { fs::resize_file(f, 9999); }},
        {"was replaced", [](const fs::path& f) {
             writeFile(f.string() + ".new", textBytes(10000));
             fs::rename(f.string() + ".new", f);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = dir / "file.txt";
        writeFile(file, text);
        EntryPayload payload(FolderItem(file), statItem(file), {{EntryPayload::Part::Kind::DataFork, text.size(), {}}});
        c.change(file);
        std::vector<std::uint8_t> out(text.size());
        const auto error = payload.read(0, out);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, -2);
        EXPECT_EQ(error->message, "The file \"file.txt\" changed while it was read: it is no longer 10000 bytes long");
    }
    // Unchanged, the bytes come back, in any range and from several parts.
    const fs::path file = dir / "same.txt";
    writeFile(file, text);
    EntryPayload payload(FolderItem(file), statItem(file),
                         {{EntryPayload::Part::Kind::Bytes, 3, "abc"},
                          {EntryPayload::Part::Kind::DataFork, text.size(), {}},
                          {EntryPayload::Part::Kind::Zeros, 5, {}}});
    std::vector<std::uint8_t> out(payload.length());
    ASSERT_FALSE(payload.read(0, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "abc" + text + std::string(5, '\0'));
    std::vector<std::uint8_t> middle(7);
    ASSERT_FALSE(payload.read(text.size(), middle));
    EXPECT_EQ(std::string(middle.begin(), middle.end()), text.substr(text.size() - 3) + std::string(4, '\0'));
}

} // namespace
} // namespace lv::test
