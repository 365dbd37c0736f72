#include "zip/ExtractionJob.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/DiskSpace.h"
#include "zip/ZipArchive.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

constexpr int MaxNumberedFolders = 10000;
constexpr std::uint64_t Block = 4096;
// Folders held open at once; a deep or wide tree has the ones it needs opened again.
constexpr std::size_t MaxOpenFolders = 256;
constexpr const char* NoDestinationText = "No destination given";

std::string quoted(const FolderItem& f)
{
    std::string out = "\"";
    out.append(f.displayName()).push_back('"');
    return out;
}

// The process's umask, read without changing it (umask(2) would change it for every thread
// for a moment); the usual 022 where the kernel does not tell.
mode_t processUmask()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("Umask:"))
            return mode_t(std::stoul(line.substr(6), nullptr, 8) & 0777);
    return 022;
}

std::uint64_t inBlocks(std::uint64_t bytes) { return (bytes + Block - 1) / Block * Block; }

// The n-th of `name`, `name2`, `name3`, ...
std::string numberedName(const std::string& name, int n) { return n == 1 ? name : name + std::to_string(n); }

// `path` with the leading components `from` replaced by `to`; nullopt when it does not start there.
std::optional<std::filesystem::path> movedPath(const std::filesystem::path& path, const std::filesystem::path& from,
                                           const std::filesystem::path& to)
{
    auto p = path.begin();
    for (auto f = from.begin(); f != from.end(); ++f, ++p)
        if (p == path.end() || *p != *f)
            return std::nullopt;
    std::filesystem::path result = to;
    for (; p != path.end(); ++p)
        result /= *p;
    return result;
}

} // namespace

ExtractionJob::ExtractionJob(FolderItem root, bool decodeMacBinary)
    : m_root(std::move(root)), m_decodeMacBinary(decodeMacBinary)
{
}

std::unique_ptr<ExtractionJob> ExtractionJob::claimFolder(const FolderItem& parent, const std::string& name,
                                                          std::string& error)
{
    for (int n = 1; n <= MaxNumberedFolders; ++n) {
        FolderItem candidate = parent.child(numberedName(name, n));
        // Made by this call or not ours: mkdir decides atomically, also against another job.
        if (candidate.createAsFolder()) {
            auto job = std::make_unique<ExtractionJob>(candidate);
            job->m_ownsRoot = true;
            return job;
        }
        if (candidate.lastErrorCode() != EEXIST) {
            error = "The folder " + quoted(candidate) + " could not be made in " + quoted(parent) + ": " +
                candidate.lastErrorText();
            return nullptr;
        }
    }
    error = "There is no free name for the folder " + quoted(parent.child(name)) + " in " + quoted(parent) + ".";
    return nullptr;
}

std::unique_ptr<ExtractionJob> ExtractionJob::claimStagingFolder(const FolderItem& parent, const std::string& name,
                                                                 std::string& error)
{
    int err = 0;
    auto folder = std::make_shared<const FolderHandle>(FolderHandle::open(parent.path(), err, true));
    if (!folder->isOpen()) {
        error = "The folder " + quoted(parent) + " could not be opened: " + std::generic_category().message(err);
        return nullptr;
    }
    WorkFileNames names(WorkPrefix);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string stagingName = names.next();
        // Private until published: nothing in it can be opened by anyone else meanwhile.
        err = folder->makeFolder(stagingName, 0700);
        if (err == EEXIST)
            continue;
        FolderHandle staged;
        if (err == 0)
            staged = folder->openFolder(stagingName, err);
        if (err != 0) {
            error = "A folder could not be made in " + quoted(parent) + ": " + std::generic_category().message(err);
            return nullptr;
        }
        auto job = std::make_unique<ExtractionJob>(parent.child(stagingName));
        job->m_ownsRoot = true;
        job->m_publishName = name;
        job->m_stagingParent = folder;
        job->m_stagingRoot = std::make_shared<const FolderHandle>(std::move(staged));
        return job;
    }
    error = "There is no free name for a folder in " + quoted(parent) + ".";
    return nullptr;
}

