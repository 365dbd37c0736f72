#include "platform/MacMetadataStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "platform/AppleDouble.h"
#include "platform/FileDescriptor.h"
#include "platform/PosixIo.h"

namespace lv::MacMetadataStore {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_attributesDisabled{false};

constexpr const char* ForkAttribute = "user.com.apple.ResourceFork";
constexpr const char* FinderInfoAttribute = "user.com.apple.FinderInfo";

// What a file system answers when it cannot hold a value as an attribute: no user attributes
// at all, or a value too large for it. The companion takes the value then.
bool refusedByFileSystem(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP || err == E2BIG || err == ENOSPC || err == ERANGE;
}

bool present(const fs::path& p)
{
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// While attributes are disabled, answer as a file system without user attributes would:
// ENOENT for a missing file, ENOTSUP otherwise.
int disabledAnswer(const fs::path& file)
{
    return present(file) ? ENOTSUP : ENOENT;
}

// The value of an attribute; nullopt with `err` = 0 when it is absent or unsupported, with
// `err` = errno when the file cannot be asked (missing, no permission).
std::optional<std::string> getAttribute(const fs::path& file, const char* name, int& err)
{
    err = 0;
    if (g_attributesDisabled) {
        if (int e = disabledAnswer(file); e != ENOTSUP)
            err = e;
        return std::nullopt;
    }
    for (;;) {
        const ssize_t size = ::lgetxattr(file.c_str(), name, nullptr, 0);
        if (size < 0)
            break;
        std::string value(std::size_t(size), '\0');
        const ssize_t got = ::lgetxattr(file.c_str(), name, value.data(), value.size());
        if (got >= 0) {
            value.resize(std::size_t(got));
            return value;
        }
        if (errno != ERANGE)  // ERANGE: it grew in between; ask again
            break;
    }
    if (errno != ENODATA && errno != ENOTSUP && errno != EOPNOTSUPP)
        err = errno;
    return std::nullopt;
}

std::uint64_t attributeSize(const fs::path& file, const char* name)
{
    if (g_attributesDisabled)
        return 0;
    const ssize_t size = ::lgetxattr(file.c_str(), name, nullptr, 0);
    return size > 0 ? std::uint64_t(size) : 0;
}

int setAttribute(const fs::path& file, const char* name, const std::string& value)
{
    if (g_attributesDisabled)
        return disabledAnswer(file);
    return ::lsetxattr(file.c_str(), name, value.data(), value.size(), 0) == 0 ? 0 : errno;
}

// 0 also when there was nothing to remove or the file system has no attributes at all.
int removeAttribute(const fs::path& file, const char* name)
{
    if (g_attributesDisabled)
        return 0;
    if (::lremovexattr(file.c_str(), name) == 0)
        return 0;
    return errno == ENODATA || errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : errno;
}

// An open, valid companion file.
struct Companion {
    FileDescriptor fd;
    std::vector<AppleDouble::Descriptor> entries;

    std::string read(const AppleDouble::Descriptor& d, int& err) const
    {
        std::string out;
        err = posix::readAt(fd.get(), d.offset, d.length, out);
        return out;
    }
};

// The companion of `file` when one exists and is an AppleDouble file. `err` reports a companion
// that is there but cannot be read; `found` whether anything at all is at its path.
std::optional<Companion> openCompanion(const fs::path& file, int& err, bool* found = nullptr)
{
    err = 0;
    const fs::path path = companionPath(file);
    if (found)
        *found = !path.empty() && present(path);
    if (path.empty())
        return std::nullopt;
    // O_NONBLOCK: a FIFO at that path must not hang us.
    Companion c{FileDescriptor(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)), {}};
    struct stat st;
    if (!c.fd) {
        if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
            err = errno;
        return std::nullopt;
    }
    if (::fstat(c.fd.get(), &st) != 0) {
        err = errno;
        return std::nullopt;
    }
    const std::uint64_t size = std::uint64_t(st.st_size);
    if (!S_ISREG(st.st_mode) || size < AppleDouble::FixedHeaderSize)
        return std::nullopt;

    const auto bytes = [](const std::string& s) {
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    std::string head;
    if ((err = posix::readAt(c.fd.get(), 0, AppleDouble::FixedHeaderSize, head)))
        return std::nullopt;
    const auto count = AppleDouble::entryCount(bytes(head));
    if (!count)
        return std::nullopt;
    const std::size_t headSize = AppleDouble::FixedHeaderSize + *count * AppleDouble::DescriptorSize;
    if (headSize > size)
        return std::nullopt;
    if ((err = posix::readAt(c.fd.get(), 0, headSize, head)))
        return std::nullopt;
    auto entries = AppleDouble::descriptors(bytes(head), size);
    if (!entries)
        return std::nullopt;
    c.entries = std::move(*entries);
    return c;
}

std::optional<Companion> openCompanion(const fs::path& file)
{
    int ignored = 0;
    return openCompanion(file, ignored);
}

std::optional<std::string> readCompanionEntry(const fs::path& file, std::uint32_t id, int& err)
{
    const auto c = openCompanion(file, err);
    if (!c)
        return std::nullopt;
    const auto* d = AppleDouble::find(c->entries, id);
    if (!d || d->length == 0)
        return std::nullopt;
    std::string bytes = c->read(*d, err);
    if (err)
        return std::nullopt;
    return bytes;
}

// Writes `bytes` to a fresh file in `folder` and renames it over `target`, so a reader never
// sees half a companion. 0 or errno.
int replaceFile(const fs::path& folder, const fs::path& target, const std::string& bytes, mode_t mode)
{
    std::string name = (folder.empty() ? fs::path(".") : folder) / ".lvad-XXXXXX";
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd)
        return errno;
    int err = posix::writeAll(fd.get(), bytes);
    if (!err && ::fchmod(fd.get(), mode) != 0)
        err = errno;
    if (!err && ::fsync(fd.get()) != 0)
        err = errno;
    if (int closeErr = fd.close(); !err)
        err = closeErr;
    if (!err && ::rename(name.c_str(), target.c_str()) != 0)
        err = errno;
    if (err)
        ::unlink(name.c_str());
    return err;
}

// Sets entry `id` of the companion of `file` to `bytes`, or removes it when `bytes` is empty.
// Other entries are kept; a companion left without entries is deleted. Something at the
// companion's path that is no AppleDouble file is never overwritten (EEXIST).
int updateCompanion(const fs::path& file, std::uint32_t id, const std::string& bytes)
{
    const fs::path path = companionPath(file);
    if (path.empty())
        return EINVAL;
    bool found = false;
    int err = 0;
    auto old = openCompanion(file, err, &found);
    if (err)
        return err;
    if (found && !old)
        return bytes.empty() ? 0 : EEXIST;
    if (!old && bytes.empty())
        return 0;

    std::vector<AppleDouble::Entry> entries;
    bool changed = false;
    if (old) {
        for (const auto& d : old->entries) {
            if (d.id == id) {
                changed = true;
                continue;
            }
            if (AppleDouble::find(old->entries, d.id) != &d)
                continue;  // a duplicate ID: only the first counts, as for readers
            std::string value = old->read(d, err);
            if (err)
                return err;
            if (d.id == AppleDouble::FinderInfoId)
                value.resize(FinderInfo::Size);  // the packed macOS attributes behind it hold absolute offsets
            entries.push_back({d.id, std::move(value)});
        }
    }
    if (bytes.empty() && !changed)
        return 0;
    if (!bytes.empty())
        entries.push_back({id, bytes});

    if (entries.empty())
        return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;

    // Finder information first, resource fork last, as macOS lays them out.
    std::stable_partition(entries.begin(), entries.end(),
                          [](const AppleDouble::Entry& e) { return e.id == AppleDouble::FinderInfoId; });
    std::stable_partition(entries.begin(), entries.end(),
                          [](const AppleDouble::Entry& e) { return e.id != AppleDouble::ResourceForkId; });

    struct stat partner;
    if (::lstat(file.c_str(), &partner) != 0)
        return errno;
    std::string encoded;
    try {
        encoded = AppleDouble::encode(entries);
    } catch (const std::length_error&) {
        return EFBIG;
    }
    return replaceFile(path.parent_path(), path, encoded, (partner.st_mode & 0666) | 0600);
}

// The value of one kind of metadata: the attribute first, then the companion. `err` reports
// metadata that is there but cannot be read.
std::optional<std::string> readValue(const fs::path& file, const char* attribute, std::uint32_t id, int& err)
{
    if (auto value = getAttribute(file, attribute, err); value && !value->empty())
        return value;
    if (err == ENOENT || err == ENOTDIR) {
        err = 0;
        return std::nullopt;  // no file, so a companion left behind is no one's
    }
    const int attributeErr = err;
    auto value = readCompanionEntry(file, id, err);
    if (!value && !err)
        err = attributeErr;
    return value;
}

std::optional<std::string> readValue(const fs::path& file, const char* attribute, std::uint32_t id)
{
    int ignored = 0;
    return readValue(file, attribute, id, ignored);
}

std::optional<FinderInfo> finderInfoFrom(const std::optional<std::string>& bytes)
{
    if (!bytes)
        return std::nullopt;
    const FinderInfo info = FinderInfo::fromBytes(*bytes);
    if (info.isZero())
        return std::nullopt;
    return info;
}

bool failWith(int err)
{
    errno = err;
    return false;
}

bool writeValue(const fs::path& file, const char* attribute, std::uint32_t id, const std::string& bytes)
{
    if (!present(file))
        return failWith(errno);
    if (bytes.empty()) {
        const int attrErr = removeAttribute(file, attribute);
        const int companionErr = updateCompanion(file, id, {});
        return attrErr || companionErr ? failWith(attrErr ? attrErr : companionErr) : true;
    }
    const int err = setAttribute(file, attribute, bytes);
    if (err == 0) {
        const int staleErr = updateCompanion(file, id, {});
        return staleErr ? failWith(staleErr) : true;
    }
    if (!refusedByFileSystem(err))
        return failWith(err);
    if (int companionErr = updateCompanion(file, id, bytes))
        return failWith(companionErr);
    const int staleErr = removeAttribute(file, attribute);
    return staleErr ? failWith(staleErr) : true;
}

} // namespace

