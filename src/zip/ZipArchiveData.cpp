#include "zip/ZipArchiveData.h"

#include <algorithm>
#include <cerrno>

#include "platform/Thread.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return asciiLower(x) == asciiLower(y);
    });
}

// A file-system error as a negative result code (0 stays "no error").
std::int32_t errorCode(int err) { return err > 0 ? -err : -1; }

} // namespace

bool ZipArchiveData::equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return equalsIgnoringAsciiCase(a, b);
}

ZipArchiveData::ZipArchiveData()
{
    filenameEncoding = findFileNameEncoding();
    setArchiveEncoding(TextEncoding::utf8());
}

std::string ZipArchiveData::cleanName(std::string_view name)
{
    std::string result(name);
    std::replace(result.begin(), result.end(), '/', '-');
    std::replace(result.begin(), result.end(), '\\', '-');
    return result;
}

std::string ZipArchiveData::extractedName(std::string_view name)
{
    std::string result = cleanName(name);
    std::replace(result.begin(), result.end(), ':', '-');
    return result;
}

std::string ZipArchiveData::encodeForZip(std::string_view text) const
{
    if (archiveEncoding == TextEncoding::utf8())
        return std::string(text);
    if (archiveEncoding.base == TextEncoding::DOSLatinUS) {
        const std::string ansi = convertText(text, TextEncoding::utf8(), TextEncoding::windowsANSI());
        return convertText(ansi, TextEncoding::windowsANSI(), archiveEncoding);
    }
    return convertText(text, TextEncoding::utf8(), archiveEncoding);
}

void ZipArchiveData::setArchiveEncoding(std::optional<TextEncoding> encoding)
{
    archiveEncoding = encoding.value_or(filenameEncoding);
}

std::int32_t ZipArchiveData::lookup(std::string_view encName, std::int32_t start) const
{
    for (std::int32_t i = std::max(start, 1); i <= entryCount(); ++i) {
        if (entries_1[std::size_t(i)] && equalsIgnoringAsciiCase(encName, entries_1[std::size_t(i)]->z_origEncodedName()))
            return i;
        Thread::yieldPoint();
    }
    return 0;
}

std::int32_t ZipArchiveData::lastInStr(std::string_view source, std::string_view find)
{
    if (find.empty() || find.size() > source.size())
        return 0;
    std::int32_t last = 0;
    for (std::size_t p = 0; p + find.size() <= source.size(); ++p) {
        if (equalsIgnoringAsciiCase(source.substr(p, find.size()), find)) {
            last = std::int32_t(p + 1);
            Thread::yieldPoint();
        }
    }
    return last;
}

std::optional<FolderItem> ZipArchiveData::FSRefOfFolderItem(const FolderItem& f) const
{
    if (f.isNull() || !f.exists())
        return std::nullopt;
    return f;
}

std::int32_t ZipArchiveData::getUnixPermissionsFromFile(const FolderItem& ref, std::int32_t& mode) const
{
    mode = 0;
    const std::uint32_t m = ref.isNull() ? 0 : ref.mode();
    if (m == 0)
        return errorCode(ref.lastErrorCode() ? ref.lastErrorCode() : ENOENT);
    mode = std::int32_t(m & 0xFFFF);
    return 0;
}

std::int32_t ZipArchiveData::updateUnixPermissions(const FolderItem& ref, std::int32_t andMask, std::int32_t orMask) const
{
    std::int32_t mode = 0;
    if (const std::int32_t r = getUnixPermissionsFromFile(ref, mode); r != 0)
        return r;
    const std::uint32_t updated = (std::uint32_t(mode) & std::uint32_t(andMask)) | (std::uint32_t(orMask) & 0xFFFF);
    FolderItem target = ref;
    if (!target.setPermissions(updated & 07777))
        return errorCode(target.lastErrorCode());
    return 0;
}

} // namespace lv
