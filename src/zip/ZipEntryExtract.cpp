// Extracting one entry to a file or folder on disk, and finding that destination below the
// folder the archive is extracted into.
//
// The archive may come from someone else, so nothing an entry says may reach outside the
// destination folder: a name that starts with "/" extracts below it like any other, names that
// climb above it and names with a NUL byte get no destination; a symbolic link on the way or at the destination is never followed or written
// through; a FIFO, socket or device is never opened. A file's data are written to a new work
// file beside the destination and put in place only once they are complete, so a failed
// extraction never destroys a file that was there before: it removes only what it created.
//
// The item is made through a descriptor of its folder (mkdirat, openat, renameat2), and a file
// whose entry brings no Mac metadata gets its date and mode through its own descriptor before it
// is put in place: a few system calls per file. Its resource fork, Finder information, date and
// mode are given through the folder's descriptor too, so that they come back at any depth; one
// that cannot be given fails the extraction, as a write failure does.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/Exceptions.h"
#include "platform/FolderHandle.h"
#include "platform/MacMetadataStore.h"
#include "platform/Thread.h"
#include "platform/WorkFileNames.h"
#include "zip/MacMetadataRestore.h"
#include "zip/SeqStreams.h"
#include "zip/ZipEntry.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

constexpr std::uint32_t MadeExecutable = 0511;
constexpr int WorkFileAttempts = 16;
constexpr const char* FileCreationFailed = "Creating destination file failed";

bool isSelfOrEmpty(const std::string& component) { return component.empty() || component == "."; }

// The work file names of extractions outside a job.
WorkFileNames& sharedWorkNames()
{
    static WorkFileNames names(".lvextract-");
    return names;
}

// Removes the work file (and the folder made for a folder entry, or the file put in place) unless
// the extraction got to its end. It goes through the folder's descriptor: the folder may have
// been renamed, or its path taken by a link, since the job opened it.
class CreatedItem {
public:
    CreatedItem(const FolderHandle& folder, std::string name, bool isFolder)
        : m_folder(&folder), m_name(std::move(name)), m_isFolder(isFolder) {}
    ~CreatedItem()
    {
        if (m_folder && m_folder->remove(m_name, m_isFolder) == 0)
            MacMetadataStore::removeAll({m_folder->descriptor(), m_name});
    }
    CreatedItem(const CreatedItem&) = delete;
    CreatedItem& operator=(const CreatedItem&) = delete;
    void keep() { m_folder = nullptr; }
    void renamed(std::string name) { m_name = std::move(name); }

private:
    const FolderHandle* m_folder;
    std::string m_name;
    bool m_isFolder;
};

} // namespace

bool ZipEntry::Extract(const FolderItem& dest) { return Extract(dest, true); }

bool ZipEntry::Extract(const FolderItem& dest, bool decodeMacBinary) { return Extract(dest, decodeMacBinary, true); }

bool ZipEntry::Extract(const FolderItem& dest, bool decodeMacBinary, bool makeExecutable)
{
    FolderItem extracted;
    return Extract(dest, decodeMacBinary, makeExecutable, extracted);
}

bool ZipEntry::Extract(const FolderItem& dest, bool decodeMacBinary, bool makeExecutable, FolderItem& extracted)
{
    extracted = FolderItem();
    if (dest.isNull()) {
        errmsg = "No destination given";
        return false;
    }
    // The caller's folder, reached as the caller names it.
    const FolderItem parent = dest.parent();
    int err = 0;
    const FolderHandle folder = FolderHandle::open(parent.isNull() ? std::filesystem::path(".") : parent.path(), err, true);
    if (!folder.isOpen()) {
        errmsg = isFolder ? "Folder creation failed" : FileCreationFailed;
        return false;
    }
    const std::string name = dest.name();
    bool created = false;
    std::string finalName;
    if (!z_extractAt({folder, name, decodeMacBinary, makeExecutable, nullptr, sharedWorkNames(), nullptr}, finalName,
                     created))
        return false;
    extracted = finalName == name ? dest : dest.parent().child(finalName);
    return true;
}

