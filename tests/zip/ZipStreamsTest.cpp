// The sequential streams on data and resource forks, and the adapters between the archive
// stream and the gzip-framed compression stream.

#include <gtest/gtest.h>
#include <fcntl.h>

#include "WriterTestSupport.h"
#include "support/ChildProcess.h"
#include "platform/Exceptions.h"
#include "platform/MacMetadataStore.h"
#include "platform/compression/Crc.h"
#include "zip/SeqStreams.h"
#include "zip/MacBinary.h"
#include "zip/ZipArchive.h"
#include "zip/ZipBinaryStream.h"

namespace lv::test {
namespace {

namespace fs = std::filesystem;

TEST(FileReader, ReadsTheForkAndNeverGrowsIt)
{
    TempDir dir;
    writeFile(dir / "f", std::string(30, 'a'));
    FileReader reader{FolderItem(dir / "f")};
    EXPECT_TRUE(reader.Eof());
    EXPECT_THROW(reader.Read(1), RuntimeException);
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.Read(100).size(), 30u);
    EXPECT_EQ(reader.Read(100), "");
    EXPECT_TRUE(reader.Eof());
    EXPECT_FALSE(reader.HadError());
    ASSERT_TRUE(reader.Open());  // already open: no change

    FileReader skipper{FolderItem(dir / "f")};
    ASSERT_TRUE(skipper.Open());
    EXPECT_TRUE(skipper.Skip(10));
    EXPECT_EQ(skipper.Read(5), "aaaaa");
    EXPECT_FALSE(skipper.Skip(1000));
    EXPECT_EQ(fs::file_size(dir / "f"), 30u);
    std::int32_t code = 0;
    std::string message;
    skipper.GetErrorDescription(code, message);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(message, "open or read error");

    FileReader missing{FolderItem(dir / "missing")};
    EXPECT_FALSE(missing.Open());
    EXPECT_TRUE(missing.HadError());
}

TEST(FileWriter, EmptiesTheFileAndChecksTheLengthAtClose)
{
    TempDir dir;
    writeFile(dir / "f", std::string(10, 'x'));
    {
        FileWriter writer{FolderItem(dir / "f")};
        EXPECT_TRUE(writer.Close());  // never opened
        ASSERT_TRUE(writer.Open());
        EXPECT_EQ(fs::file_size(dir / "f"), 0u);
        EXPECT_TRUE(writer.Write("abc"));
        EXPECT_TRUE(writer.Close());
        EXPECT_TRUE(writer.Close());
    }
    EXPECT_EQ(readFile(dir / "f"), "abc");

    FileWriter created{FolderItem(dir / "new")};
    ASSERT_TRUE(created.Open());
    EXPECT_TRUE(created.Write("hello"));
    // Somebody cuts the file behind the writer's back: the bytes did not all reach it.
    fs::resize_file(dir / "new", 2);
    EXPECT_FALSE(created.Close());
    std::int32_t code = 0;
    std::string message;
    created.GetErrorDescription(code, message);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(message, "open or write error");
    EXPECT_THROW(created.Write("x"), RuntimeException);
}

TEST(ResourceFork, ReaderServesTheForkInPiecesAndWriterStoresIt)
{
    TempDir dir;
    writeFile(dir / "f", "data");
    const std::string fork = randomBytes(300, 4);
    ASSERT_TRUE(MacMetadataStore::writeResourceFork(dir / "f", fork));

    RsrcForkReader reader{FolderItem(dir / "f")};
    EXPECT_TRUE(reader.Eof());
    EXPECT_THROW(reader.Read(1), RuntimeException);
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.Read(128), fork.substr(0, 128));
    EXPECT_EQ(reader.Read(500), fork.substr(128));
    EXPECT_EQ(reader.Read(1), "");
    EXPECT_TRUE(reader.Eof());
    EXPECT_FALSE(reader.HadError());
    ASSERT_TRUE(reader.Open());  // already open
    reader.Close();
    ASSERT_TRUE(reader.Open());  // again from the start
    EXPECT_FALSE(reader.Skip(1000));
    EXPECT_TRUE(reader.Eof());
    EXPECT_FALSE(reader.HadError());

    RsrcForkWriter writer{FolderItem(dir / "f")};
    ASSERT_TRUE(writer.Open());
    EXPECT_FALSE(MacMetadataStore::readResourceFork(dir / "f"));  // emptied by Open
    EXPECT_TRUE(writer.Write("new "));
    EXPECT_TRUE(writer.Write("fork"));
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(MacMetadataStore::readResourceFork(dir / "f").value_or(""), "new fork");

    RsrcForkWriter missing{FolderItem(dir / "missing")};
    EXPECT_FALSE(missing.Open());
    std::int32_t code = 1;
    std::string message = "x";
    missing.GetErrorDescription(code, message);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(message, "");
}

