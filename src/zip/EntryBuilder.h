#pragma once
// What a worker of the parallel writer makes of a payload: the bytes the archive stores for it,
// with their CRC-32.
//
// A whole payload becomes one deflate stream, or stays as it is when deflating would not make it
// smaller (the entry is then stored). A payload too long to hold whole is built piece by piece,
// each piece on its own and all at once: a deflated piece ends byte-aligned and without the
// final mark unless it is the last, so that the pieces joined in order make one stream; a piece
// that does not shrink goes in as stored deflate blocks, so that a file of noise and text is
// deflated where it shrinks. A piece that is not deflated keeps its plain bytes.
//
// The encoders are made once per worker thread; buffers come from and go back to `pool`.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/BufferPool.h"
#include "platform/ByteBuffer.h"
#include "zip/EntryPayload.h"

namespace lv {

struct BuiltPayload {
    ByteBuffer stored;  // deflate data, or the plain bytes when `deflated` is false
    ByteBuffer plain;   // pieces not deflated: the plain bytes
    std::uint32_t crc = 0;  // CRC-32 of the plain bytes
    std::uint64_t length = 0;  // whole payloads: the plain bytes' count
    bool deflated = false;
    std::optional<PayloadError> error;
};

namespace EntryBuilder {

// The most an unsized payload (EntryPayload::unsized) may give.
inline constexpr std::size_t UnsizedLimit = std::size_t(16) << 20;
// The whole payload, deflated when `deflate` and it shrinks.
BuiltPayload whole(EntryPayload& payload, bool deflate, BufferPool& pool);
// The room a piece of `length` bytes is deflated into.
std::size_t pieceOutputRoom(std::uint64_t length);
// Bytes [offset, offset + length) of the payload; `last` when they end it.
BuiltPayload piece(EntryPayload& payload, std::uint64_t offset, std::uint64_t length, bool last, bool deflate,
                   BufferPool& pool);

} // namespace EntryBuilder

} // namespace lv