bool ZipEntry::z_extractAt(const ExtractRequest& request, std::string& extractedName, bool& created)
{
    extractedName.clear();
    created = false;
    const FolderHandle& folder = request.folder;
    const std::string& name = request.name;
    try {
        struct stat st {};
        int err = 0;
        const FolderItem::Kind kind = folder.kindOf(name, st, err);
        std::optional<MemoryBlock> mbHdr;
        const auto unzip = [&](SeqDataOutputStream* dataOut, SeqDataOutputStream* rsrcOut, bool folderRead) {
            return request.reader ? z_unzip(*request.reader, dataOut, rsrcOut, request.decodeMacBinary, folderRead, mbHdr)
                                  : z_unzip(dataOut, rsrcOut, request.decodeMacBinary, folderRead, mbHdr);
        };
        const auto failed = [&](std::string reason) {
            errmsg = std::move(reason);
            return false;
        };
        FileDescriptor data;  // a file's data, open until its date and mode are set
        std::string work;     // its work file's name
        std::optional<CreatedItem> made;  // the item this call made, until it is complete

        if (isFolder) {
            if (kind == FolderItem::Kind::Missing) {
                const int madeErr = folder.makeFolder(name, 0777);
                if (madeErr == 0)
                    made.emplace(folder, name, true);
                // Made meanwhile as the folder of another entry is as good.
                else if (madeErr != EEXIST || folder.kindOf(name, st, err) != FolderItem::Kind::Folder) {
                    errmsg = "Folder creation failed";
                    return false;
                }
            } else if (kind != FolderItem::Kind::Folder) {
                errmsg = "Archive entry is a folder but a file exists at the destination already. Won't replace that.";
                return false;
            } else if (!folder.isWritable(name, st)) {
                errmsg = "Destination file is write protected";
                return false;
            }
            RsrcForkWriter rsrcOut(MacMetadataStore::InFolder{folder.descriptor(), name});
            if (!unzip(nullptr, request.decodeMacBinary ? &rsrcOut : nullptr, true))
                return false;
            if (!mbHdr && !z_bringsMacMetadata()) {
                if (const auto date = Time())
                    if (const int dateErr = folder.setModificationDate(name, *date))
                        return failed(macrestore::failedDate(dateErr));
                if (made)
                    made->keep();
                created = made.has_value();
                extractedName = name;
                return true;
            }
        } else {
            if (request.refuseExisting && kind != FolderItem::Kind::Missing && kind != FolderItem::Kind::Folder) {
                errmsg = request.refuseExisting;
                return false;
            }
            if (kind == FolderItem::Kind::Folder) {
                errmsg = "Archive entry is a file but a folder exists at the destination already. Won't replace that.";
                return false;
            }
            if (kind == FolderItem::Kind::Other) {
                errmsg = "Archive entry is a file but a special file exists at the destination already. Won't replace "
                         "that.";
                return false;
            }
            if (kind == FolderItem::Kind::File && !folder.isWritable(name, st)) {
                errmsg = "Destination file is write protected";
                return false;
            }
            const bool direct = request.privateFolder && kind == FolderItem::Kind::Missing;
            if (direct) {
                work = name;
                data = folder.createFile(work, 0666, err);
            }
            for (int attempt = 0; !direct && attempt < WorkFileAttempts && !data; ++attempt) {
                work = request.workNames.next();
                data = folder.createFile(work, 0666, err);
                if (!data && err != EEXIST)
                    break;
            }
            if (!data) {
                errmsg = FileCreationFailed;
                return false;
            }
            CreatedItem workFile(folder, work, false);
            {
                DescriptorWriter dataOut(data.get());
                RsrcForkWriter rsrcOut(MacMetadataStore::InFolder{folder.descriptor(), work, data.get()});
                if (!unzip(&dataOut, request.decodeMacBinary ? &rsrcOut : nullptr, false))
                    return false;
            }
            const bool quick = !mbHdr && !z_bringsMacMetadata();
            // Without Mac metadata to add, date and mode go on now, through the descriptor.
            if (quick)
                if (const int modeErr = z_setDateAndMode(data.get(), request.makeExecutable))
                    return failed(macrestore::failedPermissions(modeErr));
            if (data.close() != 0) {
                errmsg = "File write error (disk full?)";
                return false;
            }
            // A link at the destination is replaced itself, never what it points to. Only a
            // header brings a resource fork, which may live in a companion that moves along.
            if (kind == FolderItem::Kind::Missing && !direct &&
                (mbHdr ? folder.moveWithCompanion(work, name) : folder.moveNoReplace(work, name)) != 0) {
                errmsg = FileCreationFailed;
                return false;
            }
            if (kind != FolderItem::Kind::Missing && folder.replaceWithCompanion(work, name) != 0) {
                errmsg = kind == FolderItem::Kind::Alias ? "Destination exists as an alias file that can't be deleted"
                                                         : FileCreationFailed;
                return false;
            }
            workFile.keep();
            if (quick) {
                created = kind == FolderItem::Kind::Missing;
                extractedName = name;
                return true;
            }
            // A file that was there is replaced already; a new one goes again if what follows fails.
            if (kind == FolderItem::Kind::Missing)
                made.emplace(folder, name, false);
        }

        // What the archive knows about the item, given through its folder. The data are in
        // place, but an item without what the archive recorded of it is no faithful copy.
        std::string item = name;
        if (const auto date = Time())
            if (const int dateErr = folder.setModificationDate(item, *date))
                return failed(macrestore::failedDate(dateErr));
        // What was made or replaced here has no Finder information yet.
        const FinderInfo none;
        const FinderInfo* before = made || !isFolder ? &none : nullptr;
        bool locked = false;
        std::string type, creator, macName;
        std::string failure;
        if (mbHdr)
            failure = macrestore::applyMacBinaryHeader(folder, item, *mbHdr, Name(), locked, before);
        else if (extra && extra->GetTypeCreatorName(type, creator, macName))
            failure = macrestore::applyTypeCreatorName(folder, item, type, creator, macName, Name(), before);
        else if (z_icMapFilename(item, type, creator))
            failure = macrestore::applyTypeCreatorName(folder, item, type, creator, {}, Name(), before);
        if (made)
            made->renamed(item);
        if (!failure.empty())
            return failed(std::move(failure));

        // A folder's mode waits for its contents (FolderMode): applied now, a read-only mode would
        // stop the entries that go into it.
        if (!isFolder) {
            const std::int32_t attrs = ExternalFileAttributes();
            std::optional<std::uint32_t> bits;
            if (attrs < 0 && carriesUnixMode()) {
                bits = z_permissionBits(std::uint32_t(ZipArchiveData::shiftRight16(attrs)), false);
            } else if (request.makeExecutable && !IsTextFile()) {
                if (folder.kindOf(item, st, err) == FolderItem::Kind::Missing)
                    return failed(macrestore::failedPermissions(err));
                bits = std::uint32_t(st.st_mode & 07777) | MadeExecutable;
            }
            if (bits)
                if (const int modeErr = folder.setPermissions(item, *bits))
                    return failed(macrestore::failedPermissions(modeErr));
        }
        if (locked && lockFiles)
            if (failure = macrestore::lockFile(folder, item); !failure.empty())
                return failed(std::move(failure));
        if (made)
            made->keep();
        created = made.has_value();
        extractedName = item;
        return true;
    } catch (const std::exception&) {
        errmsg = "Internal error (exception)";
        return false;
    }
}

