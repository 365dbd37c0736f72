#include <algorithm>

#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/ZipArchive.h"

namespace lv {

namespace {

bool sameItem(const FolderItem& a, const FolderItem& b)
{
    return a.path().lexically_normal() == b.path().lexically_normal();
}

} // namespace

std::string ZipArchive::RawPath(const FolderItem& base, const FolderItem& item) const
{
    if (base.isNull() || !base.isFolder())
        return {};
    std::vector<std::string> names;
    FolderItem f = item;
    while (true) {
        if (f.isNull())
            return {};
        if (sameItem(f, base))
            break;
        const FolderItem parent = f.parent();
        if (parent.isNull() || sameItem(parent, f))
            return {};
        names.push_back(f.name());
        f = parent;
        Thread::yieldPoint();
    }
    return RawPath(std::vector<std::string>(names.rbegin(), names.rend()));
}

std::string ZipArchive::RawPath(const std::vector<std::string>& parts)
{
    std::string result;
    for (const std::string& part : parts) {
        result += '/';
        result += ZipArchiveData::cleanName(part);
        Thread::yieldPoint();
    }
    return result.empty() ? result : result.substr(1);
}

bool ZipArchive::IsValidName(std::string_view name)
{
    return ZipArchiveData::cleanName(name) == name;
}

std::string ZipArchive::z_pathToEncName(std::string_view path) const
{
    std::string name = path.empty() ? std::string("/") : std::string(path);
    if (name != "/" && name.front() == '/')
        name.erase(0, 1);
    return d->encodeForZip(name);
}

std::int32_t ZipArchive::EntryIdxByRawPath(std::string_view path, std::int32_t start) const
{
    if (!entriesRead)
        throw RuntimeException("The archive is not open");
    if (start < 1 || start > EntryCount() + 1)
        throw OutOfBoundsException();
    return d->lookup(z_pathToEncName(path), start);
}

std::vector<std::string> ZipArchive::AllEntriesAsRawPaths() const
{
    z_settle();
    std::vector<std::string> paths;
    for (std::int32_t i = 1; i <= d->entryCount(); ++i) {
        paths.push_back(d->entries_1[std::size_t(i)]->RawPath());
        Thread::yieldPoint();
    }
    return paths;
}

bool ZipEntry::SameRawPath(std::string_view rawPath) const
{
    return ZipArchiveData::equalsIgnoringCase(d->encodeForZip(rawPath), zipEncName);
}

std::vector<std::string> ZipEntry::pathComponents() const
{
    std::vector<std::string> path;
    const std::string& n = sysEncName;
    path.reserve(std::size_t(std::count(n.begin(), n.end(), '/')) + 1);
    std::string current;
    for (const char c : n) {
        if (c == ':') {
            current += '-';
        } else if (c != '/') {
            current += c;
        } else {
            if (current != ".")
                path.push_back(current);
            current.clear();
        }
    }
    if (!current.empty())
        path.push_back(current);
    return path;
}

void ZipEntry::z_checkRawPath()
{
    const std::string& n = sysEncName;
    isFolder = !n.empty() && n.back() == '/';
    const std::size_t slash = n.rfind('/');
    const std::string_view lastPiece = slash == std::string::npos ? std::string_view(n) : std::string_view(n).substr(slash + 1);
    // The first component as pathComponents gives it: "./" before it dropped.
    std::string_view rest(n);
    while (rest.starts_with("./"))
        rest.remove_prefix(2);
    const std::string_view first = rest.substr(0, rest.find('/'));
    if (lastPiece.starts_with("._"))
        z_hasDittoName = true;
    else if (first == "__MACOSX")
        z_hasDittoName = true;
}

} // namespace lv
