#pragma once
// A growable byte buffer for bulk data (file reads, compressor output): it does not zero what it
// allocates, since such buffers are filled right away, and a large one gets a mapping of its own,
// backed by huge pages where the system offers them once it is at least one huge page long, so that
// filling it takes one page fault per 2 MiB rather than one per 4 KiB (faults cost more than the
// copying on some machines).

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace lv {

namespace bytebuffer {
// Sizes from which a buffer gets its own mapping, in whole huge pages.
inline constexpr std::size_t LargeSize = std::size_t(1) << 20;
inline constexpr std::size_t HugePage = std::size_t(2) << 20;
void* mapLarge(std::size_t bytes);
void unmapLarge(void* p, std::size_t bytes) noexcept;
inline constexpr std::size_t Page = std::size_t(4) << 10;
// The memory a buffer of `capacity` bytes takes: below a huge page, whole small pages (a buffer of
// just over 1 MiB would otherwise take 2 MiB).
constexpr std::size_t footprint(std::size_t capacity)
{
    if (capacity < LargeSize)
        return capacity;
    const std::size_t unit = capacity >= HugePage ? HugePage : Page;
    return (capacity + unit - 1) / unit * unit;
}
} // namespace bytebuffer

template <typename T>
class BulkAllocator {
public:
    using value_type = T;
    BulkAllocator() noexcept = default;
    template <typename U>
    BulkAllocator(const BulkAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= bytebuffer::LargeSize)
            return static_cast<T*>(bytebuffer::mapLarge(bytes));
        return static_cast<T*>(::operator new(bytes));
    }
    void deallocate(T* p, std::size_t n) noexcept
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= bytebuffer::LargeSize)
            bytebuffer::unmapLarge(p, bytes);
        else
            ::operator delete(p);
    }
    // Value-initialisation (what resize asks for) becomes default-initialisation: no zeroing.
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(static_cast<Args&&>(args)...);
    }

    template <typename U>
    bool operator==(const BulkAllocator<U>&) const noexcept
    {
        return true;
    }
};

using ByteBuffer = std::vector<std::uint8_t, BulkAllocator<std::uint8_t>>;

} // namespace lv
