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

} // namespace

BuiltPayload EntryBuilder::whole(EntryPayload& payload, bool deflate)
{
    BuiltPayload out;
    std::vector<std::uint8_t> plain(payload.length());
    out.error = payload.read(0, plain);
    payload.release();
    if (out.error)
        return out;
    out.crc = Crc32(std::span<const std::uint8_t>(plain));
    if (deflate && plain.size() > 1) {
        // One byte less than the plain bytes: deflate data that do not fit were not worth it.
        std::vector<std::uint8_t> packed(plain.size() - 1);
        if (const std::size_t n = wholeDeflater().compress(plain, packed)) {
            packed.resize(n);
            packed.shrink_to_fit();
            out.stored = std::move(packed);
            out.deflated = true;
            return out;
        }
    }
    out.stored = std::move(plain);
    return out;
}

BuiltPayload EntryBuilder::piece(EntryPayload& payload, std::uint64_t offset, std::uint64_t length, bool last,
                                 bool deflate)
{
    BuiltPayload out;
    // The window before the piece is read along with it.
    const std::uint64_t before = deflate ? std::min<std::uint64_t>(offset, PieceDeflater::DictionarySize) : 0;
    std::vector<std::uint8_t> bytes(before + length);
    out.error = payload.read(offset - before, bytes);
    if (out.error)
        return out;
    const std::span<const std::uint8_t> window(bytes.data(), before);
    const std::span<const std::uint8_t> plain(bytes.data() + before, length);
    out.crc = Crc32(plain);
    if (deflate) {
        pieceDeflater().compress(window, plain, last, out.stored);
        if (out.stored.size() >= plain.size()) {
            out.stored.clear();
            appendStoredBlocks(plain, last, out.stored);
        }
        out.stored.shrink_to_fit();
        out.deflated = true;
    }
    bytes.erase(bytes.begin(), bytes.begin() + std::ptrdiff_t(before));
    out.plain = std::move(bytes);
    return out;
}

} // namespace lv
