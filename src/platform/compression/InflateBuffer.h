#pragma once
// Raw deflate data (RFC 1951) held whole in memory, inflated in one call (libdeflate: about
// twice zlib's speed), for the entries an extraction can hold whole. Streams too long for that
// go through ZStream.
//
// Each thread keeps one decoder of its own, so any number of threads may call at once.
// OutOfMemoryException when a decoder cannot be allocated.

#include <cstdint>
#include <span>

namespace lv {

// True when `in` is exactly one complete deflate stream, nothing after it, that inflates to
// exactly `out.size()` bytes, which are then in `out`. False for anything else (damaged data,
// another length, bytes after the stream); what `out` holds then is undefined.
bool inflateWhole(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

} // namespace lv
