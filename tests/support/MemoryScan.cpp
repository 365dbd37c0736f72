#include "support/MemoryScan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace lv::test {

namespace {

constexpr std::size_t BlockSize = std::size_t(1) << 20;
// Mappings larger than this are a sanitizer's shadow (terabytes reserved), which holds no data.
constexpr std::uintptr_t LargestMapping = std::uintptr_t(64) << 30;

std::uint8_t* mapPrivate(std::size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::runtime_error("MemoryScan: no memory");
    return static_cast<std::uint8_t*>(p);
}

std::size_t pageRounded(std::size_t bytes)
{
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

struct Range {
    std::uintptr_t start, end;
    std::string line;
};

// The mappings this process can read and write: where anything it made can lie.
std::vector<Range> writableMappings()
{
    std::ifstream maps("/proc/self/maps");
    std::vector<Range> out;
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, perms;
        fields >> range >> perms;
        if (perms.size() < 2 || perms[0] != 'r' || perms[1] != 'w')
            continue;
        const auto dash = range.find('-');
        const Range r{std::stoull(range.substr(0, dash), nullptr, 16), std::stoull(range.substr(dash + 1), nullptr, 16),
                      line};
        if (r.end - r.start <= LargestMapping)
            out.push_back(r);
    }
    return out;
}

} // namespace

MemoryScan::MemoryScan(std::size_t length)
    : m_length(length), m_needle(mapPrivate(pageRounded(length))), m_needleMapping(pageRounded(length)),
      m_buffer(mapPrivate(BlockSize + length))
{
}

MemoryScan::~MemoryScan()
{
    std::memset(m_needle, 0, m_length);
    ::munmap(m_needle, m_needleMapping);
    std::memset(m_buffer, 0, BlockSize + m_length);
    ::munmap(m_buffer, BlockSize + m_length);
}

std::vector<std::string> MemoryScan::find() const
{
    const int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (mem < 0)
        throw std::runtime_error("MemoryScan: /proc/self/mem cannot be read");
    const auto own = [&](std::uintptr_t at) {
        const auto inside = [&](const void* base, std::size_t size) {
            const auto b = reinterpret_cast<std::uintptr_t>(base);
            return at + m_length > b && at < b + size;
        };
        return inside(m_needle, m_needleMapping) || inside(m_buffer, BlockSize + m_length);
    };
    std::vector<std::uintptr_t> found;
    std::vector<std::string> places;
    for (const Range& r : writableMappings()) {
        // Blocks overlap by the needle's length less one, so that nothing is missed at their seams.
        for (std::uintptr_t at = r.start; at < r.end; at += BlockSize) {
            const std::size_t want = std::size_t(std::min<std::uintptr_t>(BlockSize + m_length - 1, r.end - at));
            const ssize_t got = ::pread(mem, m_buffer, want, off_t(at));
            if (got < ssize_t(m_length))
                continue;  // a part that cannot be read holds nothing of ours
            for (std::size_t from = 0; from + m_length <= std::size_t(got);) {
                const void* hit = ::memmem(m_buffer + from, std::size_t(got) - from, m_needle, m_length);
                if (!hit)
                    break;
                const std::size_t offset = std::size_t(static_cast<const std::uint8_t*>(hit) - m_buffer);
                const std::uintptr_t where = at + offset;
                if (!own(where) && std::find(found.begin(), found.end(), where) == found.end()) {
                    found.push_back(where);
                    std::ostringstream place;
                    place << std::hex << where << " in " << r.line;
                    places.push_back(place.str());
                }
                from = offset + 1;
            }
        }
    }
    ::close(mem);
    // What was read last may hold another scan's needle: that scan must not find it here.
    std::memset(m_buffer, 0, BlockSize + m_length);
    return places;
}

} // namespace lv::test
