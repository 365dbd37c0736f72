// Extracting one entry to a file or folder on disk, and finding that destination below the
// folder the archive is extracted into.
//
// The archive may come from someone else, so nothing an entry says may reach outside the
// destination folder: names that climb above it, absolute names and names with a NUL byte get
// no destination; a symbolic link on the way or at the destination is never followed or written
// through; a FIFO, socket or device is never opened. A file's data are written to a new work
// file beside the destination and put in place only once they are complete, so a failed
// extraction never destroys a file that was there before: it removes only what it created.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>

#include "platform/Exceptions.h"
#include "platform/MacMetadataStore.h"
#include "platform/Thread.h"
#include "zip/MacMetadataRestore.h"
#include "zip/SeqStreams.h"
#include "zip/ZipEntry.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

constexpr std::int32_t MadeExecutable = 0511;

bool isSelfOrEmpty(const std::string& component) { return component.empty() || component == "."; }

// A new, empty regular file with a name of its own in `folder`, created exclusively and never
// through a link; the null item when none could be made.
FolderItem createWorkFile(const FolderItem& folder)
{
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".lvextract-%08x%08x", unsigned(random()), unsigned(random()));
        FolderItem f = folder.child(name);
        const int fd = ::open(f.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return f;
        }
        if (errno != EEXIST)
            break;
    }
    return {};
}

bool isPresent(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::symlink_status(p, ec).type() != std::filesystem::file_type::not_found && !ec;
}

// Puts the finished work file in the place of `dest`, an existing file or link, with its Mac
// metadata companion; the old file's metadata go with it.
bool replaceWith(const FolderItem& work, const FolderItem& dest)
{
    MacMetadataStore::removeAll(dest.path());
    std::error_code ec;
    const auto workCompanion = MacMetadataStore::companionPath(work.path());
    if (isPresent(workCompanion)) {
        std::filesystem::rename(workCompanion, MacMetadataStore::companionPath(dest.path()), ec);
        if (ec)
            return false;
    }
    std::filesystem::rename(work.path(), dest.path(), ec);
    return !ec;
}

// Removes the work file (and the folder made for a folder entry) unless the extraction got as
// far as putting the data in place.
class CreatedItem {
public:
    CreatedItem() = default;
    explicit CreatedItem(FolderItem item) : m_item(std::move(item)) {}
    ~CreatedItem()
    {
        if (!m_item.isNull())
            m_item.remove();
    }
    CreatedItem(const CreatedItem&) = delete;
    CreatedItem& operator=(const CreatedItem&) = delete;
    void keep() { m_item = FolderItem(); }

private:
    FolderItem m_item;
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
    try {
        if (dest.isNull()) {
            errmsg = "No destination given";
            return false;
        }
        const FolderItem::Kind kind = dest.kind();
        std::optional<MemoryBlock> mbHdr;
        FolderItem item = dest;

        if (isFolder) {
            std::optional<CreatedItem> created;
            if (kind == FolderItem::Kind::Missing) {
                FolderItem folder = dest;
                if (folder.createAsFolder())
                    created.emplace(dest);
                if (!dest.isFolder()) {
                    errmsg = "Folder creation failed";
                    return false;
                }
            } else if (kind != FolderItem::Kind::Folder) {
                errmsg = "Archive entry is a folder but a file exists at the destination already. Won't replace that.";
                return false;
            } else if (!dest.isWritable()) {
                errmsg = "Destination file is write protected";
                return false;
            }
            RsrcForkWriter rsrcOut(dest);
            if (!z_unzip(nullptr, decodeMacBinary ? &rsrcOut : nullptr, decodeMacBinary, true, mbHdr))
                return false;
            if (created)
                created->keep();
        } else {
            if (kind == FolderItem::Kind::Folder) {
                errmsg = "Archive entry is a file but a folder exists at the destination already. Won't replace that.";
                return false;
            }
            if (kind == FolderItem::Kind::Other) {
                errmsg = "Archive entry is a file but a special file exists at the destination already. Won't replace "
                         "that.";
                return false;
            }
            if (kind == FolderItem::Kind::File && !dest.isWritable()) {
                errmsg = "Destination file is write protected";
                return false;
            }
            const FolderItem work = createWorkFile(dest.parent());
            if (work.isNull()) {
                errmsg = "Creating destination file failed";
                return false;
            }
            CreatedItem created(work);
            {
                FileWriter dataOut(work);
                RsrcForkWriter rsrcOut(work);
                if (!z_unzip(&dataOut, decodeMacBinary ? &rsrcOut : nullptr, decodeMacBinary, false, mbHdr))
                    return false;
            }
            // A link at the destination is replaced itself, never what it points to.
            if (kind == FolderItem::Kind::Missing) {
                FolderItem moved = work;
                if (!moved.moveTo(dest)) {
                    errmsg = "Creating destination file failed";
                    return false;
                }
            } else if (!replaceWith(work, dest)) {
                errmsg = kind == FolderItem::Kind::Alias ? "Destination exists as an alias file that can't be deleted"
                                                         : "Creating destination file failed";
                return false;
            }
            created.keep();
        }

        // What the archive knows about the item. Failures here are not reported: the data are
        // in place.
        if (const auto date = Time())
            item.setModificationDate(*date);
        bool locked = false;
        std::string type, creator, macName;
        if (mbHdr)
            item = macrestore::applyMacBinaryHeader(item, *mbHdr, Name(), locked);
        else if (extra && extra->GetTypeCreatorName(type, creator, macName))
            item = macrestore::applyTypeCreatorName(item, type, creator, macName, Name());
        else if (z_icMapFilename(item.name(), type, creator))
            item = macrestore::applyTypeCreatorName(item, type, creator, {}, Name());

        // A folder's mode waits for its contents (FolderMode): applied now, a read-only mode would
        // stop the entries that go into it.
        if (!isFolder) {
            const std::int32_t attrs = ExternalFileAttributes();
            if (attrs < 0 && carriesUnixMode()) {
                ApplyUnixPermissions(item, attrs);
            } else if (makeExecutable && !IsTextFile()) {
                if (const auto ref = d->makeFSRef(item))
                    d->updateUnixPermissions(*ref, -1, MadeExecutable);
            }
        }
        if (locked && lockFiles)
            macrestore::lockFile(item);
        extracted = item;
        return true;
    } catch (const std::exception&) {
        errmsg = "Internal error (exception)";
        return false;
    }
}

std::optional<std::uint32_t> ZipEntry::FolderMode() const
{
    const std::uint32_t mode = std::uint32_t(ZipArchiveData::shiftRight16(ExternalFileAttributes()));
    if (!isFolder || !carriesUnixMode() || (mode & zip::UnixTypeMask) != zip::UnixDirectory)
        return std::nullopt;
    return mode & 0777;
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
    // Absolute names and names with a NUL byte have no destination. The entry "/" stands for the
    // destination folder itself.
    if (base.isNull() || zipEncName.find('\0') != std::string::npos ||
        (!zipEncName.empty() && zipEncName[0] == '/' && zipEncName != "/"))
        return {};
    // Each component as the step sees it, after the encoding round trip. A name whose ".."
    // would climb above the destination folder is refused before anything is created for it.
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
