#pragma once
// Large byte buffers kept for reuse. Fresh memory costs the kernel a page fault and a clearing
// per page; bulk work that allocates and frees buffers of similar sizes over and over runs much
// faster when it hands them round instead. Thread-safe.

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/ByteBuffer.h"

namespace lv {

class BufferPool {
public:
    // Buffers smaller than this are left to the allocator, which reuses small blocks well.
    static constexpr std::size_t MinPooled = std::size_t(64) << 10;

    // The pool never holds more than `limit` bytes.
    explicit BufferPool(std::size_t limit) : m_limit(limit) {}

    // A buffer of `size` bytes (their values undefined): a kept one when one is large enough and
    // at most a quarter larger, else a new one.
    ByteBuffer take(std::size_t size);
    // Keeps `buffer` for a later take, or frees it when the pool is full or it is small.
    void give(ByteBuffer&& buffer);
    // Frees kept buffers until the pool holds at most `bytes`.
    void shrinkTo(std::size_t bytes);
    // Memory held by kept buffers (see bytebuffer::footprint).
    std::size_t pooledBytes() const;

private:
    mutable std::mutex m_mutex;
    std::size_t m_limit;
    std::size_t m_pooled = 0;
    std::vector<ByteBuffer> m_buffers;
};

} // namespace lv
