#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/ByteOrder.h"
#include "platform/Exceptions.h"
#include "platform/compression/Crc.h"
#include "platform/compression/ZStream.h"
#include "support/TempDir.h"

namespace lv {
namespace {

struct StringWriter : IStreamWriter {
    std::string bytes;
    int closes = 0;
    void Write(std::string_view b) override { bytes.append(b); }
    void Close() override { ++closes; }
    int LastError() const override { return 0; }
};

// Serves `data` in pieces of at most `maxPiece` bytes, then nothing (-39), like the zip reader.
struct StringReader : IStreamReader {
    std::string data;
    std::size_t maxPiece;
    std::size_t pos = 0;
    int error = 0;
    StringReader(std::string d, std::size_t piece = 1 << 20) : data(std::move(d)), maxPiece(piece) {}
    std::string Read(std::size_t count) override
    {
        std::size_t n = std::min({count, maxPiece, data.size() - pos});
        if (n == 0)
            error = -39;
        std::string out = data.substr(pos, n);
        pos += n;
        return out;
    }
    int LastError() const override { return error; }
};

std::uint32_t le32(const std::string& s, std::size_t at)
{
    return bytes::loadLE32(std::span<const std::uint8_t, 4>(reinterpret_cast<const std::uint8_t*>(s.data()) + at, 4));
}

std::string le32Bytes(std::uint32_t v)
{
    std::string s(4, '\0');
    bytes::storeLE32(std::span<std::uint8_t, 4>(reinterpret_cast<std::uint8_t*>(s.data()), 4), v);
    return s;
}

// Half text-like, half random: both deflate block kinds get exercised.
std::string sampleData(std::size_t size)
{
    std::string out;
    while (out.size() < size / 2)
        out += "Lockvane packs files and folders into one archive. ";
    out.resize(size / 2);
    return out + test::randomBytes(size - out.size(), 7);
}

std::string deflateInRandomPieces(const std::string& input, unsigned seed = 1)
{
    StringWriter writer;
    ZStream z(true, &writer, nullptr);
    std::mt19937 gen(seed);
    for (std::size_t pos = 0; pos < input.size();) {
        std::size_t n = std::min<std::size_t>(input.size() - pos, gen() % 70000 + 1);
        z.Write(std::string_view(input).substr(pos, n));
        pos += n;
    }
    z.Close();
    EXPECT_EQ(writer.closes, 1);
    EXPECT_EQ(z.ErrorValue(), 0);
    return writer.bytes;
}

TEST(ZStreamDeflate, OneGzipMemberWithTenByteHeaderThatPythonInflates)
{
    test::TempDir dir;
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(100000), std::size_t(1 << 20) + 3}) {
        SCOPED_TRACE(size);
        const std::string input = sampleData(size);
        const std::string member = deflateInRandomPieces(input);
        ASSERT_GE(member.size(), 18u);
        EXPECT_EQ(member.substr(0, 4), std::string("\x1f\x8b\x08\x00", 4)); // no optional header fields
        EXPECT_EQ(le32(member, member.size() - 8), Crc32(input));
        EXPECT_EQ(le32(member, member.size() - 4), std::uint32_t(input.size()));

        // What the zip writer stores: the member without its 10-byte header.
        test::writeFile(dir / "raw", member.substr(10));
        const std::string cmd = "python3 -c \"import sys, zlib; open(sys.argv[2], 'wb').write(zlib.decompress("
                                "open(sys.argv[1], 'rb').read(), -15))\" "
                                + test::shellQuote((dir / "raw").string()) + " " + test::shellQuote((dir / "out").string());
        ASSERT_EQ(test::runCommand(cmd), 0);
        EXPECT_TRUE(test::readFile(dir / "out") == input);
    }
}

