#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>

#include "platform/Exceptions.h"
#include "platform/Thread.h"
#include "zip/MacBinary.h"
#include "zip/SeqStreams.h"
#include "zip/ZipArchive.h"
#include "zip/ZipProgressNotifier.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

constexpr const char* TooLargeText = "The item is too large for a zip archive (2 GB or more)";

// Device and inode of an item, to notice a folder that is already on the walk's path (a bind
// mount of one of its parents), or the archive's own file.
struct FolderId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const FolderId&) const = default;
};

std::optional<FolderId> folderId(const FolderItem& folder)
{
    struct stat st {};
    if (::lstat(folder.path().c_str(), &st) != 0)
        return std::nullopt;
    return FolderId{st.st_dev, st.st_ino};
}

} // namespace

std::string ZipArchive::NameClash(const std::vector<FolderItem>& siblings)
{
    std::map<std::string, const FolderItem*> seen;
    for (const FolderItem& item : siblings) {
        const auto [at, fresh] = seen.try_emplace(ZipArchiveData::extractedName(item.name()), &item);
        if (!fresh)
            return "The items \"" + at->second->displayName() + "\" and \"" + item.displayName() +
                   "\" would get the same name in the archive";
    }
    return {};
}

std::int32_t ZipArchive::AddItemToRoot(const FolderItem& f, std::int32_t mbMode)
{
    std::string name;
    if (!f.isNull())
        name = ZipArchiveData::cleanName(f.name()) + (f.isFolder() ? "/" : "");
    return z_addItem(f, name, mbMode, d->addUnixPerm, false);
}

std::int32_t ZipArchive::AddItemWithRawPath(const FolderItem& f, std::string_view path, std::int32_t mbMode)
{
    return z_addItem(f, path, mbMode, d->addUnixPerm, false);
}

std::int32_t ZipArchive::AddItemByStreams(SeqDataInputStream* dataIn, std::int64_t dataLen, SeqDataInputStream* rsrcIn,
                                          std::int64_t rsrcLen, const std::optional<MemoryBlock>& mbHdr,
                                          std::string_view name, ZipExtraFieldPtr extra, std::optional<std::int64_t> date)
{
    if (!mbHdr && rsrcIn)
        throw RuntimeException("A resource fork needs a MacBinary header");
    if (mbHdr && (mbHdr->size() != macbinary::HeaderSize ||
                  mbHdr->int32Value(macbinary::offset::DataLength) != (dataIn ? dataLen : 0) ||
                  mbHdr->int32Value(macbinary::offset::RsrcLength) != (rsrcIn ? rsrcLen : 0)))
        throw RuntimeException("The MacBinary header does not match the fork lengths");
    if (!IsWritable()) {
        z_noWriteMsg();
        return zipResult::NothingAdded;
    }
    try {
        return z_zip(dataIn, dataLen, rsrcIn, rsrcLen, mbHdr, name, date, std::move(extra));
    } catch (const std::exception&) {
        errmsg = "Unexpected error (exception) in 'AddItemByStreams'";
        return zipResult::ReadWriteError;
    }
}

