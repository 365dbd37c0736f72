#include "zip/ExtractionJob.h"

#include <cerrno>
#include <cstring>
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

// The key of a place in the record: its folder's record and its name.
std::string placeKey(std::uint32_t parent, const std::string& name)
{
    std::string key(sizeof parent, '\0');
    std::memcpy(key.data(), &parent, sizeof parent);
    key += name;
    return key;
}

} // namespace

ExtractionJob::ExtractionJob(FolderItem root, bool decodeMacBinary)
    : m_root(std::move(root)), m_decodeMacBinary(decodeMacBinary)
{
    forgetRecords();
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
        error = "The folder " + quoted(parent) + " could not be opened: " + std::generic_category().message(EBADF);
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
        error = "The folder " + quoted(m_root) + " could not be opened to its owner's group and others: " +
            std::generic_category().message(errno);
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
        forgetRecords();
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
    std::optional<RecordIndex> parent;  // none for the entry of the root itself
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
        RecordIndex at = RootRecord;
        for (std::size_t i = 0; i + 1 < components->size(); ++i)
            at = recordOf(at, (*components)[i]);
        folder = folderOf(at, true);
        parent = at;
        name = components->back();
        if (const auto existing = findRecord(at, name); existing && m_records[*existing].created)
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
    const RecordIndex r = recordOf(*parent, name);
    if (extractedName != name)
        rename(r, extractedName);
    Record& record = m_records[r];
    if (created) {
        record.created = true;
        record.folder = entry.IsDirectory();
        record.device = kind == FolderItem::Kind::Missing ? 0 : std::uint64_t(st.st_dev);
        record.inode = kind == FolderItem::Kind::Missing ? 0 : std::uint64_t(st.st_ino);
    }
    if (entry.IsDirectory() && kind == FolderItem::Kind::Folder) {
        // The date the extraction gave the folder (its entry's, or its Mac header's).
        if (entry.Time())
            record.date = std::int64_t(st.st_mtim.tv_sec);
        if (record.created)
            record.mode = entry.FolderMode();
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

ExtractionJob::RecordIndex ExtractionJob::recordOf(RecordIndex parent, const std::string& name)
{
    const auto [at, fresh] = m_places.try_emplace(placeKey(parent, name), RecordIndex(m_records.size()));
    if (fresh) {
        Record record;
        record.parent = parent;
        record.name = name;
        m_records.push_back(std::move(record));
    }
    return at->second;
}

std::optional<ExtractionJob::RecordIndex> ExtractionJob::findRecord(RecordIndex parent, const std::string& name) const
{
    const auto at = m_places.find(placeKey(parent, name));
    return at == m_places.end() ? std::nullopt : std::optional<RecordIndex>(at->second);
}

void ExtractionJob::rename(RecordIndex record, const std::string& name)
{
    Record& r = m_records[record];
    if (const auto old = m_places.find(placeKey(r.parent, r.name)); old != m_places.end() && old->second == record)
        m_places.erase(old);
    m_places[placeKey(r.parent, name)] = record;
    r.name = name;
}

ExtractionJob::FolderPtr ExtractionJob::folderOf(RecordIndex record, bool make)
{
    // The records from this one up to the nearest folder open already.
    std::vector<RecordIndex> way;
    FolderPtr folder;
    for (RecordIndex r = record;; r = m_records[r].parent) {
        if (r == RootRecord) {
            folder = openRoot();
            break;
        }
        if (const auto open = m_openByRecord.find(r); open != m_openByRecord.end()) {
            folder = open->second->second;
            m_open.splice(m_open.begin(), m_open, open->second);
            break;
        }
        way.push_back(r);
    }
    for (auto r = way.rbegin(); folder && r != way.rend(); ++r) {
        // Only a real folder is entered: a link on the way is never followed, and a file or
        // special file there ends the walk.
        Record& at = m_records[*r];
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
                at.folder = true;
                at.device = known ? std::uint64_t(st.st_dev) : 0;
                at.inode = known ? std::uint64_t(st.st_ino) : 0;
            }
        }
        if (!child.isOpen())
            return nullptr;
        folder = std::make_shared<const FolderHandle>(std::move(child));
        keepOpen(*r, folder);
    }
    return folder;
}

void ExtractionJob::keepOpen(RecordIndex record, FolderPtr folder)
{
    m_open.emplace_front(record, std::move(folder));
    m_openByRecord[record] = m_open.begin();
    if (m_open.size() > MaxOpenFolders) {
        m_openByRecord.erase(m_open.back().first);
        m_open.pop_back();
    }
}