bool ExtractionJob::publish(std::string& error)
{
    closeFolders();
    const FolderItem parent = m_root.parent();
    if (!m_stagingParent || !m_stagingRoot) {
        error = NoStagingFolderText;
        return false;
    }
    const FolderHandle& folder = *m_stagingParent;
    // A destination deleted meanwhile took the extracted files with it.
    struct stat st;
    if (::fstat(folder.descriptor(), &st) != 0 || st.st_nlink == 0) {
        error = "The folder " + quoted(parent) + " was deleted while the files were extracted into it.";
        return false;
    }
    FileDescriptor root(::openat(m_stagingRoot->descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root || ::fchmod(root.get(), 0777 & ~processUmask()) != 0) {
        error = "The permissions of the folder " + quoted(parent.child(m_publishName)) + " could not be set in " +
            quoted(parent) + ": " + std::generic_category().message(errno);
        return false;
    }
    int err = 0;
    for (int n = 1; n <= MaxNumberedFolders; ++n) {
        const std::string name = numberedName(m_publishName, n);
        err = folder.moveNoReplace(m_root.name(), name);
        if (err == EEXIST)
            continue;
        if (err != 0) {
            error = err == ENOENT
                ? "The folder " + quoted(parent) + " was deleted while the files were extracted into it."
                : "The folder " + quoted(parent.child(name)) + " could not be made in " + quoted(parent) + ": " +
                    std::generic_category().message(err);
            return false;
        }
        std::lock_guard lock(m_mutex);
        m_root = parent.child(name);
        m_ownsRoot = false;
        m_stagingParent.reset();
        m_stagingRoot.reset();
        m_created.clear();
        m_createdPaths.clear();
        m_folderEnds.clear();
        return true;
    }
    error = "There is no free name for the folder " + quoted(parent.child(m_publishName)) + " in " + quoted(parent) +
        ".";
    return false;
}

std::uint64_t ExtractionJob::bytesNeeded(const ZipArchive& archive)
{
    std::uint64_t total = 0;
    for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
        const auto entry = archive.Entry(i);
        std::uint64_t bytes = std::uint32_t(entry->Size());
        if (const auto companion = entry->appleDoubleCompanion())
            bytes += std::uint32_t(companion->Size());
        total += inBlocks(bytes);
    }
    return total;
}

std::string ExtractionJob::checkRoom(const ZipArchive& archive) const
{
    // The folder the user chose: the root's parent when the job made the root or will make it.
    const FolderItem where = !m_ownsRoot && m_root.exists() ? m_root : m_root.parent();
    const auto free = DiskSpace::available(where.path());
    const std::uint64_t need = bytesNeeded(archive);
    if (!free || need <= *free)
        return {};
    return "There is not enough free space for the extracted files: they need " + DiskSpace::describe(need) +
        ", but " + quoted(where) + " has only " + DiskSpace::describe(*free) + " free.";
}

bool ExtractionJob::extract(ZipEntry& entry, std::string& error)
{
    // A closed archive leaves the entry to say so.
    if (!entry.d->zipStream)
        return extractEntry(entry, nullptr, error);
    const ZipEntry::ArchiveReader reader{*entry.d->zipStream, entry.d->zipStream->length(), ChunkSize};
    return extractEntry(entry, &reader, error);
}

bool ExtractionJob::extract(ZipEntry& entry, const ZipEntry::ArchiveReader& reader, std::string& error)
{
    return extractEntry(entry, &reader, error);
}

bool ExtractionJob::extractEntry(ZipEntry& entry, const ZipEntry::ArchiveReader* reader, std::string& error)
{
    const auto fail = [&](const std::string& reason) {
        error = "Extraction of \"" + entry.RawPath() + "\" failed: " + reason;
        return false;
    };
    const auto components = entry.DestinationComponents();
    if (!components)
        return fail(NoDestinationText);
    FolderPtr folder;
    std::string name;
    if (components->empty()) {
        // The entry of the root itself, in the folder the user chose.
        int err = 0;
        folder = m_stagingParent
            ? m_stagingParent
            : std::make_shared<const FolderHandle>(FolderHandle::open(m_root.parent().path(), err, true));
        name = m_root.name();
    } else {
        folder = openFolder(*components, components->size() - 1);
        name = components->back();
    }
    if (!folder || !folder->isOpen())
        return fail(NoDestinationText);
    const FolderItem target = folder->item(name);

    // A file there came from an earlier entry of the same name (duplicates, or names that differ
    // only in case on a file system that ignores it) or, in a root of the job's own, from
    // someone else: the entry must not overwrite it in silence.
    const char* refuse = m_ownsRoot || createdHere(target) ? FileExtractedAlreadyText : nullptr;
    FolderItem extracted;
    bool created = false;
    const bool privateFolder = !m_publishName.empty();
    if (!entry.z_extractAt({*folder, name, m_decodeMacBinary, true, reader, m_workNames, refuse, privateFolder},
                           extracted, created))
        return fail(entry.ErrorMessage());

    const bool moved = !(extracted == target);
    {
        std::lock_guard lock(m_mutex);
        if (created) {
            m_created.push_back(extracted);
            m_createdPaths.insert(extracted.path().native());
        } else if (moved && m_createdPaths.count(target.path().native())) {
            // A folder of the job's got its Mac name back: what was made in it moved along.
            for (FolderItem& f : m_created)
                if (const auto p = movedPath(f.path(), target.path(), extracted.path()))
                    f = FolderItem(*p);
            for (FolderEnd& end : m_folderEnds)
                if (const auto p = movedPath(end.folder.path(), target.path(), extracted.path()))
                    end.folder = FolderItem(*p);
            m_createdPaths.clear();
            for (const FolderItem& f : m_created)
                m_createdPaths.insert(f.path().native());
        }
    }
    if (entry.IsDirectory() && !(extracted == m_root)) {
        // The date the extraction gave the folder (its entry's, or its Mac header's).
        const auto date = entry.Time() ? extracted.modificationDate() : std::nullopt;
        std::lock_guard lock(m_mutex);
        auto mode = entry.FolderMode();
        if (mode && !m_createdPaths.count(extracted.path().native()))
            mode.reset();
        if (date || mode)
            m_folderEnds.push_back({extracted, date, mode});
    }
    // The open folders may hold the old name.
    if (moved && entry.IsDirectory())
        closeFolders();
    return true;
}

