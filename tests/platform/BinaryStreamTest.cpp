#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/BinaryStream.h"
#include "support/TempDir.h"

namespace lv {
namespace {

using test::TempDir;

BinaryStream openStream(const std::filesystem::path& file, bool writable)
{
    int fd = ::open(file.c_str(), writable ? (O_RDWR | O_CREAT) : O_RDONLY, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open " + file.string());
    return BinaryStream(fd, writable);
}

TEST(BinaryStream, IntegersAndPStringsInBothByteOrders)
{
    TempDir dir;
    {
        BinaryStream out = openStream(dir / "f", true);
        out.setLittleEndian(true);
        EXPECT_TRUE(out.writeUInt16(0x1234));
        EXPECT_TRUE(out.writeUInt32(0xA1B2C3D4));
        out.setLittleEndian(false);
        EXPECT_TRUE(out.writeUInt16(0x1234));
        EXPECT_TRUE(out.writeUInt32(0xA1B2C3D4));
        EXPECT_TRUE(out.writeUInt8(0xFE));
        EXPECT_TRUE(out.writePString("hello"));
        EXPECT_TRUE(out.writePString(""));
        EXPECT_TRUE(out.writePString(std::string(255, 'x')));
        EXPECT_EQ(out.position(), 13u + 6 + 1 + 256);
        EXPECT_TRUE(out.close());
        EXPECT_FALSE(out.isOpen());
    }
    const std::string bytes = test::readFile(dir / "f");
    EXPECT_EQ(bytes.substr(0, 19), std::string("\x34\x12\xD4\xC3\xB2\xA1"
                                                "\x12\x34\xA1\xB2\xC3\xD4"
                                                "\xFE\x05hello",
                                                19));

    BinaryStream in = openStream(dir / "f", false);
    in.setLittleEndian(true);
    EXPECT_EQ(in.readUInt16(), 0x1234);
    EXPECT_EQ(in.readInt32(), std::int32_t(0xA1B2C3D4));
    in.setLittleEndian(false);
    EXPECT_EQ(in.readInt16(), 0x1234);
    EXPECT_EQ(in.readUInt32(), 0xA1B2C3D4u);
    EXPECT_EQ(in.readUInt8(), 0xFE);
    EXPECT_EQ(in.readPString(), "hello");
    EXPECT_EQ(in.readPString(), "");
    EXPECT_EQ(in.readPString(), std::string(255, 'x'));
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(in.hadError());
}

TEST(BinaryStream, PositionsBeyondFourGiBOnASparseFile)
{
    TempDir dir;
    const std::uint64_t fourGiB = std::uint64_t(1) << 32;
    BinaryStream s = openStream(dir / "sparse", true);
    ASSERT_TRUE(s.setLength(fourGiB + 100));
    EXPECT_EQ(s.length(), fourGiB + 100);

    s.setPosition(fourGiB + 10);
    EXPECT_TRUE(s.writeUInt32(0xCAFEBABE));
    EXPECT_EQ(s.position(), fourGiB + 14);
    EXPECT_EQ(s.length(), fourGiB + 100);

    // The low 32 bits of that position hold something else: nothing may be truncated.
    s.setPosition(10);
    EXPECT_EQ(s.readUInt32(), 0u);
    s.setPosition(fourGiB + 10);
    EXPECT_EQ(s.readUInt32(), 0xCAFEBABEu);

    // Reading across the end gives what is there and stops.
    s.setPosition(fourGiB + 98);
    EXPECT_FALSE(s.eof());
    EXPECT_EQ(s.read(10).size(), 2u);
    EXPECT_TRUE(s.eof());
    EXPECT_FALSE(s.hadError());

    ASSERT_TRUE(s.setLength(5));
    EXPECT_EQ(s.length(), 5u);
}

TEST(BinaryStream, LargeWritesLandWhole)
{
    TempDir dir;
    BinaryStream s = openStream(dir / "f", true);
    std::string bytes((std::size_t(5) << 20) + 7, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i % 251);
    s.setPosition(3);
    ASSERT_TRUE(s.write(bytes));
    EXPECT_EQ(s.position(), bytes.size() + 3);
    s.setPosition(3);
    EXPECT_EQ(s.read(bytes.size() + 10), bytes);
}

TEST(BinaryStream, ShortReadsAtTheEnd)
{
    TempDir dir;
    test::writeFile(dir / "f", std::string(30, 'a'));
    BinaryStream s = openStream(dir / "f", false);

    EXPECT_EQ(s.read(100), std::string(30, 'a'));  // fewer than asked, no error
    EXPECT_TRUE(s.eof());
    EXPECT_EQ(s.read(100), "");
    EXPECT_FALSE(s.hadError());

    s.setPosition(0);
    EXPECT_FALSE(s.eof());

    // A huge count on a short file gives just the file.
    EXPECT_EQ(s.read(std::size_t(1) << 40).size(), 30u);

    // Values the file ends inside read as 0 and are reported.
    s.setPosition(28);
    EXPECT_EQ(s.readUInt32(), 0u);
    EXPECT_EQ(s.lastErrorCode(), EIO);
}

TEST(BinaryStream, PStringCutShortIsAnError)
{
    TempDir dir;
    test::writeFile(dir / "cut", std::string("\x0A" "abc", 4));
    test::writeFile(dir / "empty", "");
    for (const char* name : {"cut", "empty"}) {
        BinaryStream s = openStream(dir / name, false);
        EXPECT_EQ(s.readPString(), "") << name;
        EXPECT_EQ(s.lastErrorCode(), EIO) << name;
    }
}

TEST(BinaryStream, ErrorsAreStickyAndKeepTheFirstCause)
{
    TempDir dir;
    test::writeFile(dir / "f", "data");

    // Writes on a read-only stream fail and change nothing.
    BinaryStream ro = openStream(dir / "f", false);
    EXPECT_FALSE(ro.write("xx"));
    EXPECT_EQ(ro.lastErrorCode(), EBADF);
    EXPECT_FALSE(ro.setLength(0));
    EXPECT_EQ(ro.read(4), "data");  // later successes leave the error in place
    EXPECT_TRUE(ro.hadError());
    ro.clearError();
    EXPECT_FALSE(ro.hadError());
    EXPECT_EQ(test::readFile(dir / "f"), "data");

    // A string too long for its length byte is refused, not cut.
    BinaryStream rw = openStream(dir / "f", true);
    EXPECT_FALSE(rw.writePString(std::string(256, 'y')));
    EXPECT_EQ(rw.lastErrorCode(), EINVAL);
    EXPECT_TRUE(rw.write("zz"));
    EXPECT_TRUE(rw.close());
    EXPECT_FALSE(rw.write("zz"));
    EXPECT_EQ(rw.lastErrorCode(), EINVAL);  // a later failure does not replace the first
    EXPECT_EQ(test::readFile(dir / "f"), "zzta");

    // Everything on a closed stream fails with EBADF.
    BinaryStream closed = openStream(dir / "f", true);
    EXPECT_TRUE(closed.close());
    EXPECT_TRUE(closed.close());  // a second close does nothing
    EXPECT_EQ(closed.read(1), "");
    EXPECT_EQ(closed.lastErrorCode(), EBADF);
    EXPECT_TRUE(closed.eof());
    EXPECT_EQ(closed.length(), 0u);
    EXPECT_FALSE(closed.sync());

    // A descriptor the system cannot read from reports the system's reason.
    int dirFd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dirFd, 0);
    BinaryStream folder(dirFd, false);
    EXPECT_EQ(folder.read(10), "");
    EXPECT_EQ(folder.lastErrorCode(), EISDIR);
}

} // namespace
} // namespace lv
