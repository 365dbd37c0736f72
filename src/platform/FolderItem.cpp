#include "platform/FolderItem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"
#include "platform/MacMetadataStore.h"
#include "platform/PosixIo.h"

namespace lv {

namespace fs = std::filesystem;

namespace {

bool lstatOf(const fs::path& p, struct stat& st)
{
    return !p.empty() && ::lstat(p.c_str(), &st) == 0;
}

// Replaces every byte sequence that is not UTF-8 by U+FFFD.
std::string validUtf8(const std::string& in)
{
    static constexpr char Replacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(in.size());
    const auto byte = [&](std::size_t i) { return std::uint8_t(in[i]); };
    for (std::size_t i = 0; i < in.size();) {
        const std::uint8_t b = byte(i);
        std::size_t len = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        bool ok = len != 0 && i + len <= in.size();
        for (std::size_t k = 1; ok && k < len; ++k)
            ok = (byte(i + k) & 0xC0) == 0x80;
        if (ok && len >= 3) {
            const std::uint8_t b1 = byte(i + 1);
            // No overlong forms, no surrogates, nothing above U+10FFFF.
            ok = !(b == 0xE0 && b1 < 0xA0) && !(b == 0xED && b1 >= 0xA0) && !(b == 0xF0 && b1 < 0x90) && !(b == 0xF4 && b1 >= 0x90);
        }
        if (ok) {
            out.append(in, i, len);
            i += len;
        } else {
            out += Replacement;
            ++i;
        }
    }
    return out;
}

// Opens a regular file without following a link and without blocking on a FIFO or device;
// anything that is no regular file is refused with `notRegular`.
FileDescriptor openRegular(const fs::path& p, int flags, mode_t mode, int notRegular, int& err)
{
    FileDescriptor fd(::open(p.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode));
    struct stat st;
    if (!fd) {
        err = errno;
    } else if (::fstat(fd.get(), &st) != 0) {
        err = errno;
        fd.reset();
    } else if (!S_ISREG(st.st_mode)) {
        err = notRegular;
        fd.reset();
    } else if (::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        err = errno;
        fd.reset();
    }
    return fd;
}

} // namespace

FolderItem::FolderItem(fs::path path) : m_path(std::move(path))
{
    const std::string& s = m_path.native();
    std::size_t kept = s.size();
    while (kept > 1 && s[kept - 1] == '/')
        --kept;
    if (kept != s.size())
        m_path = s.substr(0, kept);
}

std::string FolderItem::name() const
{
    return m_path.filename().native();
}

std::string FolderItem::displayPath() const { return validUtf8(m_path.native()); }

std::string FolderItem::displayName() const
{
    return validUtf8(name());
}

FolderItem FolderItem::parent() const
{
    return FolderItem(m_path.parent_path());
}

FolderItem FolderItem::child(const std::string& name) const
{
    if (isNull())
        throw NilObjectException("child of a null item");
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        throw RuntimeException("not a single file name: " + name);
    // Joined as one string: a walk makes one child per item it meets.
    std::string joined;
    joined.reserve(m_path.native().size() + 1 + name.size());
    joined += m_path.native();
    if (joined.back() != '/')
        joined += '/';
    joined += name;
    return FolderItem(fs::path(std::move(joined)));
}

FolderItem::Kind FolderItem::kind() const
{
    struct stat st;
    if (!lstatOf(m_path, st)) {
        fail(isNull() ? ENOENT : errno);
        return Kind::Missing;
    }
    if (S_ISREG(st.st_mode))
        return Kind::File;
    if (S_ISDIR(st.st_mode))
        return Kind::Folder;
    if (S_ISLNK(st.st_mode))
        return Kind::Alias;
    return Kind::Other;
}

std::optional<FolderItem> FolderItem::resolveAlias() const
{
    if (kind() != Kind::Alias)
        return std::nullopt;
    std::error_code ec;
    fs::path target = fs::canonical(m_path, ec);
    if (ec) {
        fail(ec.value());
        return std::nullopt;
    }
    return FolderItem(std::move(target));
}

std::vector<FolderItem> FolderItem::children() const
{
    std::vector<FolderItem> items;
    std::vector<std::string> names;
    // The folder itself is opened without following a link, so an alias lists nothing.
    if (const int err = isNull() ? ENOENT : posix::folderEntries(m_path.native(), names)) {
        fail(err);
        return items;
    }
    for (const auto& n : names)
        if (!MacMetadataStore::isCompanionWithPartner(m_path, n))
            items.emplace_back(m_path / n);
    return items;
}

std::uint64_t FolderItem::length() const
{
    struct stat st;
    return lstatOf(m_path, st) && S_ISREG(st.st_mode) ? std::uint64_t(st.st_size) : 0;
}

std::uint64_t FolderItem::resourceForkLength() const
{
    return isNull() ? 0 : MacMetadataStore::resourceForkLength(m_path);
}

std::optional<std::int64_t> FolderItem::modificationDate() const
{
    struct stat st;
    if (!lstatOf(m_path, st)) {
        fail(errno);
        return std::nullopt;
    }
    return std::int64_t(st.st_mtim.tv_sec);
}

std::optional<std::int64_t> FolderItem::creationDate() const
{
    struct statx stx;
    if (isNull() || ::statx(AT_FDCWD, m_path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx) != 0) {
        fail(isNull() ? ENOENT : errno);
        return std::nullopt;
    }
    if (!(stx.stx_mask & STATX_BTIME))
        return std::nullopt;
    return std::int64_t(stx.stx_btime.tv_sec);
}

bool FolderItem::setModificationDate(std::int64_t unixTime)
{
    if (isNull())
        return fail(ENOENT);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(unixTime), 0}};
    return ::utimensat(AT_FDCWD, m_path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 || fail(errno);
}

