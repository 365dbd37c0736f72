#include "platform/OpenFolders.h"

namespace lv {

OpenFolders::FolderPtr OpenFolders::find(std::uint32_t key)
{
    const auto at = m_byKey.find(key);
    if (at == m_byKey.end())
        return nullptr;
    m_byUse.splice(m_byUse.begin(), m_byUse, at->second);
    return at->second->second;
}

void OpenFolders::keep(std::uint32_t key, FolderPtr folder)
{
    m_byUse.emplace_front(key, std::move(folder));
    m_byKey[key] = m_byUse.begin();
    if (m_byUse.size() > m_capacity) {
        m_byKey.erase(m_byUse.back().first);
        m_byUse.pop_back();
    }
}

void OpenFolders::clear()
{
    m_byUse.clear();
    m_byKey.clear();
}

} // namespace lv
