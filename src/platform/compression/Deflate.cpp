#include "platform/compression/Deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>

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
    z_stream zs{};
};

PieceDeflater::PieceDeflater(int level) : m_impl(new Impl)
{
    // Raw deflate (negative window bits), 32 KiB window, zlib's default memory level.
    if (deflateInit2(&m_impl->zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete m_impl;
        throw OutOfMemoryException("deflate encoder");
    }
}

PieceDeflater::~PieceDeflater()
{
    deflateEnd(&m_impl->zs);
    delete m_impl;
}

void PieceDeflater::compress(std::span<const std::uint8_t> before, std::span<const std::uint8_t> in, bool last,
                             ByteBuffer& out)
{
    z_stream& zs = m_impl->zs;
    deflateReset(&zs);
    if (!before.empty()) {
        const auto window = before.last(std::min(before.size(), DictionarySize));
        deflateSetDictionary(&zs, window.data(), uInt(window.size()));
    }
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = uInt(in.size());
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        const std::size_t have = out.size();
        const std::size_t room = std::max<std::size_t>(deflateBound(&zs, uLong(zs.avail_in)) + 16, 4096);
        out.resize(have + room);
        zs.next_out = out.data() + have;
        zs.avail_out = uInt(room);
        const int rc = deflate(&zs, flush);
        out.resize(have + (room - zs.avail_out));
        if (rc == Z_STREAM_ERROR)
            throw RuntimeException("deflate failed");
        // Done when the input is used up and the flush completed (room left over).
        if (last ? rc == Z_STREAM_END : (zs.avail_in == 0 && zs.avail_out != 0))
            return;
    }
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
