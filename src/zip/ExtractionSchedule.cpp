#include "zip/ExtractionSchedule.h"

#include "zip/ZipArchive.h"
#include "zip/ZipArchiveData.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

std::string folded(const std::string& component)
{
    std::string name = ZipArchiveData::extractedName(component);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return name;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

ExtractionSchedule::ExtractionSchedule(const ZipArchive& archive)
{
    const std::int32_t count = archive.EntryCount();
    m_places.reserve(std::size_t(count));
    for (std::int32_t i = 1; i <= count; ++i) {
        try {
            m_places.push_back(placeOf(archive.Entry(i)->DestinationComponents()));
        } catch (const std::exception&) {
            m_places.push_back(std::nullopt);  // its extraction fails the same way, before making anything
        }
    }
}

std::optional<std::string> ExtractionSchedule::placeOf(const std::optional<std::vector<std::string>>& components)
{
    if (!components)
        return std::nullopt;
    std::string place;
    for (std::size_t i = 0; i < components->size(); ++i) {
        std::string name = folded((*components)[i]);
        if (i + 1 == components->size() && name.size() > 2 && startsWith(name, "._"))
            name.erase(0, 2);
        place.append(name).push_back('/');
    }
    return place;
}

bool ExtractionSchedule::meet(std::int32_t a, std::int32_t b) const
{
    const auto& pa = m_places.at(std::size_t(a - 1));
    const auto& pb = m_places.at(std::size_t(b - 1));
    return pa && pb && (startsWith(*pa, *pb) || startsWith(*pb, *pa));
}

} // namespace lv