ExtractionJob::FolderPtr ExtractionJob::openRoot()
{
    if (m_stagingRoot)
        return m_stagingRoot;
    int err = 0;
    FolderHandle root = FolderHandle::open(m_root.path(), err);
    if (!root.isOpen() && err == ENOENT) {
        const FolderHandle parent = FolderHandle::open(m_root.parent().path(), err, true);
        if (!parent.isOpen())
            return nullptr;
        if (const int made = parent.makeFolder(m_root.name(), 0777); made == 0)
            record(m_root);
        else if (made != EEXIST)
            return nullptr;
        root = FolderHandle::open(m_root.path(), err);
    }
    return root.isOpen() ? std::make_shared<const FolderHandle>(std::move(root)) : nullptr;
}

ExtractionJob::FolderPtr ExtractionJob::openFolder(const std::vector<std::string>& components, std::size_t count)
{
    const auto keyOf = [&](std::size_t n) {
        std::string key;
        for (std::size_t i = 0; i < n; ++i)
            key.append(components[i]).push_back('/');
        return key;
    };
    std::lock_guard lock(m_foldersMutex);
    // The deepest folder on the way that is open already.
    std::size_t depth = count;
    FolderPtr folder;
    for (;; --depth) {
        if (const auto it = m_folders.find(keyOf(depth)); it != m_folders.end()) {
            folder = it->second;
            break;
        }
        if (depth == 0)
            break;
    }
    if (!folder) {
        if (!(folder = openRoot()))
            return nullptr;
        m_folders.emplace(std::string(), folder);
    }
    if (m_folders.size() + (count - depth) > MaxOpenFolders)
        m_folders.clear();
    for (; depth < count; ++depth) {
        // Only a real folder is entered: a link on the way is never followed, and a file or
        // special file there ends the walk.
        const std::string& name = components[depth];
        int err = 0;
        FolderHandle child = folder->openFolder(name, err);
        if (!child.isOpen() && err == ENOENT) {
            const int made = folder->makeFolder(name, 0777);
            if (made == 0)
                record(folder->item(name));
            else if (made != EEXIST)
                return nullptr;
            child = folder->openFolder(name, err);
        }
        if (!child.isOpen())
            return nullptr;
        folder = std::make_shared<const FolderHandle>(std::move(child));
        m_folders.emplace(keyOf(depth + 1), folder);
    }
    return folder;
}

void ExtractionJob::closeFolders()
{
    std::lock_guard lock(m_foldersMutex);
    m_folders.clear();
}

void ExtractionJob::finish()
{
    closeFolders();
    std::lock_guard lock(m_mutex);
    // Deepest first: a folder closed to its owner would keep the dates and modes below it from
    // being set. Setting a folder's date changes nothing in the folder above it.
    std::stable_sort(m_folderEnds.begin(), m_folderEnds.end(), [](const FolderEnd& a, const FolderEnd& b) {
        return std::distance(a.folder.path().begin(), a.folder.path().end()) >
            std::distance(b.folder.path().begin(), b.folder.path().end());
    });
    for (FolderEnd& end : m_folderEnds) {
        if (end.date)
            end.folder.setModificationDate(*end.date);
        if (end.mode)
            end.folder.setPermissions(*end.mode);
    }
    m_folderEnds.clear();
}

