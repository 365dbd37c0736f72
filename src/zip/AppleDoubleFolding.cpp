// Folding of AppleDouble companions ("._name" members, beside their item or under "__MACOSX/")
// into the entries they describe, and the duplicate-entry test of the local flags.

#include <algorithm>
#include <set>

#include "platform/Thread.h"
#include "zip/ZipArchiveData.h"
#include "zip/ZipEntry.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

constexpr std::string_view MacOSXPrefix = "__MACOSX/";

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

std::string dictionaryKey(std::string name)
{
    if (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

// A member that may be folded: exactly one Info-ZIP Unix type 1 block and a companion's name.
bool isCompanionCandidate(const ZipEntry& e)
{
    return e.hasDittoName() && e.ExtraFieldInCentralDir()->IsUnixType1Only();
}

} // namespace

bool ZipArchiveData::isFakeEntry(const MemoryBlock& centralRecord, std::int32_t localFlags)
{
    const std::uint16_t central = centralRecord.uint16Value(zip::central::Flags);
    if (!(central & zip::FlagDataDescriptor))
        return false;
    if (localFlags == -1) {
        if (!zipStream)
            return false;
        zipStream->setPosition(
            std::uint64_t(centralRecord.uint32Value(zip::central::LocalHeaderOffset)) + zip::local::Flags);
        localFlags = zipStream->readUInt16();
    }
    return std::int32_t(central & ~zip::FlagDataDescriptor) == localFlags;
}

void ZipArchiveData::checkDirectory(ZipEntryDictionary& dictionary)
{
    // Removed entries are collected and dropped in one pass at the end, so a directory full of
    // companions costs no more than one walk.
    std::set<std::int32_t> removed;
    for (std::int32_t i = entryCount(); i >= 1; --i) {
        const ZipEntryPtr e = entries_1[std::size_t(i)];
        Thread::yieldPoint();
        if (!isCompanionCandidate(*e))
            continue;

        std::string n = e->z_origEncodedName();
        if (startsWithIgnoringCase(n, MacOSXPrefix)) {
            n.erase(0, MacOSXPrefix.size());
            if (n.empty() || n.back() == '/') {
                // A folder of the __MACOSX tree: dropped with its key, so nothing can pair with it.
                auto it = dictionary.find(dictionaryKey(e->z_origEncodedName()));
                if (it != dictionary.end() && it->second == e)
                    dictionary.erase(it);
                removed.insert(i);
                continue;
            }
        }

        const std::int32_t p = lastInStr("/" + n, "/._");
        if (p == 0)
            continue;
        const std::string partnerName = n.substr(0, std::size_t(p - 1)) + n.substr(std::size_t(p + 1));
        auto it = dictionary.find(partnerName);
        // A partner that is itself a companion is never taken: crafted chains of "._" names
        // would otherwise nest companions inside companions.
        if (it == dictionary.end() || isCompanionCandidate(*it->second))
            continue;
        const ZipEntryPtr partner = it->second;
        dictionary.erase(it);
        removed.insert(i);
        partner->z_setAppleDoubleEntry(e);
        dittoFormat = true;
    }
    if (removed.empty())
        return;
    std::vector<ZipEntryPtr> kept;
    kept.reserve(entries_1.size() - removed.size());
    for (std::size_t i = 0; i < entries_1.size(); ++i)
        if (!removed.count(std::int32_t(i)))
            kept.push_back(entries_1[i]);
    entries_1 = std::move(kept);
}

} // namespace lv
