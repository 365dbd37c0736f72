#include "platform/compression/InflateBuffer.h"

#include <libdeflate.h>

#include <memory>

#include "platform/Exceptions.h"

namespace lv {

namespace {

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const noexcept { libdeflate_free_decompressor(d); }
};

libdeflate_decompressor& threadDecompressor()
{
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor;
    if (!decompressor) {
        decompressor.reset(libdeflate_alloc_decompressor());
        if (!decompressor)
            throw OutOfMemoryException("deflate decoder");
    }
    return *decompressor;
}

} // namespace

bool inflateWhole(std::span<const std::uint8_t> in, std::span<std::uint8_t> out)
{
    std::size_t used = 0, produced = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        &threadDecompressor(), in.data(), in.size(), out.data(), out.size(), &used, &produced);
    return result == LIBDEFLATE_SUCCESS && used == in.size() && produced == out.size();
}

} // namespace lv
