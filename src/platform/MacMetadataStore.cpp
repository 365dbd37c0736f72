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
#include "platform/ReachablePath.h"
#include "platform/WorkFileNames.h"

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

// The item's own name: the last component of a path.
std::string leafOf(const InFolder& item)
{
    return item.folder == AT_FDCWD ? fs::path(item.name).filename().native() : item.name;
}

// Another item of the same folder.
InFolder sibling(const InFolder& item, const std::string& leaf)
{
    if (item.folder != AT_FDCWD)
        return {item.folder, leaf};
    const fs::path path(item.name);
    return {AT_FDCWD, path.has_parent_path() ? (path.parent_path() / leaf).native() : leaf};
}

bool hasCompanionName(const InFolder& item)
{
    const std::string leaf = leafOf(item);
    return !leaf.empty() && leaf != "." && leaf != "..";
}

InFolder companionOf(const InFolder& item)
{
    return sibling(item, companionName(leafOf(item)));
}

bool present(const InFolder& item)
{
    struct stat st;
    return !item.name.empty() && ::fstatat(item.folder, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// While attributes are disabled, answer as a file system without user attributes would:
// ENOENT for a missing file, ENOTSUP otherwise.
int disabledAnswer(const InFolder& item)
{
    return present(item) ? ENOTSUP : ENOENT;
}

// Where the attributes of an item are reached: its own descriptor (given, or opened here for a
// file or folder), else its path, which for an item in an open folder goes through that folder's
// descriptor (a link, a special file, an item the caller may not read). A link's attributes are
// its own.
class Attributes {
public:
    explicit Attributes(const InFolder& item)
    {
        if (item.self >= 0) {
            m_fd = item.self;
            return;
        }
        if (item.folder == AT_FDCWD) {
            m_path = item.name;
            return;
        }
        struct stat st;
        if (::fstatat(item.folder, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
            // O_NONBLOCK: whatever took its place meanwhile must not hang us.
            m_own.reset(::openat(item.folder, item.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            m_fd = m_own.get();
        }
        if (m_fd < 0)
            m_path = "/proc/self/fd/" + std::to_string(item.folder) + "/" + item.name;
    }

    ssize_t get(const char* name, void* value, std::size_t size) const
    {
        return m_fd >= 0 ? ::fgetxattr(m_fd, name, value, size) : ::lgetxattr(m_path.c_str(), name, value, size);
    }
    int set(const char* name, const std::string& value) const
    {
        const int r = m_fd >= 0 ? ::fsetxattr(m_fd, name, value.data(), value.size(), 0)
                                : ::lsetxattr(m_path.c_str(), name, value.data(), value.size(), 0);
        return r == 0 ? 0 : errno;
    }
    int remove(const char* name) const
    {
        const int r = m_fd >= 0 ? ::fremovexattr(m_fd, name) : ::lremovexattr(m_path.c_str(), name);
        return r == 0 ? 0 : errno;
    }
    ssize_t list(char* names, std::size_t size) const
    {
        return m_fd >= 0 ? ::flistxattr(m_fd, names, size) : ::llistxattr(m_path.c_str(), names, size);
    }

private:
    FileDescriptor m_own;
    int m_fd = -1;
    std::string m_path;
};

// The value of an attribute; nullopt with `err` = 0 when it is absent or unsupported, with
// `err` = errno when the file cannot be asked (missing, no permission).
std::optional<std::string> getAttribute(const InFolder& item, const char* name, int& err)
{
    err = 0;
    if (g_attributesDisabled) {
        if (int e = disabledAnswer(item); e != ENOTSUP)
            err = e;
        return std::nullopt;
    }
    const Attributes attributes(item);
    for (;;) {
        const ssize_t size = attributes.get(name, nullptr, 0);
        if (size < 0)
            break;
        std::string value(std::size_t(size), '\0');
        const ssize_t got = attributes.get(name, value.data(), value.size());
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

std::uint64_t attributeSize(const InFolder& item, const char* name)
{
    if (g_attributesDisabled)
        return 0;
    const ssize_t size = Attributes(item).get(name, nullptr, 0);
    return size > 0 ? std::uint64_t(size) : 0;
}

int setAttribute(const InFolder& item, const char* name, const std::string& value)
{
    if (g_attributesDisabled)
        return disabledAnswer(item);
    return Attributes(item).set(name, value);
}

// 0 also when there was nothing to remove or the file system has no attributes at all.
int removeAttribute(const InFolder& item, const char* name)
{
    if (g_attributesDisabled)
        return 0;
    const int err = Attributes(item).remove(name);
    return err == ENODATA || err == ENOTSUP || err == EOPNOTSUPP ? 0 : err;
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
std::optional<Companion> openCompanion(const InFolder& file, int& err, bool* found = nullptr)
{
    err = 0;
    if (found)
        *found = false;
    if (!hasCompanionName(file))
        return std::nullopt;
    const InFolder path = companionOf(file);
    if (found)
        *found = present(path);
    // O_NONBLOCK: a FIFO at that path must not hang us.
    Companion c{FileDescriptor(::openat(path.folder, path.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)),
                {}};
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

std::optional<Companion> openCompanion(const InFolder& file)
{
    int ignored = 0;
    return openCompanion(file, ignored);
}

std::optional<std::string> readCompanionEntry(const InFolder& file, std::uint32_t id, int& err)
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

// Writes `bytes` to a fresh file beside `target` and renames it over `target`, so a reader
// never sees half a companion. 0 or errno.
int replaceFile(const InFolder& target, const std::string& bytes, mode_t mode)
{
    static WorkFileNames names(".lvad-");
    InFolder work;
    FileDescriptor fd;
    for (int attempt = 0; attempt < 16 && !fd; ++attempt) {
        work = sibling(target, names.next());
        fd.reset(::openat(work.folder, work.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno != EEXIST)
            return errno;
    }
    if (!fd)
        return EEXIST;
    int err = posix::writeAll(fd.get(), bytes);
    if (!err && ::fchmod(fd.get(), mode) != 0)
        err = errno;
    if (!err && ::fsync(fd.get()) != 0)
        err = errno;
    if (int closeErr = fd.close(); !err)
        err = closeErr;
    if (!err && ::renameat(work.folder, work.name.c_str(), target.folder, target.name.c_str()) != 0)
        err = errno;
    if (err)
        ::unlinkat(work.folder, work.name.c_str(), 0);
    return err;
}

// Sets entry `id` of the companion of `file` to `bytes`, or removes it when `bytes` is empty.
// Other entries are kept; a companion left without entries is deleted. Something at the
// companion's path that is no AppleDouble file is never overwritten (EEXIST).
int updateCompanion(const InFolder& file, std::uint32_t id, const std::string& bytes)
{
    if (!hasCompanionName(file))
        return EINVAL;
    const InFolder path = companionOf(file);
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
        return ::unlinkat(path.folder, path.name.c_str(), 0) == 0 || errno == ENOENT ? 0 : errno;

    // Finder information first, resource fork last, as macOS lays them out.
    std::stable_partition(entries.begin(), entries.end(),
                          [](const AppleDouble::Entry& e) { return e.id == AppleDouble::FinderInfoId; });
    std::stable_partition(entries.begin(), entries.end(),
                          [](const AppleDouble::Entry& e) { return e.id != AppleDouble::ResourceForkId; });

    struct stat partner;
    if (::fstatat(file.folder, file.name.c_str(), &partner, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    std::string encoded;
    try {
        encoded = AppleDouble::encode(entries);
    } catch (const std::length_error&) {
        return EFBIG;
    }
    return replaceFile(path, encoded, (partner.st_mode & 0666) | 0600);
}

// The value of one kind of metadata: the attribute first, then the companion. `err` reports
// metadata that is there but cannot be read.
std::optional<std::string> readValue(const InFolder& file, const char* attribute, std::uint32_t id, int& err)
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

bool writeValue(const InFolder& file, const char* attribute, std::uint32_t id, const std::string& bytes)
{
    if (!present(file))
        return failWith(file.name.empty() ? ENOENT : errno);
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

// Runs `f` on the item at `file`, a path of any length (see ReachablePath).
template <typename F>
auto atPath(const fs::path& file, F f)
{
    const ReachablePath reach(file);
    return f(InFolder{AT_FDCWD, reach.path().native()});
}

} // namespace

std::optional<std::string> readResourceFork(const InFolder& item, int& err)
{
    return readValue(item, ForkAttribute, AppleDouble::ResourceForkId, err);
}

std::optional<std::string> readResourceFork(const fs::path& file, int& err)
{
    return atPath(file, [&](const InFolder& item) { return readResourceFork(item, err); });
}

std::optional<std::string> readResourceFork(const fs::path& file)
{
    int ignored = 0;
    return readResourceFork(file, ignored);
}

std::uint64_t resourceForkLength(const fs::path& file)
{
    return atPath(file, [](const InFolder& item) -> std::uint64_t {
        if (const auto size = attributeSize(item, ForkAttribute))
            return size;
        const auto c = openCompanion(item);
        if (!c || !present(item))
            return 0;
        const auto* d = AppleDouble::find(c->entries, AppleDouble::ResourceForkId);
        return d ? d->length : 0;
    });
}

bool writeResourceFork(const InFolder& item, const std::string& bytes)
{
    return writeValue(item, ForkAttribute, AppleDouble::ResourceForkId, bytes);
}

bool writeResourceFork(const fs::path& file, const std::string& bytes)
{
    return atPath(file, [&](const InFolder& item) { return writeResourceFork(item, bytes); });
}

std::optional<FinderInfo> readFinderInfo(const InFolder& item, int& err)
{
    return finderInfoFrom(readValue(item, FinderInfoAttribute, AppleDouble::FinderInfoId, err));
}

std::optional<FinderInfo> readFinderInfo(const fs::path& file)
{
    int ignored = 0;
    return atPath(file, [&](const InFolder& item) { return readFinderInfo(item, ignored); });
}

bool writeFinderInfo(const InFolder& item, const FinderInfo& info)
{
    return writeValue(item, FinderInfoAttribute, AppleDouble::FinderInfoId, info.isZero() ? std::string() : info.toBytes());
}

bool writeFinderInfo(const fs::path& file, const FinderInfo& info)
{
    return atPath(file, [&](const InFolder& item) { return writeFinderInfo(item, info); });
}

Probe probe(const InFolder& item, bool mayHaveCompanion)
{
    Probe result;
    bool finderInfoAttribute = false;
    if (!g_attributesDisabled) {
        const Attributes attributes(item);
        std::string names;
        for (;;) {
            const ssize_t size = attributes.list(nullptr, 0);
            if (size <= 0)
                break;
            names.resize(std::size_t(size));
            const ssize_t got = attributes.list(names.data(), names.size());
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
            if (const auto value = getAttribute(item, FinderInfoAttribute, err); value && !value->empty()) {
                finderInfoAttribute = true;
                result.finderInfo = finderInfoFrom(value);
            }
        }
        if (listed(ForkAttribute))
            result.forkLength = attributeSize(item, ForkAttribute);
    }
    if (mayHaveCompanion && (!finderInfoAttribute || result.forkLength == 0)) {
        int err = 0;
        if (const auto c = openCompanion(item, err)) {
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

Probe probe(const fs::path& file, bool mayHaveCompanion)
{
    return atPath(file, [&](const InFolder& item) { return probe(item, mayHaveCompanion); });
}

void removeAll(const InFolder& item)
{
    removeAttribute(item, ForkAttribute);
    removeAttribute(item, FinderInfoAttribute);
    // Only a real companion goes; another file that happens to carry the name stays.
    if (hasCompanion(item)) {
        const InFolder companion = companionOf(item);
        ::unlinkat(companion.folder, companion.name.c_str(), 0);
    }
}

void removeAll(const fs::path& file)
{
    atPath(file, [](const InFolder& item) { removeAll(item); });
}

bool copyAll(const fs::path& from, const fs::path& to)
{
    // Metadata that cannot be read must stop the copy, or the caller would lose it.
    int err = 0;
    const auto fork = readResourceFork(from, err);
    if (err)
        return failWith(err);
    const auto info = atPath(from, [&](const InFolder& item) { return readFinderInfo(item, err); });
    if (err)
        return failWith(err);
    if (!writeResourceFork(to, fork.value_or(std::string())))
        err = errno;
    if (!writeFinderInfo(to, info.value_or(FinderInfo())) && !err)
        err = errno;
    return err ? failWith(err) : true;
}

std::string companionName(const std::string& name)
{
    return "._" + name;
}

fs::path companionPath(const fs::path& file)
{
    const std::string name = file.filename().native();
    if (name.empty() || name == "." || name == "..")
        return {};
    return file.parent_path() / companionName(name);
}

bool hasCompanion(const InFolder& item)
{
    return openCompanion(item).has_value();
}

bool hasCompanion(const fs::path& file)
{
    return atPath(file, [](const InFolder& item) { return hasCompanion(item); });
}

bool isCompanionWithPartner(const fs::path& folder, const std::string& name)
{
    if (name.size() <= 2 || name.compare(0, 2, "._") != 0)
        return false;
    return atPath(folder / name.substr(2), [](const InFolder& partner) { return present(partner) && hasCompanion(partner); });
}

void setExtendedAttributesDisabledForTesting(bool disabled)
{
    g_attributesDisabled = disabled;
}

} // namespace lv::MacMetadataStore
