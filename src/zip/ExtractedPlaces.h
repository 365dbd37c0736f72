#pragma once
// The places below an extraction's root that the job went through or made, each as the number
// of the folder it lies in and one name, so that a deep tree takes memory by its names, not by
// their paths. Place 0 is the root itself; a place comes after the folder it lies in.
//
// Not thread-safe: the job keeps it under its lock. Implementation: ExtractedPlaces.cpp.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace lv {

class ExtractedPlaces {
public:
    using Index = std::uint32_t;
    static constexpr Index Root = 0;

    struct Place {
        Index folder = Root;
        std::string name;
        bool created = false;  // the job made the item there
        bool isFolder = false;
        std::uint64_t device = 0;  // of the item it made
        std::uint64_t inode = 0;
        // What a folder gets once everything is in it.
        std::optional<std::int64_t> date;
        std::optional<std::uint32_t> mode;
    };

    ExtractedPlaces() { clear(); }

    // The place `name` in the folder `folder`, added when it is not known yet.
    Index placeOf(Index folder, const std::string& name);
    std::optional<Index> find(Index folder, const std::string& name) const;
    // The item at `place` now carries the name `name` (it was renamed in its folder).
    void rename(Index place, const std::string& name);
    // The names from the root down to `place`, joined with "/", for messages.
    std::string pathOf(Index place) const;

    Place& operator[](Index place) { return m_places[place]; }
    const Place& operator[](Index place) const { return m_places[place]; }
    Index size() const noexcept { return Index(m_places.size()); }
    // Only the root is left.
    void clear();

private:
    std::vector<Place> m_places;
    std::unordered_map<std::string, Index> m_byName;  // by folder and name
};

} // namespace lv