bool ZipEntry::z_bringsMacMetadata() const
{
    std::string type, creator, macName;
    if (extra && extra->GetTypeCreatorName(type, creator, macName)) {
        FinderInfo info;
        info.setType(type);
        info.setCreator(creator);
        return !macName.empty() || !info.isZero();
    }
    return z_icMapFilename(Name(), type, creator);
}

int ZipEntry::z_setDateAndMode(int fd, bool makeExecutable) const
{
    if (const auto date = Time()) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(*date), 0}};
        if (::futimens(fd, times) != 0)
            return errno;
    }
    const std::int32_t attrs = ExternalFileAttributes();
    if (attrs < 0 && carriesUnixMode()) {
        if (const auto bits = z_permissionBits(std::uint32_t(ZipArchiveData::shiftRight16(attrs)), false))
            if (::fchmod(fd, mode_t(*bits)) != 0)
                return errno;
    } else if (makeExecutable && !IsTextFile()) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || ::fchmod(fd, mode_t((st.st_mode & 07777) | MadeExecutable)) != 0)
            return errno;
    }
    return 0;
}

std::optional<std::uint32_t> ZipEntry::z_permissionBits(std::uint32_t mode, bool forFolder)
{
    // A mode applies only to what it describes: a directory mode to a folder, a regular file's
    // (or one without a type) to a file. The permissions of a link, a device or a FIFO say
    // nothing about the file made for it; set-id and sticky bits from an archive are never applied.
    const std::uint32_t type = mode & zip::UnixTypeMask;
    if (forFolder ? type != zip::UnixDirectory : (type != 0 && type != zip::UnixRegularFile))
        return std::nullopt;
    return mode & 0777;
}

