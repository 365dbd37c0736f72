#pragma once
// Raw deflate (RFC 1951) of data held in memory, for the parallel archive writer.
//
// WholeDeflater: one complete deflate stream for a whole buffer, at level 6 (libdeflate: the size
// of zlib's level 6 at about twice its speed).
// PieceDeflater: one piece of a stream too long to hold whole, so that the pieces of one stream
// can be compressed side by side and joined in order, each at libdeflate's speed: a piece is a
// stream of its own (its matches stay inside it), and every piece but the last has its last
// block's final bit cleared and ends on a byte boundary (zlib's sync flush), found by inflating
// it with zlib, which stops at each block boundary.
// appendStoredBlocks: a piece as uncompressed deflate blocks, for data that does not shrink.
//
// An object serves one thread at a time; make one per worker. OutOfMemoryException when an
// encoder cannot be allocated.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/ByteBuffer.h"

struct libdeflate_compressor;

namespace lv {

class WholeDeflater {
public:
    explicit WholeDeflater(int level = 6);
    ~WholeDeflater();
    WholeDeflater(const WholeDeflater&) = delete;
    WholeDeflater& operator=(const WholeDeflater&) = delete;

    // Deflates `in` into `out`: the byte count written, or 0 when the result does not fit (so an
    // `out` one byte shorter than `in` asks for data that shrinks).
    std::size_t compress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

private:
    libdeflate_compressor* m_compressor;
};

class PieceDeflater {
public:
    explicit PieceDeflater(int level = 6);
    ~PieceDeflater();
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;

    // Appends the deflate data of `in` to `out`, as a piece of a stream. `last` ends the
    // stream; otherwise the piece ends byte-aligned and the stream goes on.
    void compress(std::span<const std::uint8_t> in, bool last, ByteBuffer& out);

private:
    struct Impl;
    Impl* m_impl;
};

// Appends `in` to `out` as stored deflate blocks (at most 65535 bytes each); `last` ends the
// stream. The piece must start byte-aligned: at the start of the stream or after a piece that
// did not end it.
void appendStoredBlocks(std::span<const std::uint8_t> in, bool last, ByteBuffer& out);

} // namespace lv