TEST(ZStreamInflate, ReadsExactCountsAndReachesTheEndWithTheLastByte)
{
    const std::string input = sampleData(300000);
    for (std::size_t piece : {std::size_t(1), std::size_t(1000), std::size_t(1 << 20)}) {
        SCOPED_TRACE(piece);
        StringReader reader(deflateInRandomPieces(input), piece);
        ZStream z(false, nullptr, &reader);
        EXPECT_EQ(z.ErrorValue(), 0);
        std::mt19937 gen(3);
        std::string got;
        while (got.size() < input.size()) {
            std::size_t n = std::min<std::size_t>(input.size() - got.size(), gen() % 40000 + 1);
            std::string part = z.Read(n);
            ASSERT_EQ(part.size(), n);
            got += part;
            ASSERT_TRUE(z.ErrorValue() == 0 || z.ErrorValue() == 1) << z.ErrorValue();
        }
        EXPECT_EQ(z.ErrorValue(), 1) << "trailer not checked by the read that delivered the last byte";
        EXPECT_TRUE(got == input);
        EXPECT_EQ(z.Read(10), "");
        EXPECT_EQ(z.ErrorValue(), 1);
    }
}

TEST(ZStreamInflate, ReadsAMemberWrappedAroundRawDeflateFromPython)
{
    // The zip reader's framing: fixed header with OS 7, raw deflate data from another encoder,
    // trailer built from the archive's CRC-32 and size.
    test::TempDir dir;
    const std::string input = sampleData(200000);
    test::writeFile(dir / "in", input);
    const std::string cmd = "python3 -c \"import sys, zlib; c = zlib.compressobj(9, zlib.DEFLATED, -15); "
                            "open(sys.argv[2], 'wb').write(c.compress(open(sys.argv[1], 'rb').read()) + c.flush())\" "
                            + test::shellQuote((dir / "in").string()) + " " + test::shellQuote((dir / "raw").string());
    ASSERT_EQ(test::runCommand(cmd), 0);
    StringReader reader(std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x07", 10) + test::readFile(dir / "raw")
                        + le32Bytes(Crc32(input)) + le32Bytes(std::uint32_t(input.size())));
    ZStream z(false, nullptr, &reader);
    EXPECT_TRUE(z.Read(input.size()) == input);
    EXPECT_EQ(z.ErrorValue(), 1);
    EXPECT_EQ(z.Read(input.size() + 5), "") << "reads past the end give nothing";
}

TEST(ZStreamInflate, DamagedMembersFailAtTheLatestInTheReadOfTheLastByte)
{
    const std::string input = sampleData(50000);
    const std::string good = deflateInRandomPieces(input);
    struct Case {
        const char* what;
        std::string member;
        int expected;
    };
    auto flipped = [&](std::size_t at) {
        std::string m = good;
        m[at] = char(m[at] ^ 0x01);
        return m;
    };
    std::string badBlock = good;
    badBlock[10] = char(0x07); // final block of the reserved type 3
    const Case cases[] = {
        {"CRC-32 in the trailer", flipped(good.size() - 8), ZStream::TrailerError},
        {"length in the trailer", flipped(good.size() - 1), ZStream::TrailerError},
        {"trailer missing", good.substr(0, good.size() - 8), ZStream::BufferError},
        {"cut inside the data", good.substr(0, good.size() / 2), ZStream::BufferError},
        {"invalid deflate block", badBlock, ZStream::DataError},
        {"not gzip", flipped(0), ZStream::DataError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StringReader reader(c.member, 4096);
        ZStream z(false, nullptr, &reader);
        std::size_t delivered = 0;
        while (delivered < input.size() && z.ErrorValue() == 0) {
            std::size_t n = z.Read(std::min<std::size_t>(8192, input.size() - delivered)).size();
            if (n == 0)
                break;
            delivered += n;
        }
        EXPECT_EQ(z.ErrorValue(), c.expected);
        EXPECT_EQ(z.Read(1), "") << "a failed stream delivers nothing more";
        EXPECT_EQ(z.ErrorValue(), c.expected) << "the failure stays";
    }
}

TEST(ZStream, MisuseRaises)
{
    StringWriter writer;
    EXPECT_THROW(ZStream(true, nullptr, nullptr), NilObjectException);
    EXPECT_THROW(ZStream(false, &writer, nullptr), NilObjectException);
    ZStream z(true, &writer, nullptr);
    EXPECT_THROW(z.Read(1), RuntimeException);
    z.Close();
    EXPECT_THROW(z.Write("late"), RuntimeException);
    EXPECT_THROW(z.Close(), RuntimeException);
    EXPECT_EQ(writer.closes, 1);
}

} // namespace
} // namespace lv
