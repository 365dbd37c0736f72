#include "platform/compression/Deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "platform/Exceptions.h"

namespace lv {

WholeDeflater::WholeDeflater(int level) : m_compressor(libdeflate_alloc_compressor(level))
{
    if (!m_compressor)
        throw OutOfMemoryException("deflate encoder");
}

WholeDeflater::~WholeDeflater()
{
    libdeflate_free_compressor(m_compressor);
}

std::size_t WholeDeflater::compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    if (out.empty())
        return 0;
    return libdeflate_deflate_compress(m_compressor, in.data(), in.size(), out.data(), out.size());
}

struct PieceDeflater::Impl {
    libdeflate_compressor* compressor = nullptr;
    z_stream walker{};  // inflates a piece to find its blocks
    std::vector<std::uint8_t> scratch = std::vector<std::uint8_t>(std::size_t(256) << 10);
};

PieceDeflater::PieceDeflater(int level) : m_impl(new Impl)
{
    m_impl->compressor = libdeflate_alloc_compressor(level);
    if (!m_impl->compressor || inflateInit2(&m_impl->walker, -15) != Z_OK) {
        libdeflate_free_compressor(m_impl->compressor);
        delete m_impl;
        throw OutOfMemoryException("deflate encoder");
    }
}

PieceDeflater::~PieceDeflater()
{
    inflateEnd(&m_impl->walker);
    libdeflate_free_compressor(m_impl->compressor);
    delete m_impl;
}

namespace {

struct Blocks {
    std::uint64_t lastHeader = 0;  // the bit that marks the last block
    std::uint64_t end = 0;         // the bit after the last block's end code
};

// Where the last block of the complete stream `stream` begins and where it ends, found as
// zlib's inflate crosses each block boundary.
Blocks findLastBlock(z_stream& zs, std::span<std::uint8_t> stream, std::vector<std::uint8_t>& scratch)
{
    const auto broken = [] { return RuntimeException("deflate made a stream that does not inflate"); };
    if (stream.empty() || inflateReset(&zs) != Z_OK)
        throw broken();
    zs.next_in = stream.data();
    zs.avail_in = uInt(stream.size());
    Blocks blocks;
    bool last = (stream[0] & 1) != 0;
    for (;;) {
        zs.next_out = scratch.data();
        zs.avail_out = uInt(scratch.size());
        const int rc = inflate(&zs, Z_BLOCK);
        if (rc != Z_OK && rc != Z_STREAM_END)
            throw broken();
        // At a boundary: the next block's header follows the bits used so far.
        if (zs.data_type & 128 || rc == Z_STREAM_END) {
            const std::uint64_t at = (stream.size() - zs.avail_in) * 8 - std::uint64_t(zs.data_type & 7);
            if (last || rc == Z_STREAM_END) {
                if (rc != Z_STREAM_END && inflate(&zs, Z_BLOCK) != Z_STREAM_END)
                    throw broken();
                if (zs.avail_in != 0)
                    throw broken();
                blocks.end = at;
                return blocks;
            }
            if (at / 8 >= stream.size())
                throw broken();
            blocks.lastHeader = at;
            last = (stream[at / 8] >> (at % 8) & 1) != 0;
        }
    }
}

} // namespace

void PieceDeflater::compress(std::span<const std::uint8_t> in, bool last, ByteBuffer& out)
{
    const std::size_t have = out.size();
    const std::size_t bound = libdeflate_deflate_compress_bound(m_impl->compressor, in.size());
    out.resize(have + bound);
    const std::size_t n = libdeflate_deflate_compress(m_impl->compressor, in.data(), in.size(), out.data() + have, bound);
    if (n == 0)
        throw RuntimeException("deflate failed");
    out.resize(have + n);
    if (last)
        return;
    // A piece before others: its last block is no longer the last, and it ends on a byte
    // boundary with an empty stored block, as zlib's sync flush ends one.
    const std::span<std::uint8_t> stream(out.data() + have, n);
    const Blocks blocks = findLastBlock(m_impl->walker, stream, m_impl->scratch);
    stream[blocks.lastHeader / 8] &= std::uint8_t(~(1u << (blocks.lastHeader % 8)));
    const unsigned used = unsigned(blocks.end % 8);  // bits of the last byte the stream takes
    if (used != 0)
        stream[n - 1] &= std::uint8_t((1u << used) - 1);
    // The empty block's 3 header bits: in the unused bits when there are 3, else in a byte more.
    if (used == 0 || 8 - used < 3)
        out.push_back(0);
    const std::uint8_t empty[] = {0x00, 0x00, 0xFF, 0xFF};
    out.insert(out.end(), std::begin(empty), std::end(empty));
}

void appendStoredBlocks(std::span<const std::uint8_t> in, bool last, ByteBuffer& out)
{
    constexpr std::size_t MaxBlock = 65535;
    do {
        const std::size_t n = std::min(in.size(), MaxBlock);
        const bool final = last && n == in.size();
        // BFINAL, BTYPE 00 (stored), the rest of the byte unused; then LEN and its complement.
        const std::uint8_t header[5] = {std::uint8_t(final ? 1 : 0), std::uint8_t(n), std::uint8_t(n >> 8),
                                        std::uint8_t(~n), std::uint8_t(~n >> 8)};
        out.insert(out.end(), std::begin(header), std::end(header));
        out.insert(out.end(), in.begin(), in.begin() + std::ptrdiff_t(n));
        in = in.subspan(n);
    } while (!in.empty());
}

} // namespace lv