std::int32_t ZipArchive::z_addItem(const FolderItem& f, std::string_view name, std::int32_t mbMode, bool unixPerm,
                                   bool sizeOnly)
{
    if (!sizeOnly && !IsWritable()) {
        z_noWriteMsg();
        return zipResult::NothingAdded;
    }
    if (f.isNull()) {
        errmsg = "no file reference given";
        return zipResult::NothingAdded;
    }
    const std::int32_t failed = sizeOnly ? zipResult::WalkFailed : zipResult::ReadWriteError;
    try {
        // An alias chosen by the user stands for the file it points to.
        FolderItem item = f;
        FolderItem::Kind kind = f.kind();
        if (kind == FolderItem::Kind::Alias) {
            const std::optional<FolderItem> target = f.resolveAlias();
            if (target && target->isFile()) {
                item = *target;
                kind = FolderItem::Kind::File;
            } else {
                kind = FolderItem::Kind::Other;
            }
        }
        // Reading a FIFO would hang, a device never ends: only files and folders are archived.
        if (kind == FolderItem::Kind::Other) {
            errmsg = "Only files and folders can be archived";
            return failed;
        }
        // A vanished item is never archived as an empty file.
        if (kind == FolderItem::Kind::Missing) {
            errmsg = "Opening the source data stream failed";
            return sizeOnly ? zipResult::WalkFailed : zipResult::OpenFailed;
        }
        const bool isFolder = kind == FolderItem::Kind::Folder;
        const std::uint64_t dataLen = isFolder ? 0 : item.length();
        const std::uint64_t forkLen = (!isFolder && mbMode > 0) ? item.resourceForkLength() : 0;
        const bool useMacBinary = mbMode == MacBinaryAlways || (mbMode == MacBinarySmart && forkLen >= 1);
        const std::uint64_t rsrcLen = useMacBinary ? forkLen : 0;
        if (dataLen > std::uint64_t(zip::MaxOffset) || rsrcLen > std::uint64_t(zip::MaxOffset)) {
            errmsg = TooLargeText;
            return failed;
        }
        const std::int64_t payload =
            useMacBinary ? macbinary::streamLength(std::int64_t(dataLen), std::int64_t(rsrcLen)) : std::int64_t(dataLen);
        if (payload > zip::MaxOffset) {
            errmsg = TooLargeText;
            return failed;
        }
        if (sizeOnly)
            return std::int32_t(payload);

        std::unique_ptr<FileReader> dataIn;
        std::unique_ptr<RsrcForkReader> rsrcIn;
        if (!isFolder)
            dataIn = std::make_unique<FileReader>(item);
        if (rsrcLen > 0)
            rsrcIn = std::make_unique<RsrcForkReader>(item);
        std::optional<MemoryBlock> header;
        ZipExtraFieldPtr extra;
        if (useMacBinary) {
            header = MakeMacBinaryHeader(item, std::int32_t(dataLen), std::int32_t(rsrcLen), f.name());
            extra = MakeZipExtraField(item, f.name());
        } else {
            extra = MakeZipExtraField(item, "");
        }
        const std::int32_t result = z_zip(dataIn.get(), std::int64_t(dataLen), rsrcIn.get(), std::int64_t(rsrcLen),
                                          header, name, item.modificationDate(), extra);
        std::int32_t mode = 0;
        if (unixPerm && result >= 1 && GetUnixPermissions(item, mode)) {
            ZipEntry& entry = *d->entries_1[std::size_t(result)];
            entry.SetOSMadeBy(zip::HostUnix);
            entry.SetExternalFileAttributes((entry.ExternalFileAttributes() & 0xFFFF) | ZipArchiveData::shiftLeft16(mode));
        }
        return result;
    } catch (const std::exception&) {
        errmsg = "Unexpected error (exception) in 'z_addItem'";
        return failed;
    }
}

bool ZipArchive::AddFolderContents(const FolderItem& folder, std::string_view path, std::int32_t mbMode, bool followAliases)
{
    if (!IsWritable()) {
        z_noWriteMsg();
        return false;
    }
    const std::string joined = std::string(path) + "/";
    std::string normalised;
    for (std::size_t i = 0; i < joined.size(); ++i) {
        if (joined.compare(i, 2, "//") == 0) {
            normalised += '/';
            ++i;
        } else {
            normalised += joined[i];
        }
    }
    return z_addFolder(folder, normalised, followAliases, mbMode, d->addUnixPerm, false) == 0;
}

std::int32_t ZipArchive::CalcItemSize(const FolderItem& f, std::int32_t mbMode)
{
    return z_addItem(f, "", mbMode, false, true);
}

std::int32_t ZipArchive::CalcFolderSize(const FolderItem& folder, bool followAliases, std::int32_t mbMode)
{
    return std::int32_t(z_addFolder(folder, "", followAliases, mbMode, false, true));
}

bool ZipArchive::GetUnixPermissions(const FolderItem& f, std::int32_t& mode) const
{
    const std::optional<FolderItem> ref = d->makeFSRef(f);
    std::int32_t value = 0;
    if (!ref || d->getUnixPermissionsFromFile(*ref, value) != 0)
        return false;
    mode = value;
    return true;
}

bool ZipArchive::z_abort(const FolderItem& f, std::int32_t code, const std::string& msg, bool canSkip)
{
    errmsg = msg;
    bool stop = true;
    if (ZipProgressNotifier* monitor = d->monitor) {
        stop = false;
        monitor->ZipFileError(f, code, msg, stop);
    }
    return !canSkip || stop;
}