std::optional<std::string> readResourceFork(const fs::path& file)
{
    return readValue(file, ForkAttribute, AppleDouble::ResourceForkId);
}

std::optional<std::string> readResourceFork(const fs::path& file, int& err)
{
    return readValue(file, ForkAttribute, AppleDouble::ResourceForkId, err);
}

std::uint64_t resourceForkLength(const fs::path& file)
{
    if (const auto size = attributeSize(file, ForkAttribute))
        return size;
    const auto c = openCompanion(file);
    if (!c || !present(file))
        return 0;
    const auto* d = AppleDouble::find(c->entries, AppleDouble::ResourceForkId);
    return d ? d->length : 0;
}

bool writeResourceFork(const fs::path& file, const std::string& bytes)
{
    return writeValue(file, ForkAttribute, AppleDouble::ResourceForkId, bytes);
}

std::optional<FinderInfo> readFinderInfo(const fs::path& file)
{
    return finderInfoFrom(readValue(file, FinderInfoAttribute, AppleDouble::FinderInfoId));
}

bool writeFinderInfo(const fs::path& file, const FinderInfo& info)
{
    return writeValue(file, FinderInfoAttribute, AppleDouble::FinderInfoId, info.isZero() ? std::string() : info.toBytes());
}

Probe probe(const fs::path& file, bool mayHaveCompanion)
{
    Probe result;
    bool finderInfoAttribute = false;
    if (!g_attributesDisabled) {
        std::string names;
        for (;;) {
            const ssize_t size = ::llistxattr(file.c_str(), nullptr, 0);
            if (size <= 0)
                break;
            names.resize(std::size_t(size));
            const ssize_t got = ::llistxattr(file.c_str(), names.data(), names.size());
            if (got >= 0) {
                names.resize(std::size_t(got));
                break;
            }
            names.clear();
            if (errno != ERANGE)  // ERANGE: the list grew in between; ask again
                break;
        }
        const auto listed = [&](std::string_view name) {
            for (std::size_t at = 0; at < names.size();) {
                const std::size_t end = std::min(names.find('\0', at), names.size());
                if (std::string_view(names).substr(at, end - at) == name)
                    return true;
                at = end + 1;
            }
            return false;
        };
        if (listed(FinderInfoAttribute)) {
            int err = 0;
            if (const auto value = getAttribute(file, FinderInfoAttribute, err); value && !value->empty()) {
                finderInfoAttribute = true;
                result.finderInfo = finderInfoFrom(value);
            }
        }
        if (listed(ForkAttribute))
            result.forkLength = attributeSize(file, ForkAttribute);
    }
    if (mayHaveCompanion && (!finderInfoAttribute || result.forkLength == 0)) {
        int err = 0;
        if (const auto c = openCompanion(file, err)) {
            if (!finderInfoAttribute)
                if (const auto* d = AppleDouble::find(c->entries, AppleDouble::FinderInfoId); d && d->length > 0) {
                    std::string bytes = c->read(*d, err);
                    if (!err)
                        result.finderInfo = finderInfoFrom(bytes);
                }
            if (result.forkLength == 0)
                if (const auto* d = AppleDouble::find(c->entries, AppleDouble::ResourceForkId))
                    result.forkLength = d->length;
        }
    }
    return result;
}

