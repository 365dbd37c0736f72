#include "zip/ExtractionJob.h"

#include <cerrno>
#include <fstream>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/DiskSpace.h"
#include "platform/MacMetadataStore.h"
#include "zip/MacMetadataRestore.h"
#include "zip/ZipArchive.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

constexpr int MaxNumberedFolders = 10000;
constexpr std::uint64_t Block = 4096;
// Folders held open at once: those on the way of the entries at hand. A deep or wide tree has
// the others opened again when it needs them, and never holds a descriptor per level.
constexpr std::size_t MaxOpenFolders = 64;
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

} // namespace

ExtractionJob::ExtractionJob(FolderItem root, bool decodeMacBinary)
    : m_root(std::move(root)), m_decodeMacBinary(decodeMacBinary), m_open(MaxOpenFolders)
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
        forget();
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
    std::optional<Place> parent;  // none for the entry of the root itself
    // A file there came from an earlier entry of the same name (duplicates, or names that differ
    // only in case on a file system that ignores it) or, in a root of the job's own, from
    // someone else: the entry must not overwrite it in silence.
    bool refuse = m_ownsRoot;
    if (components->empty()) {
        // The entry of the root itself, in the folder the user chose.
        int err = 0;
        folder = m_stagingParent
            ? m_stagingParent
            : std::make_shared<const FolderHandle>(FolderHandle::open(m_root.parent().path(), err, true));
        name = m_root.name();
    } else {
        std::lock_guard lock(m_mutex);
        Place at = ExtractedPlaces::Root;
        for (std::size_t i = 0; i + 1 < components->size(); ++i)
            at = m_places.placeOf(at, (*components)[i]);
        folder = folderOf(at, true);
        parent = at;
        name = components->back();
        if (const auto existing = m_places.find(at, name); existing && m_places[*existing].created)
            refuse = true;
    }
    if (!folder || !folder->isOpen())
        return fail(NoDestinationText);

    std::string extractedName;
    bool created = false;
    const bool privateFolder = !m_publishName.empty();
    if (!entry.z_extractAt({*folder, name, m_decodeMacBinary, true, reader, m_workNames,
                            refuse ? FileExtractedAlreadyText : nullptr, privateFolder},
                           extractedName, created))
        return fail(entry.ErrorMessage());

    // What was made, as it is now: the check at the end and the clean-up know it by that.
    struct stat st {};
    int err = 0;
    const FolderItem::Kind kind =
        created || entry.IsDirectory() ? folder->kindOf(extractedName, st, err) : FolderItem::Kind::Missing;
    std::lock_guard lock(m_mutex);
    if (!parent) {
        m_rootCreated = m_rootCreated || created;
        return true;
    }
    const Place at = m_places.placeOf(*parent, name);
    if (extractedName != name)
        m_places.rename(at, extractedName);
    ExtractedPlaces::Place& place = m_places[at];
    if (created) {
        place.created = true;
        place.isFolder = entry.IsDirectory();
        place.device = kind == FolderItem::Kind::Missing ? 0 : std::uint64_t(st.st_dev);
        place.inode = kind == FolderItem::Kind::Missing ? 0 : std::uint64_t(st.st_ino);
    }
    if (entry.IsDirectory() && kind == FolderItem::Kind::Folder) {
        // The date the extraction gave the folder (its entry's, or its Mac header's).
        if (entry.Time())
            place.date = std::int64_t(st.st_mtim.tv_sec);
        if (place.created)
            place.mode = entry.FolderMode();
    }
    return true;
}

ExtractionJob::FolderPtr ExtractionJob::openRoot()
{
    if (m_stagingRoot)
        return m_stagingRoot;
    if (m_rootFolder)
        return m_rootFolder;
    int err = 0;
    FolderHandle root = FolderHandle::open(m_root.path(), err);
    if (!root.isOpen() && err == ENOENT) {
        const FolderHandle parent = FolderHandle::open(m_root.parent().path(), err, true);
        if (!parent.isOpen())
            return nullptr;
        if (const int made = parent.makeFolder(m_root.name(), 0777); made == 0)
            m_rootCreated = true;
        else if (made != EEXIST)
            return nullptr;
        root = FolderHandle::open(m_root.path(), err);
    }
    if (root.isOpen())
        m_rootFolder = std::make_shared<const FolderHandle>(std::move(root));
    return m_rootFolder;
}

