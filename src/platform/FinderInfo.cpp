#include "platform/FinderInfo.h"

#include <algorithm>

namespace lv {

FinderInfo FinderInfo::fromBytes(std::string_view bytes)
{
    FinderInfo info;
    const std::size_t n = std::min(bytes.size(), Size);
    std::copy_n(bytes.begin(), n, info.m_bytes.begin());
    return info;
}

bool FinderInfo::isZero() const
{
    return std::all_of(m_bytes.begin(), m_bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void FinderInfo::put4(std::size_t at, std::string_view v)
{
    for (std::size_t i = 0; i < 4; ++i)
        m_bytes[at + i] = i < v.size() ? std::uint8_t(v[i]) : 0;
}

} // namespace lv
