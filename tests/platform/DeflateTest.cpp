#include <gtest/gtest.h>

#include <zlib.h>

#include "platform/compression/Crc.h"
#include "platform/compression/Deflate.h"
#include "support/TempDir.h"

namespace lv {
namespace {

using Bytes = ByteBuffer;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Raw inflate with zlib, the reader every outside tool uses; nullopt when the stream is damaged
// or does not end.
std::optional<Bytes> inflateRaw(const Bytes& in, std::size_t expected)
{
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK)
        return std::nullopt;
    Bytes out(expected + 1);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = uInt(in.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    const bool used = zs.avail_in == 0;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || !used)
        return std::nullopt;
    return out;
}

std::string text(std::size_t n)
{
    std::string s;
    for (int i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i % 977) + " of some text that repeats itself\n";
    s.resize(n);
    return s;
}

TEST(WholeDeflater, DeflatesAndRefusesWhatDoesNotShrink)
{
    WholeDeflater deflater;
    const Bytes plain = bytesOf(text(200000));
    Bytes out(plain.size() - 1);
    const std::size_t n = deflater.compress(plain, out);
    ASSERT_GT(n, 0u);
    EXPECT_LT(n, plain.size() / 4);
    out.resize(n);
    EXPECT_EQ(inflateRaw(out, plain.size()), plain);

    const Bytes noise = bytesOf(test::randomBytes(100000, 3));
    Bytes room(noise.size() - 1);
    EXPECT_EQ(deflater.compress(noise, room), 0u);
}

TEST(PieceDeflater, PiecesJoinedInOrderMakeOneStream)
{
    // Text, then noise, then text: the noisy pieces go in as stored blocks.
    const std::string all = text(300000) + test::randomBytes(200000, 5) + text(150001);
    const Bytes plain = bytesOf(all);
    const std::size_t pieceSize = 64 * 1024;
    PieceDeflater deflater;
    Bytes joined;
    std::uint32_t crc = 0;
    int storedPieces = 0;
    for (std::size_t at = 0; at < plain.size(); at += pieceSize) {
        const std::size_t n = std::min(pieceSize, plain.size() - at);
        const bool last = at + n == plain.size();
        const std::span<const std::uint8_t> piece(plain.data() + at, n);
        Bytes out;
        deflater.compress(piece, last, out);
        if (out.size() >= n) {
            out.clear();
            appendStoredBlocks(piece, last, out);
            ++storedPieces;
        }
        joined.insert(joined.end(), out.begin(), out.end());
        crc = at == 0 ? Crc32(piece) : Crc32Combine(crc, Crc32(piece), n);
    }
    EXPECT_GE(storedPieces, 2);
    EXPECT_EQ(crc, Crc32(all));
    EXPECT_EQ(inflateRaw(joined, plain.size()), plain);
    EXPECT_LT(joined.size(), plain.size() * 6 / 10);
}

// Pieces end at every bit position of their last byte, and large ones hold several blocks: each
// but the last must lose its final mark and end byte-aligned, whatever its length and contents.
TEST(PieceDeflater, PiecesOfEveryLengthAndKindJoinIntoOneStream)
{
    const std::size_t lengths[] = {1, 2, 3, 5, 8, 13, 100, 1000, 4097, 65535, 65536, 300001, 700000};
    PieceDeflater deflater;
    std::string all;
    Bytes joined;
    unsigned seed = 0;
    for (const bool noisy : {false, true}) {
        for (const std::size_t n : lengths) {
            ++seed;
            const std::string piece = noisy ? test::randomBytes(n, seed) : text(n + seed).substr(seed);
            all += piece;
            const Bytes bytes = bytesOf(piece);
            deflater.compress(bytes, false, joined);
        }
    }
    const std::string tail = text(777);
    all += tail;
    deflater.compress(bytesOf(tail), true, joined);
    EXPECT_EQ(inflateRaw(joined, all.size()), bytesOf(all));
}

TEST(StoredBlocks, AnEmptyLastPieceAndBlocksOfTheLargestSize)
{
    Bytes empty;
    appendStoredBlocks({}, true, empty);
    EXPECT_EQ(inflateRaw(empty, 0), Bytes{});

    const Bytes plain = bytesOf(test::randomBytes(65535 * 2 + 1, 8));
    Bytes out;
    appendStoredBlocks(plain, true, out);
    EXPECT_EQ(out.size(), plain.size() + 3 * 5);
    EXPECT_EQ(inflateRaw(out, plain.size()), plain);
}

} // namespace
} // namespace lv