std::int64_t ZipArchive::z_addFolder(const FolderItem& folder, const std::string& path, bool followAliases,
                                     std::int32_t mbMode, bool unixPerm, bool sizeOnly)
{
    if (folder.isNull()) {
        errmsg = "no folder reference given";
        return zipResult::WalkFailed;
    }
    std::vector<FolderId> onPath;
    if (const auto id = folderId(folder))
        onPath.push_back(*id);
    // The archive being written may lie inside the folder: it is never added to itself.
    const std::optional<FolderId> archiveId = folderId(d->theFile);

    // Adds one item (a file, or a subfolder's own entry); false when the walk must stop.
    std::int64_t total = 0;
    const auto addOne = [&](const FolderItem& item, const std::string& name) {
        const std::int32_t r = z_addItem(item, name, mbMode, unixPerm, sizeOnly);
        if (r < 0 || (r == 0 && !sizeOnly))
            return !z_abort(item, r, errmsg, true);
        if (sizeOnly)
            total += r;
        return true;
    };

    const std::function<bool(const FolderItem&, const std::string&)> walk = [&](const FolderItem& dir,
                                                                                  const std::string& prefix) {
        FolderItem current;
        try {
            std::vector<FolderItem> files;
            std::vector<FolderItem> folders;
            // A folder that cannot be listed would come out empty, its contents lost without a
            // word: it fails like a file that cannot be opened.
            const FolderItem listed(dir.path());
            const std::vector<FolderItem> children = listed.children();
            if (listed.lastErrorCode() != 0 && dir.isFolder() &&
                z_abort(dir, zipResult::OpenFailed, "Reading the folder failed", true))
                return false;
            for (const FolderItem& child : children) {
                switch (child.kind()) {
                case FolderItem::Kind::File:
                    if (!archiveId || folderId(child) != archiveId)
                        files.push_back(child);
                    break;
                case FolderItem::Kind::Folder:
                    folders.push_back(child);
                    break;
                case FolderItem::Kind::Missing:
                    // Gone meanwhile is fine; one that cannot even be looked at (a path too long)
                    // would be lost without a word.
                    if (child.lastErrorCode() != ENOENT &&
                        z_abort(child, zipResult::OpenFailed, "Reading the folder failed", true))
                        return false;
                    break;
                case FolderItem::Kind::Alias:
                    if (followAliases) {
                        if (const auto target = child.resolveAlias(); target && target->isFile())
                            files.push_back(*target);
                    }
                    break;
                default:  // FIFOs, sockets, devices, items gone meanwhile
                    break;
                }
                Thread::yieldPoint();
            }
            // Entries of the same name would overwrite each other when the archive is extracted.
            if (!sizeOnly) {
                std::vector<FolderItem> siblings = files;
                siblings.insert(siblings.end(), folders.begin(), folders.end());
                if (const std::string clash = NameClash(siblings);
                    !clash.empty() && z_abort(dir, zipResult::WalkFailed, clash, true))
                    return false;
            }
            for (const FolderItem& file : files) {
                current = file;
                bool abort = false;
                if (d->monitor)
                    d->monitor->ZipFileStarting(file, abort);
                if (abort)
                    return false;
                if (!addOne(file, sizeOnly ? std::string() : prefix + ZipArchiveData::cleanName(file.name())))
                    return false;
                Thread::yieldPoint();
            }
            for (const FolderItem& sub : folders) {
                current = sub;
                const std::optional<FolderId> id = folderId(sub);
                if (id && std::find(onPath.begin(), onPath.end(), *id) != onPath.end())
                    continue;  // a loop back to a folder being walked
                const std::string subPath = sizeOnly ? std::string() : prefix + ZipArchiveData::cleanName(sub.name()) + "/";
                if (!addOne(sub, subPath))
                    return false;
                if (id)
                    onPath.push_back(*id);
                const bool ok = walk(sub, subPath);
                if (id)
                    onPath.pop_back();
                if (!ok)
                    return false;
                Thread::yieldPoint();
            }
            return true;
        } catch (const std::exception&) {
            z_abort(current, zipResult::WalkFailed, "Unexpected error (exception) in 'z_addFolder'", false);
            return false;
        }
    };

    if (!walk(folder, path))
        return zipResult::WalkFailed;
    if (!sizeOnly)
        return 0;
    if (total > zip::MaxOffset) {
        errmsg = "The folder is too large for a zip archive (2 GB or more)";
        return zipResult::WalkFailed;
    }
    return total;
}

} // namespace lv