// A fork that is there but may not be read is an error, never an empty fork, and the entry that
// would hold it fails for that reason.
TEST(ResourceFork, ForkThatCannotBeReadFailsToOpen)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const int status = runInChild(
        [&] {
            const fs::path f = dir / "f";
            writeFile(f, "data");
            if (!MacMetadataStore::writeResourceFork(f, "fork"))
                return 2;
            RsrcForkReader none{FolderItem(dir / "none")};
            writeFile(dir / "none", "no fork");
            if (!none.Open() || !none.Eof())
                return 3;
            // Neither the file's attribute nor its companion can be read any more.
            fs::permissions(f, fs::perms::owner_write);
            if (fs::exists(MacMetadataStore::companionPath(f)))
                fs::permissions(MacMetadataStore::companionPath(f), fs::perms::owner_write);
            RsrcForkReader reader{FolderItem(f)};
            std::int32_t code = 0;
            std::string message;
            if (reader.Open())
                return 4;
            reader.GetErrorDescription(code, message);
            if (code != -54 || message != "open or read error (-54)")
                return 5;

            ZipArchive archive;
            if (!archive.Open(FolderItem(dir / "a.zip"), true))
                return 6;
            const auto header = archive.MakeMacBinaryHeader(0, 4, "f", "TEXT", "ttxt", std::nullopt, std::nullopt);
            RsrcForkReader rsrc{FolderItem(f)};
            if (archive.AddItemByStreams(nullptr, 0, &rsrc, 4, header, "f", nullptr, std::nullopt) != -38 ||
                archive.ErrorMessage() != "Opening the source rsrc stream failed")
                return 7;
            return 0;
        },
        true);
    EXPECT_EQ(status, 0);
}

// An archive-like stream on a fresh file.
struct StreamFile {
    TempDir dir;
    BinaryStream stream{::open((dir / "s").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600), true};
    StreamFile() { stream.setLittleEndian(true); }
};

TEST(StreamAdapters, WriterDropsTheLeadingBytesHoweverTheyAreSplit)
{
    StreamFile f;
    ZipBinaryStreamWriter writer(f.stream, 10);
    writer.Write("abcd");
    EXPECT_EQ(writer.BytesWritten(), 0);
    writer.Write("efghijklmn");
    EXPECT_EQ(writer.BytesWritten(), 4);
    writer.Write("opq");
    EXPECT_EQ(writer.BytesWritten(), 7);
    EXPECT_EQ(writer.CRC(), 0u);
    writer.EnableCRCCalculation();
    writer.Write("123456789");
    EXPECT_EQ(writer.CRC(), 0xCBF43926u);  // the CRC-32 check value: only bytes after the switch
    EXPECT_EQ(readFile(f.dir / "s"), "klmnopq123456789");
}

TEST(StreamAdapters, ReaderServesPrefixStreamAndSuffix)
{
    StreamFile f;
    f.stream.write("ABCDE-trailing");
    f.stream.setPosition(0);
    ZipBinaryStreamReader reader(f.stream, 5, "0123456789", "suffix!!");
    EXPECT_EQ(reader.Read(0), "");
    EXPECT_EQ(reader.LastError(), 0);
    EXPECT_EQ(reader.Read(4), "0123");
    EXPECT_EQ(reader.Read(10), "456789ABCD");
    EXPECT_EQ(reader.Read(100), "Esuffix!!");
    EXPECT_EQ(reader.Remaining(), 0);
    EXPECT_EQ(reader.LastError(), 0);
    EXPECT_EQ(reader.Read(1), "");
    EXPECT_EQ(reader.LastError(), -39);

    ZipBinaryStreamReader noData(f.stream, 0, "pre", "post");
    EXPECT_EQ(noData.Read(100), "prepost");
}

TEST(StreamAdapters, DeflateThroughTheWriterInflatesBackThroughTheReader)
{
    StreamFile f;
    const std::string input = textBytes(50000) + randomBytes(20000);
    ZipBinaryStreamWriter writer(f.stream, 10);
    {
        ZStream deflater(true, &writer, nullptr);
        deflater.Write(input.substr(0, 30000));
        deflater.Write(input.substr(30000));
        deflater.Close();
    }
    // The trailer's CRC-32 follows the raw deflate data.
    f.stream.setPosition(std::uint64_t(writer.BytesWritten() - 8));
    EXPECT_EQ(f.stream.readUInt32(), Crc32(input));

    std::string trailer(8, '\0');
    const std::uint32_t crc = Crc32(input), size = std::uint32_t(input.size());
    for (int i = 0; i < 4; ++i) {
        trailer[std::size_t(i)] = char(crc >> (8 * i));
        trailer[std::size_t(4 + i)] = char(size >> (8 * i));
    }
    f.stream.setPosition(0);
    ZipBinaryStreamReader reader(f.stream, writer.BytesWritten() - 8, fromHex("1f8b0800000000000007"), trailer);
    ZStream inflater(false, nullptr, &reader);
    EXPECT_EQ(inflater.Read(input.size()), input);
    EXPECT_EQ(inflater.ErrorValue(), ZStream::StreamEnd);
}

} // namespace
} // namespace lv::test
