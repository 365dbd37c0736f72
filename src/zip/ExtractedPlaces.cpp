#include "zip/ExtractedPlaces.h"

#include <cstring>

namespace lv {

namespace {

std::string keyOf(ExtractedPlaces::Index folder, const std::string& name)
{
    std::string key(sizeof folder, '\0');
    std::memcpy(key.data(), &folder, sizeof folder);
    key += name;
    return key;
}

} // namespace

ExtractedPlaces::Index ExtractedPlaces::placeOf(Index folder, const std::string& name)
{
    const auto [at, fresh] = m_byName.try_emplace(keyOf(folder, name), size());
    if (fresh) {
        Place place;
        place.folder = folder;
        place.name = name;
        m_places.push_back(std::move(place));
    }
    return at->second;
}

std::optional<ExtractedPlaces::Index> ExtractedPlaces::find(Index folder, const std::string& name) const
{
    const auto at = m_byName.find(keyOf(folder, name));
    return at == m_byName.end() ? std::nullopt : std::optional<Index>(at->second);
}

void ExtractedPlaces::rename(Index place, const std::string& name)
{
    Place& p = m_places[place];
    if (const auto old = m_byName.find(keyOf(p.folder, p.name)); old != m_byName.end() && old->second == place)
        m_byName.erase(old);
    m_byName[keyOf(p.folder, name)] = place;
    p.name = name;
}

std::string ExtractedPlaces::pathOf(Index place) const
{
    std::vector<const std::string*> names;
    for (Index p = place; p != Root; p = m_places[p].folder)
        names.push_back(&m_places[p].name);
    std::string path;
    for (auto n = names.rbegin(); n != names.rend(); ++n)
        path.append(path.empty() ? "" : "/").append(**n);
    return path;
}

void ExtractedPlaces::clear()
{
    m_places.assign(1, Place{});
    m_byName.clear();
}

} // namespace lv