std::optional<std::uint32_t> ZipEntry::FolderMode() const
{
    if (!isFolder || !carriesUnixMode())
        return std::nullopt;
    return z_permissionBits(std::uint32_t(ZipArchiveData::shiftRight16(ExternalFileAttributes())), true);
}

bool ZipEntry::carriesUnixMode() const
{
    const std::int32_t host = OSMadeBy();
    return host == zip::HostMSDOS || host == zip::HostUnix || host == zip::HostMacintosh;
}

FolderItem ZipEntry::MakeDestination(const FolderItem& base, bool followAliases)
{
    return MakeDestination(base, followAliases, nullptr);
}

FolderItem ZipEntry::MakeDestination(const FolderItem& base, bool followAliases, std::vector<FolderItem>* created)
{
    // Names with a NUL byte have no destination. A leading "/" gives an empty first component,
    // which stays in the destination folder; the entry "/" stands for that folder itself.
    if (base.isNull() || zipEncName.find('\0') != std::string::npos)
        return {};
    // Each component as the step sees it, after the encoding round trip. A name whose ".."
    // would climb above the destination folder is refused before anything is created for it.
    const std::vector<std::string> path = pathComponents();
    std::vector<std::string> names;
    names.reserve(path.size());
    std::int64_t depth = 0;
    for (const std::string& component : path) {
        names.push_back(d->decodeFromZip(d->encodeForZip(component)));
        if (names.back() == "..") {
            if (--depth < 0)
                return {};
        } else if (!isSelfOrEmpty(names.back())) {
            ++depth;
        }
    }
    FolderItem f = base;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (names[i] == "..")
            f = f.parent();
        else if (!isSelfOrEmpty(names[i]))
            f = z_destinationChild(f, path[i], followAliases, created);
        if (f.isNull())
            return {};
        Thread::yieldPoint();
    }
    return f;
}

std::optional<std::vector<std::string>> ZipEntry::DestinationComponents() const
{
    bool leadsOutside = false;
    return z_destinationComponents(leadsOutside);
}

bool ZipEntry::LeadsOutside() const
{
    bool leadsOutside = false;
    z_destinationComponents(leadsOutside);
    return leadsOutside;
}

std::optional<std::vector<std::string>> ZipEntry::z_destinationComponents(bool& leadsOutside) const
{
    if (zipEncName.find('\0') != std::string::npos)
        return std::nullopt;
    std::vector<std::string> components;
    for (const std::string& component : pathComponents()) {
        std::string n = d->decodeFromZip(d->encodeForZip(component));
        if (n == "..") {
            if (components.empty()) {
                leadsOutside = true;
                return std::nullopt;
            }
            components.pop_back();
        } else if (!isSelfOrEmpty(n)) {
            if (n.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
                return std::nullopt;
            components.push_back(std::move(n));
        }
    }
    return components;
}

FolderItem ZipEntry::MakeDestinationChild(const FolderItem& parent, const std::string& name, bool followAliases)
{
    return z_destinationChild(parent, name, followAliases, nullptr);
}

FolderItem ZipEntry::z_destinationChild(
    const FolderItem& parent, const std::string& name, bool followAliases, std::vector<FolderItem>* created)
{
    try {
        const std::string n = d->decodeFromZip(d->encodeForZip(name));
        if (parent.isNull())
            return {};
        if (n == "..")
            return parent.parent();
        if (isSelfOrEmpty(n))
            return parent;
        if (n.find('\0') != std::string::npos)
            return {};
        // Only a real folder is entered: a link on the way is never followed, and a file or
        // special file there ends the walk.
        switch (parent.kind()) {
        case FolderItem::Kind::Missing: {
            FolderItem folder = parent;
            if (folder.createAsFolder()) {
                if (created)
                    created->push_back(parent);
            } else if (!parent.isFolder()) {
                return {};
            }
            break;
        }
        case FolderItem::Kind::Folder:
            break;
        default:
            return {};
        }
        FolderItem child = parent.child(n);
        if (followAliases && child.isAlias())
            if (auto target = child.resolveAlias())
                return *target;
        return child;
    } catch (const std::exception&) {
        return {};
    }
}

void ZipEntry::z_setAppleDoubleEntry(std::shared_ptr<ZipEntry> companion)
{
    appleDoubleEntry = std::move(companion);
    appleDoubleEntry->thisIsTheAppleDoubleEntry = true;
}

} // namespace lv