std::string ExtractionJob::pathOf(RecordIndex record) const
{
    std::vector<const std::string*> names;
    for (RecordIndex r = record; r != RootRecord; r = m_records[r].parent)
        names.push_back(&m_records[r].name);
    std::string path;
    for (auto n = names.rbegin(); n != names.rend(); ++n)
        path.append(path.empty() ? "" : "/").append(**n);
    return path;
}

std::string ExtractionJob::checkInPlace(RecordIndex record)
{
    const Record& r = m_records[record];
    const FolderPtr folder = folderOf(r.parent, false);
    struct stat st {};
    int err = 0;
    if (folder && folder->kindOf(r.name, st, err) != FolderItem::Kind::Missing && std::uint64_t(st.st_dev) == r.device &&
        std::uint64_t(st.st_ino) == r.inode)
        return {};
    return std::string("The extracted ") + (r.folder ? "folder" : "file") + " \"" + pathOf(record) +
        "\" was moved or deleted before the extraction ended.";
}

void ExtractionJob::forgetRecords()
{
    m_records.assign(1, Record{});
    m_places.clear();
    m_open.clear();
    m_openByRecord.clear();
}

void ExtractionJob::closeFolders()
{
    std::lock_guard lock(m_mutex);
    m_open.clear();
    m_openByRecord.clear();
    m_rootFolder.reset();
}

bool ExtractionJob::finish(std::string& error)
{
    std::unique_lock lock(m_mutex);
    const auto done = [&](bool ok) {
        m_open.clear();
        m_openByRecord.clear();
        m_rootFolder.reset();
        return ok;
    };
    // Nothing was taken from the result meanwhile: each item made is the one the job made, there.
    for (RecordIndex r = 1; r < m_records.size(); ++r)
        if (m_records[r].created)
            if (error = checkInPlace(r); !error.empty())
                return done(false);
    // Deepest first (a record comes after the folder it is in): a folder closed to its owner
    // would keep the dates and modes below it from being set. Setting a folder's date changes
    // nothing in the folder above it.
    for (RecordIndex r = RecordIndex(m_records.size()); r-- > 1;) {
        Record& record = m_records[r];
        if (!record.date && !record.mode)
            continue;
        const FolderPtr folder = folderOf(record.parent, false);
        std::string failure;
        if (!folder)
            failure = macrestore::failedDate(ENOENT);
        else if (const int err = record.date ? folder->setModificationDate(record.name, *record.date) : 0)
            failure = macrestore::failedDate(err);
        else if (const int modeErr = record.mode ? folder->setPermissions(record.name, *record.mode) : 0)
            failure = macrestore::failedPermissions(modeErr);
        if (!failure.empty()) {
            error = "Extraction of \"" + pathOf(r) + "/\" failed: " + failure;
            return done(false);
        }
        record.date.reset();
        record.mode.reset();
    }
    return done(true);
}

bool ExtractionJob::removeCreated()
{
    std::lock_guard lock(m_mutex);
    // Only the item the job made: one that took its place meanwhile is someone else's.
    const auto ours = [&](RecordIndex r, FolderPtr& folder) {
        const Record& record = m_records[r];
        struct stat st {};
        int err = 0;
        folder = folderOf(record.parent, false);
        return folder && folder->kindOf(record.name, st, err) != FolderItem::Kind::Missing &&
            std::uint64_t(st.st_dev) == record.device && std::uint64_t(st.st_ino) == record.inode;
    };
    // A folder mode already applied must not keep its contents in: the job's folders are opened
    // to their owner first, parents before children.
    FolderPtr folder;
    for (RecordIndex r = 1; r < m_records.size(); ++r)
        if (m_records[r].created && m_records[r].folder && ours(r, folder))
            folder->setPermissions(m_records[r].name, 0700);
    bool all = true;
    for (RecordIndex r = RecordIndex(m_records.size()); r-- > 1;) {
        const Record& record = m_records[r];
        if (!record.created || !ours(r, folder))
            continue;
        // An item goes with its AppleDouble companion, when that is one.
        if (folder->remove(record.name, record.folder) == 0)
            MacMetadataStore::removeAll({folder->descriptor(), record.name});
        else
            all = false;
    }
    m_open.clear();
    m_openByRecord.clear();
    m_rootFolder.reset();
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
    forgetRecords();
    return all;
}

} // namespace lv