std::uint32_t FolderItem::mode() const
{
    struct stat st;
    return lstatOf(m_path, st) ? std::uint32_t(st.st_mode & 0xFFFF) : 0;
}

bool FolderItem::setPermissions(std::uint32_t permissionBits)
{
    if (isNull())
        return fail(ENOENT);
    // A link has no permissions of its own on Linux; this fails for one rather than
    // changing its target.
    return ::fchmodat(AT_FDCWD, m_path.c_str(), mode_t(permissionBits & 07777), AT_SYMLINK_NOFOLLOW) == 0 || fail(errno);
}

bool FolderItem::isWritable() const
{
    struct stat st;
    if (!lstatOf(m_path, st))
        return fail(errno);
    if ((st.st_mode & 0222) == 0)
        return fail(EACCES);
    return ::faccessat(AT_FDCWD, m_path.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0 || fail(errno);
}

FinderInfo FolderItem::finderInfo() const
{
    return isNull() ? FinderInfo() : MacMetadataStore::readFinderInfo(m_path).value_or(FinderInfo());
}

bool FolderItem::setFinderInfo(const FinderInfo& info)
{
    if (isNull())
        return fail(ENOENT);
    return MacMetadataStore::writeFinderInfo(m_path, info) || fail(errno);
}

bool FolderItem::createAsFolder(std::uint32_t mode)
{
    if (isNull())
        return fail(ENOENT);
    return ::mkdir(m_path.c_str(), mode_t(mode & 07777)) == 0 || fail(errno);
}

BinaryStreamPtr FolderItem::createBinaryFile(std::uint32_t mode)
{
    if (isNull()) {
        fail(ENOENT);
        return nullptr;
    }
    struct stat before;
    const bool replacing = lstatOf(m_path, before);
    // Truncated only once it is known to be a regular file: O_TRUNC on a device could act.
    int err = 0;
    FileDescriptor fd = openRegular(m_path, O_RDWR | O_CREAT, mode_t(mode & 07777), EEXIST, err);
    // Only a file with contents is truncated: on ext4 a truncation marks the file to be flushed
    // to the disk at its close, which a new work file of hundreds of MB must not wait for.
    struct stat opened;
    if (fd && (::fstat(fd.get(), &opened) != 0 || (opened.st_size != 0 && ::ftruncate(fd.get(), 0) != 0))) {
        err = errno;
        fd.reset();
    }
    if (!fd) {
        fail(err);
        return nullptr;
    }
    // A replaced file's resource fork and Finder information were the old file's.
    if (replacing)
        MacMetadataStore::removeAll(m_path);
    return std::make_unique<BinaryStream>(fd.release(), true);
}

BinaryStreamPtr FolderItem::openAsBinaryFile(bool writable) const
{
    if (isNull()) {
        fail(ENOENT);
        return nullptr;
    }
    int err = 0;
    FileDescriptor fd = openRegular(m_path, writable ? O_RDWR : O_RDONLY, 0, EINVAL, err);
    if (!fd) {
        fail(err);
        return nullptr;
    }
    return std::make_unique<BinaryStream>(fd.release(), writable);
}

bool FolderItem::remove()
{
    struct stat st;
    if (!lstatOf(m_path, st))
        return fail(isNull() ? ENOENT : errno);
    const int r = S_ISDIR(st.st_mode) ? ::rmdir(m_path.c_str()) : ::unlink(m_path.c_str());
    if (r != 0)
        return fail(errno);
    MacMetadataStore::removeAll(m_path);
    return true;
}

bool FolderItem::removeRecursively()
{
    if (kind() != Kind::Folder)
        return remove();
    FileDescriptor fd(::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
        return fail(errno);
    if (int err = posix::removeFolderContents(fd.get()))
        return fail(err);
    fd.reset();
    return remove();
}

std::string FolderItem::lastErrorText() const
{
    return m_lastError ? std::system_category().message(m_lastError) : std::string();
}

bool FolderItem::fail(int err) const
{
    m_lastError = err;
    return false;
}

} // namespace lv
