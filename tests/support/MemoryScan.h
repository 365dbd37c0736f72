#pragma once
// Looks through this process's own writable memory for a byte string (a key that should have been
// wiped), without leaving copies of it behind: the bytes looked for live in a page of the scan's
// own, and memory is read through /proc/self/mem into another, so that neither the sanitizers
// nor the search itself see or make other copies.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lv::test {

class MemoryScan {
public:
    explicit MemoryScan(std::size_t length);
    ~MemoryScan();
    MemoryScan(const MemoryScan&) = delete;
    MemoryScan& operator=(const MemoryScan&) = delete;

    // Where the bytes looked for go (`length` of them); wiped when the scan goes.
    std::span<std::uint8_t> needle() noexcept { return {m_needle, m_length}; }
    // The places, outside the scan's own pages, at which the needle's bytes lie now: each as its
    // address and the line of /proc/self/maps of its mapping, to tell a stack from the heap.
    std::vector<std::string> find() const;

private:
    std::size_t m_length;
    std::uint8_t* m_needle = nullptr;  // a mapping of its own
    std::size_t m_needleMapping = 0;
    std::uint8_t* m_buffer = nullptr;  // what is read, a block at a time
};

} // namespace lv::test