ExtractionJob::FolderPtr ExtractionJob::folderOf(Place place, bool make)
{
    // The places from this one up to the nearest folder open already.
    std::vector<Place> way;
    FolderPtr folder;
    for (Place p = place;; p = m_places[p].folder) {
        if (p == ExtractedPlaces::Root) {
            folder = openRoot();
            break;
        }
        if ((folder = m_open.find(p)))
            break;
        way.push_back(p);
    }
    for (auto p = way.rbegin(); folder && p != way.rend(); ++p) {
        // Only a real folder is entered: a link on the way is never followed, and a file or
        // special file there ends the walk.
        ExtractedPlaces::Place& at = m_places[*p];
        int err = 0;
        FolderHandle child = folder->openFolder(at.name, err, false);
        if (!child.isOpen() && err == ENOENT && make) {
            const int made = folder->makeFolder(at.name, 0777);
            if (made != 0 && made != EEXIST)
                return nullptr;
            child = folder->openFolder(at.name, err, false);
            if (made == 0) {
                struct stat st {};
                const bool known = child.isOpen() && ::fstat(child.descriptor(), &st) == 0;
                at.created = true;
                at.isFolder = true;
                at.device = known ? std::uint64_t(st.st_dev) : 0;
                at.inode = known ? std::uint64_t(st.st_ino) : 0;
            }
        }
        if (!child.isOpen())
            return nullptr;
        folder = std::make_shared<const FolderHandle>(std::move(child));
        m_open.keep(*p, folder);
    }
    return folder;
}

ExtractionJob::FolderPtr ExtractionJob::folderOfMade(Place place)
{
    const ExtractedPlaces::Place& p = m_places[place];
    FolderPtr folder = folderOf(p.folder, false);
    struct stat st {};
    int err = 0;
    if (folder && folder->kindOf(p.name, st, err) != FolderItem::Kind::Missing && std::uint64_t(st.st_dev) == p.device &&
        std::uint64_t(st.st_ino) == p.inode)
        return folder;
    return nullptr;
}

std::string ExtractionJob::checkInPlace(Place place)
{
    if (folderOfMade(place))
        return {};
    const ExtractedPlaces::Place& p = m_places[place];
    return std::string("The extracted ") + (p.isFolder ? "folder" : "file") + " \"" + m_places.pathOf(place) +
        "\" was moved or deleted before the extraction ended.";
}

void ExtractionJob::letFoldersGo()
{
    m_open.clear();
    m_rootFolder.reset();
}

void ExtractionJob::forget()
{
    m_places.clear();
    letFoldersGo();
}

void ExtractionJob::closeFolders()
{
    std::lock_guard lock(m_mutex);
    letFoldersGo();
}

bool ExtractionJob::finish(std::string& error)
{
    std::lock_guard lock(m_mutex);
    const auto done = [&](bool ok) {
        letFoldersGo();
        return ok;
    };
    // Nothing was taken from the result meanwhile: each item made is the one the job made, there.
    for (Place p = 1; p < m_places.size(); ++p)
        if (m_places[p].created)
            if (error = checkInPlace(p); !error.empty())
                return done(false);
    // Deepest first (a place comes after the folder it is in): a folder closed to its owner
    // would keep the dates and modes below it from being set. Setting a folder's date changes
    // nothing in the folder above it.
    for (Place p = m_places.size(); p-- > 1;) {
        ExtractedPlaces::Place& place = m_places[p];
        if (!place.date && !place.mode)
            continue;
        const FolderPtr folder = folderOf(place.folder, false);
        std::string failure;
        if (!folder)
            failure = macrestore::failedDate(ENOENT);
        else if (const int err = place.date ? folder->setModificationDate(place.name, *place.date) : 0)
            failure = macrestore::failedDate(err);
        else if (const int modeErr = place.mode ? folder->setPermissions(place.name, *place.mode) : 0)
            failure = macrestore::failedPermissions(modeErr);
        if (!failure.empty()) {
            error = "Extraction of \"" + m_places.pathOf(p) + "/\" failed: " + failure;
            return done(false);
        }
        place.date.reset();
        place.mode.reset();
    }
    return done(true);
}

bool ExtractionJob::removeCreated()
{
    std::lock_guard lock(m_mutex);
    // Only the item the job made: one that took its place meanwhile is someone else's.
    // A folder mode already applied must not keep its contents in: the job's folders are opened
    // to their owner first, parents before children.
    for (Place p = 1; p < m_places.size(); ++p)
        if (m_places[p].created && m_places[p].isFolder)
            if (const FolderPtr folder = folderOfMade(p))
                folder->setPermissions(m_places[p].name, 0700);
    bool all = true;
    for (Place p = m_places.size(); p-- > 1;) {
        const ExtractedPlaces::Place& place = m_places[p];
        const FolderPtr folder = place.created ? folderOfMade(p) : nullptr;
        if (!folder)
            continue;
        // An item goes with its AppleDouble companion, when that is one.
        if (folder->remove(place.name, place.isFolder) == 0)
            MacMetadataStore::removeAll({folder->descriptor(), place.name});
        else
            all = false;
    }
    letFoldersGo();
    if (m_stagingRoot) {
        const int rootGone = m_stagingParent->remove(m_root.name(), true);
        if (rootGone != 0 && rootGone != ENOENT)
            all = false;
        m_stagingParent.reset();
        m_stagingRoot.reset();
    } else if (m_ownsRoot || m_rootCreated) {
        FolderItem root = m_root;
        if (root.exists() && !root.remove())
            all = false;
    }
    m_rootCreated = false;
    forget();
    return all;
}

} // namespace lv
