#pragma once
// Raw deflate (RFC 1951) of data held in memory, for the parallel archive writer.
//
// WholeDeflater: one complete deflate stream for a whole buffer, at level 6 (libdeflate: the size
// of zlib's level 6 at about twice its speed).
// PieceDeflater: one piece of a stream too long to hold whole, so that the pieces of one stream
// can be compressed side by side and joined in order: each piece's encoder is primed with the
// 32 KiB before it, and every piece but the last ends on a byte boundary without ending the
// stream (zlib's sync flush).
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
    // The window the next piece is primed with: the last bytes before it.
    static constexpr std::size_t DictionarySize = 32 * 1024;

    explicit PieceDeflater(int level = 6);
    ~PieceDeflater();
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;

    // Appends the deflate data of `in` to `out`, as the piece of a stream that follows
    // `before` (its last DictionarySize bytes are used; empty for the first piece). `last` ends
    // the stream; otherwise the piece ends byte-aligned and the stream goes on.
    void compress(std::span<const std::uint8_t> before, std::span<const std::uint8_t> in, bool last,
                  ByteBuffer& out);

private:
    struct Impl;
    Impl* m_impl;
};

// Appends `in` to `out` as stored deflate blocks (at most 65535 bytes each); `last` ends the
// stream. The piece must start byte-aligned: at the start of the stream or after a piece that
// did not end it.
void appendStoredBlocks(std::span<const std::uint8_t> in, bool last, ByteBuffer& out);

} // namespace lv
