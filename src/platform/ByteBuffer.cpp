#include "platform/ByteBuffer.h"

#include <sys/mman.h>

namespace lv::bytebuffer {

namespace {

std::size_t mappedSize(std::size_t bytes)
{
    return footprint(bytes);
}

} // namespace

void* mapLarge(std::size_t bytes)
{
    const std::size_t size = mappedSize(bytes);
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    // Advice only: without transparent huge pages it changes nothing.
    if (size >= HugePage)
        ::madvise(p, size, MADV_HUGEPAGE);
    return p;
}

void unmapLarge(void* p, std::size_t bytes) noexcept
{
    ::munmap(p, mappedSize(bytes));
}

} // namespace lv::bytebuffer
