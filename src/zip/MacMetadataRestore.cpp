// Restoring Mac metadata and Unix permissions on extracted items.

#include "zip/MacMetadataRestore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FinderInfo.h"
#include "platform/MacMetadataStore.h"
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
std::string storeFinderInfo(const FolderHandle& folder, const std::string& name, const FinderInfo& before,
                            const FinderInfo& info)
{
    if (info == before || MacMetadataStore::writeFinderInfo({folder.descriptor(), name}, info))
        return {};
    return macrestore::failedFinderInfo(errno);
}

FinderInfo finderInfoOf(const FolderHandle& folder, const std::string& name, const FinderInfo* known)
{
    if (known)
        return *known;
    int ignored = 0;
    return MacMetadataStore::readFinderInfo({folder.descriptor(), name}, ignored).value_or(FinderInfo());
}

std::string reason(const char* what, int err)
{
    return std::string(what) + ": " + std::generic_category().message(err);
}

} // namespace

namespace macrestore {

std::string failedDate(int err) { return reason("Restoring the modification date failed", err); }
std::string failedFinderInfo(int err) { return reason("Restoring the Finder information failed", err); }
std::string failedPermissions(int err) { return reason("Restoring the permissions failed", err); }

std::string applyMacBinaryHeader(const FolderHandle& folder, std::string& name, const MemoryBlock& header,
                                 const std::string& entryName, bool& locked, const FinderInfo* known)
{
    namespace o = macbinary::offset;
    locked = false;
    struct stat st;
    int err = 0;
    const FolderItem::Kind kind = folder.kindOf(name, st, err);
    if (kind == FolderItem::Kind::Missing || header.size() < macbinary::HeaderSize)
        return {};
    MemoryBlock hdr = header;
    hdr.setLittleEndian(false);
    const bool isFolder = kind == FolderItem::Kind::Folder;

    // The creation date cannot be set here; 0 means the header has no date.
    if (const auto modified = fromMacDate(hdr.uint32Value(o::Modified)))
        if (const int dateErr = folder.setModificationDate(name, *modified))
            return failedDate(dateErr);

    const FinderInfo before = finderInfoOf(folder, name, known);
    FinderInfo info = before;
    if (!isFolder) {
        info.setType(hdr.stringValue(o::Type, 4));
        info.setCreator(hdr.stringValue(o::Creator, 4));
    }
    info.setFinderFlags(std::uint16_t(
        ((hdr.byteValue(o::FinderFlagsHigh) & RestoredHighFlags) << 8) | hdr.byteValue(o::FinderFlagsLow)));
    info.setScript(hdr.byteValue(o::Script));
    info.setExtendedFlags(hdr.byteValue(o::ExtendedFlags));
    if (std::string failure = storeFinderInfo(folder, name, before, info); !failure.empty())
        return failure;

    adjustMacFilename(folder, name, hdr.pstringValue(o::NameLength), hdr.byteValue(o::Script), entryName);
    locked = !isFolder && hdr.byteValue(o::Protected) != 0;
    return {};
}

std::string applyTypeCreatorName(const FolderHandle& folder, std::string& name, std::string_view type,
                                 std::string_view creator, std::string_view macName, const std::string& entryName,
                                 const FinderInfo* known)
{
    struct stat st;
    int err = 0;
    if (folder.kindOf(name, st, err) == FolderItem::Kind::Missing)
        return {};
    const FinderInfo before = finderInfoOf(folder, name, known);
    FinderInfo info = before;
    info.setType(type);
    info.setCreator(creator);
    if (std::string failure = storeFinderInfo(folder, name, before, info); !failure.empty())
        return failure;
    if (!macName.empty())
        adjustMacFilename(folder, name, macName, 0, entryName);
    return {};
}

void adjustMacFilename(const FolderHandle& folder, std::string& name, std::string_view macName, int script,
                       const std::string& entryName)
{
    const std::optional<std::string> decoded = macNameAsUtf8(macName, script);
    if (!decoded)
        return;
    std::string utf8 = *decoded;
    const std::string cleaned = ZipArchiveData::cleanName(utf8);
    std::replace(utf8.begin(), utf8.end(), '/', ':');
    if (utf8.empty() || equalsIgnoringCase(name, utf8) || !equalsIgnoringCase(name, cleaned) ||
        !equalsIgnoringCase(name, entryName) || utf8 == "." || utf8 == ".." ||
        utf8.find('\0') != std::string::npos)
        return;
    if (folder.moveWithCompanion(name, utf8) == 0)
        name = utf8;
}

std::string lockFile(const FolderHandle& folder, const std::string& name)
{
    struct stat st;
    int err = 0;
    if (folder.kindOf(name, st, err) == FolderItem::Kind::Missing)
        return failedPermissions(err);
    if (const int chmodErr = folder.setPermissions(name, st.st_mode & 07555))
        return failedPermissions(chmodErr);
    return {};
}

} // namespace macrestore

void ZipEntry::ApplyMacBinaryInformation(const FolderItem& f, const MemoryBlock& header)
{
    int err = 0;
    const FolderHandle folder = FolderHandle::open(f.parent().isNull() ? std::filesystem::path(".") : f.parent().path(), err, true);
    if (!folder.isOpen())
        return;
    std::string name = f.name();
    bool locked = false;
    if (macrestore::applyMacBinaryHeader(folder, name, header, Name(), locked).empty() && locked && lockFiles)
        macrestore::lockFile(folder, name);
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