bool ExtractionJob::removeCreated()
{
    closeFolders();
    std::lock_guard lock(m_mutex);
    std::vector<FolderItem> items = m_created;
    if (m_stagingRoot)
        return removeStagedThroughDescriptors(items);
    if (m_ownsRoot)
        items.insert(items.begin(), m_root);
    // A folder mode already applied must not keep its contents in: the job's folders are opened
    // to their owner first, parents before children.
    for (FolderItem& f : items)
        if (f.isFolder())
            f.setPermissions(0700);
    bool all = true;
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (it->exists() && !it->remove())
            all = false;
    m_created.clear();
    m_createdPaths.clear();
    m_folderEnds.clear();
    return all;
}

// Called with m_mutex held. The items the job made, found by their places below the staged
// root and reached through its descriptor one folder at a time, never through a link; then the
// root itself, when nothing of anyone else's is left in it.
bool ExtractionJob::removeStagedThroughDescriptors(const std::vector<FolderItem>& items)
{
    struct Place {
        std::vector<std::string> folders;
        std::string name;
    };
    std::vector<Place> places;
    for (const FolderItem& item : items) {
        Place place;
        for (const auto& part : item.path().lexically_relative(m_root.path()))
            place.folders.push_back(part.native());
        if (place.folders.empty() || place.folders.front() == "..")
            continue;
        place.name = place.folders.back();
        place.folders.pop_back();
        places.push_back(std::move(place));
    }
    // The folder an item lies in, for an item below a folder of the root.
    const auto folderOf = [&](const Place& place) -> std::optional<FolderHandle> {
        FolderHandle folder;
        const FolderHandle* at = m_stagingRoot.get();
        for (const std::string& name : place.folders) {
            int err = 0;
            folder = at->openFolder(name, err);
            if (!folder.isOpen())
                return std::nullopt;
            at = &folder;
        }
        return folder;
    };
    // An item goes with its AppleDouble companion, when that is one.
    const auto removeIn = [](const FolderHandle& parent, const std::string& name, bool folder) {
        const int err = parent.remove(name, folder);
        if (err == 0) {
            const std::string companion = "._" + name;
            FileDescriptor fd(::openat(parent.descriptor(), companion.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            unsigned char magic[4] = {};
            struct stat st;
            if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && ::read(fd.get(), magic, 4) == 4 &&
                magic[0] == 0 && magic[1] == 0x05 && magic[2] == 0x16 && magic[3] == 0x07)
                parent.remove(companion, false);
        }
        return err;
    };
    const auto removeAt = [&](const Place& place, bool folder) {
        if (place.folders.empty())
            return removeIn(*m_stagingRoot, place.name, folder);
        const auto parent = folderOf(place);
        return parent ? removeIn(*parent, place.name, folder) : ENOENT;
    };
    const auto kindAt = [&](const Place& place, struct stat& st) {
        int err = 0;
        if (place.folders.empty())
            return m_stagingRoot->kindOf(place.name, st, err);
        const auto parent = folderOf(place);
        return parent ? parent->kindOf(place.name, st, err) : FolderItem::Kind::Missing;
    };
    // A folder mode already applied must not keep its contents in: the job's folders are opened
    // to their owner first, parents before children.
    for (const Place& place : places) {
        struct stat st;
        if (kindAt(place, st) != FolderItem::Kind::Folder)
            continue;
        if (place.folders.empty()) {
            ::fchmodat(m_stagingRoot->descriptor(), place.name.c_str(), 0700, 0);
        } else if (const auto parent = folderOf(place)) {
            ::fchmodat(parent->descriptor(), place.name.c_str(), 0700, 0);
        }
    }
    bool all = true;
    for (auto it = places.rbegin(); it != places.rend(); ++it) {
        struct stat st;
        const FolderItem::Kind kind = kindAt(*it, st);
        if (kind == FolderItem::Kind::Missing)
            continue;
        if (removeAt(*it, kind == FolderItem::Kind::Folder) != 0)
            all = false;
    }
    const int rootGone = m_stagingParent->remove(m_root.name(), true);
    if (rootGone != 0 && rootGone != ENOENT)
        all = false;
    m_stagingParent.reset();
    m_stagingRoot.reset();
    m_created.clear();
    m_createdPaths.clear();
    m_folderEnds.clear();
    return all;
}

void ExtractionJob::record(const FolderItem& item)
{
    std::lock_guard lock(m_mutex);
    m_created.push_back(item);
    m_createdPaths.insert(item.path().native());
}

bool ExtractionJob::createdHere(const FolderItem& item) const
{
    std::lock_guard lock(m_mutex);
    return m_createdPaths.count(item.path().native()) != 0;
}

} // namespace lv
