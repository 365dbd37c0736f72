// Restoring Mac metadata and Unix permissions on extracted items.

#include "zip/MacMetadataRestore.h"

#include <algorithm>
#include <optional>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FinderInfo.h"
#include "platform/TextEncoding.h"
#include "zip/MacBinary.h"
#include "zip/ZipArchiveData.h"
#include "zip/ZipEntry.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

// The Finder flags hasBeenInited (0x0100) and nameLocked (0x1000) describe one volume's state
// and are never carried over.
constexpr std::uint8_t RestoredHighFlags = 0xEE;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
        std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// A Mac name as UTF-8. Names this system wrote are UTF-8 already; a Mac wrote them in the
// encoding of the name's script: with bit 7 set the script code is in the low 7 bits, without it
// the name is Roman. nullopt when there is no conversion for that script here.
std::optional<std::string> macNameAsUtf8(std::string_view name, int script)
{
    if (isValidUtf8(name))
        return std::string(name);
    const auto encoding = TextEncoding::forMacScript((script & 0x80) ? (script & 0x7F) : int(TextEncoding::MacRoman));
    if (!encoding)
        return std::nullopt;
    try {
        return convertText(name, *encoding, TextEncoding::utf8());
    } catch (const RuntimeException&) {
        return std::nullopt;  // the system has no converter for it
    }
}

// Writes `info` unless it equals what the item has: an all-zero value on an item without Finder
// information stays none.
void storeFinderInfo(FolderItem& f, const FinderInfo& before, const FinderInfo& info)
{
    if (!(info == before))
        f.setFinderInfo(info);
}

} // namespace

namespace macrestore {

FolderItem applyMacBinaryHeader(FolderItem f, const MemoryBlock& header, const std::string& entryName, bool& locked,
                                const FinderInfo* known)
{
    namespace o = macbinary::offset;
    locked = false;
    if (!f.exists() || header.size() < macbinary::HeaderSize)
        return f;
    MemoryBlock hdr = header;
    hdr.setLittleEndian(false);
    const bool folder = f.isFolder();

    // The creation date cannot be set here; 0 means the header has no date.
    if (const auto modified = fromMacDate(hdr.uint32Value(o::Modified)))
        f.setModificationDate(*modified);

    const FinderInfo before = known ? *known : f.finderInfo();
    FinderInfo info = before;
    if (!folder) {
        info.setType(hdr.stringValue(o::Type, 4));
        info.setCreator(hdr.stringValue(o::Creator, 4));
    }
    info.setFinderFlags(std::uint16_t(
        ((hdr.byteValue(o::FinderFlagsHigh) & RestoredHighFlags) << 8) | hdr.byteValue(o::FinderFlagsLow)));
    info.setScript(hdr.byteValue(o::Script));
    info.setExtendedFlags(hdr.byteValue(o::ExtendedFlags));
    storeFinderInfo(f, before, info);

    f = adjustMacFilename(std::move(f), hdr.pstringValue(o::NameLength), hdr.byteValue(o::Script), entryName);
    locked = !folder && hdr.byteValue(o::Protected) != 0;
    return f;
}

FolderItem applyTypeCreatorName(FolderItem f, std::string_view type, std::string_view creator, std::string_view name,
                                const std::string& entryName, const FinderInfo* known)
{
    if (!f.exists())
        return f;
    const FinderInfo before = known ? *known : f.finderInfo();
    FinderInfo info = before;
    info.setType(type);
    info.setCreator(creator);
    storeFinderInfo(f, before, info);
    return name.empty() ? f : adjustMacFilename(std::move(f), name, 0, entryName);
}

FolderItem adjustMacFilename(FolderItem f, std::string_view name, int script, const std::string& entryName)
{
    const std::optional<std::string> decoded = macNameAsUtf8(name, script);
    if (!decoded)
        return f;
    std::string utf8 = *decoded;
    const std::string cleaned = ZipArchiveData::cleanName(utf8);
    std::replace(utf8.begin(), utf8.end(), '/', ':');
    const std::string current = f.name();
    if (utf8.empty() || equalsIgnoringCase(current, utf8) || !equalsIgnoringCase(current, cleaned) ||
        !equalsIgnoringCase(current, entryName))
        return f;
    FolderItem moved = f;
    if (!moved.moveTo(f.parent().child(utf8)))
        return f;
    return moved;
}

bool lockFile(FolderItem& f) { return f.setPermissions(f.mode() & 07555); }

} // namespace macrestore

void ZipEntry::ApplyMacBinaryInformation(const FolderItem& f, const MemoryBlock& header)
{
    bool locked = false;
    FolderItem item = macrestore::applyMacBinaryHeader(f, header, Name(), locked);
    if (locked && lockFiles)
        macrestore::lockFile(item);
}

bool ZipEntry::ApplyUnixPermissions(const FolderItem& f)
{
    const std::int32_t attrs = ExternalFileAttributes();
    return attrs < 0 && ApplyUnixPermissions(f, attrs);
}

bool ZipEntry::ApplyUnixPermissions(const FolderItem& f, std::int32_t attrs)
{
    const std::optional<FolderItem> ref = d->makeFSRef(f);
    if (!ref)
        return false;
    const auto bits = z_permissionBits(std::uint32_t(ZipArchiveData::shiftRight16(attrs)), ref->isFolder());
    return bits && d->updateUnixPermissions(*ref, 0, std::int32_t(*bits)) == 0;
}

} // namespace lv
