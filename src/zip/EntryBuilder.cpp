#include "zip/EntryBuilder.h"

#include <algorithm>
#include <memory>

#include "platform/compression/Crc.h"
#include "platform/compression/Deflate.h"

namespace lv {

namespace {

WholeDeflater& wholeDeflater()
{
    thread_local std::unique_ptr<WholeDeflater> deflater;
    if (!deflater)
        deflater = std::make_unique<WholeDeflater>();
    return *deflater;
}

PieceDeflater& pieceDeflater()
{
    thread_local std::unique_ptr<PieceDeflater> deflater;
    if (!deflater)
        deflater = std::make_unique<PieceDeflater>();
    return *deflater;
}

// Whether deflating `plain` is not worth trying: a few samples spread over it do not shrink even
// by 1% at the fastest level. Saves the full effort on data that is compressed already.
bool looksIncompressible(std::span<const std::uint8_t> plain)
{
    constexpr std::size_t Sample = 8192;
    constexpr std::size_t Samples = 4;
    if (plain.size() < Samples * Sample * 2)
        return false;
    thread_local std::unique_ptr<WholeDeflater> quick;
    if (!quick)
        quick = std::make_unique<WholeDeflater>(1);
    std::uint8_t out[Sample];
    std::size_t packed = 0;
    for (std::size_t i = 0; i < Samples; ++i) {
        const auto sample = plain.subspan(plain.size() / Samples * i, Sample);
        const std::size_t n = quick->compress(sample, out);
        packed += n ? n : Sample;
    }
    return packed * 100 >= Samples * Sample * 99;
}

} // namespace

BuiltPayload EntryBuilder::whole(EntryPayload& payload, bool deflate, BufferPool& pool)
{
    BuiltPayload out;
    ByteBuffer plain = pool.take(std::size_t(payload.length()));
    out.error = payload.unsized() ? payload.readToEnd(plain, UnsizedLimit) : payload.read(0, plain);
    payload.release();
    out.length = plain.size();
    if (out.error) {
        pool.give(std::move(plain));
        return out;
    }
    out.crc = Crc32(std::span<const std::uint8_t>(plain));
    if (deflate && plain.size() > 1 && !looksIncompressible(plain)) {
        // One byte less than the plain bytes: deflate data that do not fit were not worth it.
        ByteBuffer packed = pool.take(plain.size() - 1);
        if (const std::size_t n = wholeDeflater().compress(plain, packed)) {
            packed.resize(n);
            out.stored = std::move(packed);
            out.deflated = true;
            pool.give(std::move(plain));
            return out;
        }
        pool.give(std::move(packed));
    }
    out.stored = std::move(plain);
    return out;
}

std::size_t EntryBuilder::pieceOutputRoom(std::uint64_t length)
{
    // More than libdeflate's bound for raw deflate with the closing empty block, and than stored
    // blocks take.
    return std::size_t(length + length / 256 + 8192);
}

BuiltPayload EntryBuilder::piece(EntryPayload& payload, std::uint64_t offset, std::uint64_t length, bool last,
                                 bool deflate, BufferPool& pool)
{
    BuiltPayload out;
    out.plain = pool.take(std::size_t(length));
    out.error = payload.read(offset, out.plain);
    if (out.error)
        return out;
    const std::span<const std::uint8_t> plain(out.plain);
    out.crc = Crc32(plain);
    if (deflate) {
        // Room for what deflate makes of data that do not shrink, so that nothing moves.
        out.stored = pool.take(pieceOutputRoom(plain.size()));
        out.stored.clear();
        if (!looksIncompressible(plain))
            pieceDeflater().compress(plain, last, out.stored);
        if (out.stored.empty() || out.stored.size() >= plain.size()) {
            out.stored.clear();
            appendStoredBlocks(plain, last, out.stored);
        }
        out.deflated = true;
        // The deflate data stand for the piece whichever way it went in.
        pool.give(std::move(out.plain));
        out.plain = {};
    }
    return out;
}

} // namespace lv
