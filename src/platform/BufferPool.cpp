#include "platform/BufferPool.h"

#include <algorithm>

namespace lv {

ByteBuffer BufferPool::take(std::size_t size)
{
    ByteBuffer buffer;
    if (size >= MinPooled) {
        std::lock_guard lock(m_mutex);
        // The smallest kept buffer that fits.
        auto best = m_buffers.end();
        for (auto it = m_buffers.begin(); it != m_buffers.end(); ++it)
            if (it->capacity() >= size && it->capacity() - size <= size / 4 &&
                (best == m_buffers.end() || it->capacity() < best->capacity()))
                best = it;
        if (best != m_buffers.end()) {
            buffer = std::move(*best);
            m_buffers.erase(best);
            m_pooled -= bytebuffer::footprint(buffer.capacity());
        }
    }
    buffer.resize(size);
    return buffer;
}

void BufferPool::give(ByteBuffer&& buffer)
{
    ByteBuffer dropped = std::move(buffer);
    if (dropped.capacity() < MinPooled)
        return;
    std::lock_guard lock(m_mutex);
    const std::size_t footprint = bytebuffer::footprint(dropped.capacity());
    if (m_pooled + footprint > m_limit)
        return;
    m_pooled += footprint;
    m_buffers.push_back(std::move(dropped));
}

void BufferPool::shrinkTo(std::size_t bytes)
{
    std::vector<ByteBuffer> freed;
    {
        std::lock_guard lock(m_mutex);
        // The largest go first: fewest frees for the room needed.
        std::sort(m_buffers.begin(), m_buffers.end(),
                  [](const ByteBuffer& a, const ByteBuffer& b) { return a.capacity() < b.capacity(); });
        while (m_pooled > bytes && !m_buffers.empty()) {
            m_pooled -= bytebuffer::footprint(m_buffers.back().capacity());
            freed.push_back(std::move(m_buffers.back()));
            m_buffers.pop_back();
        }
    }
}

std::size_t BufferPool::pooledBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_pooled;
}

} // namespace lv