void removeAll(const fs::path& file)
{
    removeAttribute(file, ForkAttribute);
    removeAttribute(file, FinderInfoAttribute);
    // Only a real companion goes; another file that happens to carry the name stays.
    if (hasCompanion(file))
        ::unlink(companionPath(file).c_str());
}

bool copyAll(const fs::path& from, const fs::path& to)
{
    // Metadata that cannot be read must stop the copy, or the caller would lose it.
    int err = 0;
    const auto fork = readValue(from, ForkAttribute, AppleDouble::ResourceForkId, err);
    if (err)
        return failWith(err);
    const auto info = finderInfoFrom(readValue(from, FinderInfoAttribute, AppleDouble::FinderInfoId, err));
    if (err)
        return failWith(err);
    if (!writeResourceFork(to, fork.value_or(std::string())))
        err = errno;
    if (!writeFinderInfo(to, info.value_or(FinderInfo())) && !err)
        err = errno;
    return err ? failWith(err) : true;
}

fs::path companionPath(const fs::path& file)
{
    const std::string name = file.filename().native();
    if (name.empty() || name == "." || name == "..")
        return {};
    return file.parent_path() / ("._" + name);
}

bool hasCompanion(const fs::path& file)
{
    return openCompanion(file).has_value();
}

bool isCompanionWithPartner(const fs::path& folder, const std::string& name)
{
    if (name.size() <= 2 || name.compare(0, 2, "._") != 0)
        return false;
    const fs::path partner = folder / name.substr(2);
    return present(partner) && hasCompanion(partner);
}

void setExtendedAttributesDisabledForTesting(bool disabled)
{
    g_attributesDisabled = disabled;
}

} // namespace lv::MacMetadataStore
