#pragma once
// Which entries of an archive may be extracted at the same time.
//
// Two entries take turns, in the archive's order, when their places below the destination
// folder meet: the same place, or one place inside the other (a folder entry and what goes into
// it, or a file entry and an entry that would need a folder of that name). Places are compared
// as extraction may turn names into one: letter case (a file system may ignore it), "/", "\"
// and ":" (a Mac name given back), and an AppleDouble companion "._name" with "name", whose
// metadata it may hold. Entries without a place (refused names) meet nothing.
//
// Implementation: ExtractionSchedule.cpp.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lv {

class ZipArchive;

class ExtractionSchedule {
public:
    // The entries 1 to EntryCount of `archive`.
    explicit ExtractionSchedule(const ZipArchive& archive);

    std::int32_t count() const noexcept { return std::int32_t(m_places.size()); }
    // True when entry `a` and entry `b` (1-based) must not be extracted at the same time.
    bool meet(std::int32_t a, std::int32_t b) const;

    // The place of a name's components as compared here: each component folded, joined and
    // ended with "/"; nullopt for no place.
    static std::optional<std::string> placeOf(const std::optional<std::vector<std::string>>& components);

private:
    std::vector<std::optional<std::string>> m_places;
};

} // namespace lv
