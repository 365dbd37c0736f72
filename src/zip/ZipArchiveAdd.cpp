#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>

#include "platform/Exceptions.h"
#include "platform/ItemStat.h"
#include "platform/MacMetadataStore.h"
#include "platform/Thread.h"
#include "platform/TreeScan.h"
#include "zip/EntryBuilder.h"
#include "zip/EntryPayload.h"
#include "zip/ItemReadHook.h"
#include "zip/MacBinary.h"
#include "zip/SeqStreams.h"
#include "zip/WriteBehind.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"
#include "zip/ZipProgressNotifier.h"
#include "zip/ZipRecords.h"

namespace lv {

namespace {

// Bytes read beforehand, as an entry's data source.
class BytesReader final : public SeqDataInputStream {
public:
    explicit BytesReader(ByteBuffer bytes) : m_bytes(std::move(bytes)) {}
    std::string Read(std::int32_t count) override
    {
        const std::size_t n = std::min(m_bytes.size() - m_at, std::size_t(std::max(count, 0)));
        std::string out(reinterpret_cast<const char*>(m_bytes.data()) + m_at, n);
        m_at += n;
        return out;
    }
    bool Eof() const override { return m_at == m_bytes.size(); }
    bool HadError() const override { return false; }
    bool Open() override { return true; }
    void Close() override {}
    void GetErrorDescription(std::int32_t& code, std::string& message) const override { code = 0, message.clear(); }
    bool Skip(std::int32_t count) override
    {
        m_at = std::min(m_bytes.size(), m_at + std::size_t(std::max(count, 0)));
        return true;
    }
    void ClearError() override {}

private:
    ByteBuffer m_bytes;
    std::size_t m_at = 0;
};

constexpr const char* TooLargeText = "The item is too large for a zip archive (2 GB or more)";
constexpr const char* OpenDataText = "Opening the source data stream failed";

// The explanation of a failure: which item, and what the system said.
std::string reasonFor(const FolderItem& item, int error)
{
    return "\"" + item.displayPath() + "\": " + (error ? std::system_category().message(error) : "unknown error") + ".";
}

std::string lengthOf(const FolderItem& item, std::uint64_t length)
{
    return "\"" + item.displayPath() + "\" is " + std::to_string(length) + " bytes long.";
}

std::string firstClash(const std::vector<const FolderItem*>& siblings)
{
    std::map<std::string, const FolderItem*> seen;
    for (const FolderItem* item : siblings) {
        const auto [at, fresh] = seen.try_emplace(ZipArchiveData::extractedName(item->name()), item);
        if (!fresh)
            return "The items \"" + at->second->displayName() + "\" and \"" + item->displayName() +
                   "\" would get the same name in the archive";
    }
    return {};
}

} // namespace

std::string ZipArchive::NameClash(const std::vector<FolderItem>& siblings)
{
    std::vector<const FolderItem*> items;
    items.reserve(siblings.size());
    for (const FolderItem& item : siblings)
        items.push_back(&item);
    return firstClash(items);
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
    if (!z_settle()) {
        errmsg = writeBehind->failure()->message;
        z_detail(writeBehind->failure()->detail);
        writeBehind->markFailureReported();
        return writeBehind->failure()->code;
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
    if (const TreeScan::Root* known = scan ? scan->root(f.path()) : nullptr)
        return z_addListed(f, known->stat, true, name, mbMode, unixPerm, sizeOnly, known->mac ? &*known->mac : nullptr);
    return z_addListed(f, statItem(f.path()), true, name, mbMode, unixPerm, sizeOnly);
}

std::int32_t ZipArchive::z_addListed(const FolderItem& f, const ItemStat& fStat, bool mayHaveCompanion,
                                     std::string_view name, std::int32_t mbMode, bool unixPerm, bool sizeOnly,
                                     const MacMetadataStore::Probe* knownMac)
{
    const std::int32_t failed = sizeOnly ? zipResult::WalkFailed : zipResult::ReadWriteError;
    try {
        // An alias chosen by the user stands for the file it points to.
        std::optional<FolderItem> target;
        ItemStat stat = fStat;
        if (stat.kind == FolderItem::Kind::Alias) {
            target = f.resolveAlias();
            knownMac = nullptr;
            if (const TreeScan::Root* known = target && scan ? scan->root(target->path()) : nullptr) {
                stat = known->stat;
                knownMac = known->mac ? &*known->mac : nullptr;
            } else if (target) {
                stat = statItem(target->path());
            }
            if (target && stat.kind == FolderItem::Kind::File)
                mayHaveCompanion = true;
            else
                stat.kind = FolderItem::Kind::Other;
        }
        const FolderItem& item = target ? *target : f;
        // Reading a FIFO would hang, a device never ends: only files and folders are archived.
        if (stat.kind == FolderItem::Kind::Other) {
            errmsg = "Only files and folders can be archived";
            return failed;
        }
        // A vanished item is never archived as an empty file.
        if (stat.kind == FolderItem::Kind::Missing) {
            errmsg = OpenDataText;
            int error = ENOENT;
            statItem(item.path(), &error);
            z_detail(reasonFor(item, error));
            return sizeOnly ? zipResult::WalkFailed : zipResult::OpenFailed;
        }
        const bool isFolder = stat.kind == FolderItem::Kind::Folder;
        // The Mac metadata, looked at once: a file's type and creator go into its extra field.
        const bool probed = !isFolder || mbMode == MacBinaryAlways;
        const MacMetadataStore::Probe mac = !probed ? MacMetadataStore::Probe{}
                                            : knownMac ? *knownMac
                                                       : MacMetadataStore::probe(item.path(), mayHaveCompanion);
        const std::uint64_t dataLen = isFolder ? 0 : stat.length;
        const std::uint64_t forkLen = (!isFolder && mbMode > 0) ? mac.forkLength : 0;
        const bool useMacBinary = mbMode == MacBinaryAlways || (mbMode == MacBinarySmart && forkLen >= 1);
        const std::uint64_t rsrcLen = useMacBinary ? forkLen : 0;
        if (dataLen > std::uint64_t(zip::MaxOffset) || rsrcLen > std::uint64_t(zip::MaxOffset)) {
            errmsg = TooLargeText;
            z_detail(lengthOf(item, std::max(dataLen, rsrcLen)));
            return failed;
        }
        const std::int64_t payload =
            useMacBinary ? macbinary::streamLength(std::int64_t(dataLen), std::int64_t(rsrcLen)) : std::int64_t(dataLen);
        if (payload > zip::MaxOffset) {
            errmsg = TooLargeText;
            z_detail(lengthOf(item, std::uint64_t(payload)));
            return failed;
        }
        if (sizeOnly)
            return std::int32_t(payload);

        const std::string type = mac.finderInfo ? mac.finderInfo->type() : FinderInfo().type();
        const std::string creator = mac.finderInfo ? mac.finderInfo->creator() : FinderInfo().creator();
        std::optional<MemoryBlock> header;
        ZipExtraFieldPtr extra;
        if (useMacBinary) {
            const MacItemFacts facts{item.name(), stat.mode, mac.finderInfo};
            header = z_makeMBHdr(std::int32_t(dataLen), std::int32_t(rsrcLen), f.name(), type, creator, stat.created,
                                 stat.modified, &facts);
            extra = MakeZipExtraField(type, creator, f.name());
        } else if (!isFolder) {
            extra = MakeZipExtraField(type, creator, "");
        }
        const bool keepMode = unixPerm && stat.mode != 0;
        const std::int32_t mode = std::int32_t(stat.mode);

        if (parallelWorkers > 0 && !d->monitor) {
            if (name.empty()) {
                errmsg = "Name must not be empty";
                return zipResult::BadName;
            }
            std::string encName = z_pathToEncName(name);
            std::string extraBytes;
            std::int32_t failure = 0;
            ZipEntryPtr entry =
                z_newEntry(ZipConfig::UsePlugin && payload > 0, payload, stat.modified, extra, encName, extraBytes, failure);
            if (!entry)
                return failure;
            if (keepMode) {
                entry->SetOSMadeBy(zip::HostUnix);
                entry->SetExternalFileAttributes((entry->ExternalFileAttributes() & 0xFFFF) | ZipArchiveData::shiftLeft16(mode));
            }
            std::shared_ptr<EntryPayload> source;
            if (!isFolder || payload > 0) {
                using Part = EntryPayload::Part;
                std::vector<Part> parts;
                if (header)
                    parts.push_back({Part::Kind::Bytes, macbinary::HeaderSize, header->toString()});
                if (header && !isFolder) {
                    parts.push_back({Part::Kind::DataFork, dataLen, {}});
                    parts.push_back({Part::Kind::Zeros, std::uint64_t(macbinary::padded(std::int64_t(dataLen))) - dataLen, {}});
                    parts.push_back({Part::Kind::ResourceFork, rsrcLen, {}});
                    parts.push_back({Part::Kind::Zeros, std::uint64_t(macbinary::padded(std::int64_t(rsrcLen))) - rsrcLen, {}});
                } else if (!header) {
                    parts.push_back({Part::Kind::DataFork, dataLen, {}});
                }
                source = std::make_shared<EntryPayload>(item, stat, std::move(parts));
            }
            if (!writeBehind)
                writeBehind = std::make_unique<WriteBehind>(*this, WriteBehind::Limits{parallelWorkers, parallelMemory});
            return writeBehind->add({std::move(entry), std::move(encName), std::move(extraBytes), std::move(source),
                                     ZipConfig::UsePlugin.load()});
        }

        if (!z_settle()) {
            errmsg = writeBehind->failure()->message;
            z_detail(writeBehind->failure()->detail);
            writeBehind->markFailureReported();
            return writeBehind->failure()->code;
        }
        std::unique_ptr<SeqDataInputStream> dataIn;
        std::unique_ptr<RsrcForkReader> rsrcIn;
        std::uint64_t dataRead = dataLen;
        if (!isFolder && dataLen == 0 && !header) {
            // A size of 0 is no promise (kernel files say so and have text): read to the end.
            EntryPayload unsized(item, stat, {{EntryPayload::Part::Kind::DataFork, 0, {}}});
            ByteBuffer bytes;
            if (auto error = unsized.readToEnd(bytes, EntryBuilder::UnsizedLimit)) {
                errmsg = error->message;
                return error->code;
            }
            dataRead = bytes.size();
            dataIn = std::make_unique<BytesReader>(std::move(bytes));
        } else if (!isFolder) {
            itemreadhook::beforeRead(item);
            dataIn = std::make_unique<FileReader>(item);
            // Opened here, where the item is known, so that the failure can say why.
            if (!dataIn->Open()) {
                errmsg = OpenDataText;
                const FolderItem probe = item;
                (void)probe.openAsBinaryFile(false);
                z_detail(reasonFor(item, probe.lastErrorCode()));
                return zipResult::OpenFailed;
            }
        }
        if (rsrcLen > 0)
            rsrcIn = std::make_unique<RsrcForkReader>(item);
        const std::int64_t entryStart = startOfDirInArchive;
        const std::int32_t result = z_zip(dataIn.get(), std::int64_t(dataRead), rsrcIn.get(), std::int64_t(rsrcLen),
                                          header, name, stat.modified, extra);
        // A file that grew while it was read would come back cut to its first length.
        const auto changedMeanwhile = [&] {
            const std::uint64_t now = statItem(item.path()).length;
            return dataLen ? now != dataLen : now != 0 && now != dataRead;
        };
        if (result >= 1 && !isFolder && changedMeanwhile()) {
            d->entries_1.pop_back();
            startOfDirInArchive = entryStart;
            errmsg = "The file \"" + item.displayName() + "\" changed while it was read: it is no longer " +
                     std::to_string(dataLen) + " bytes long";
            return zipResult::ReadWriteError;
        }
        if (keepMode && result >= 1) {
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
    // Device and inode of the folders on the walk's path, to notice one that is already on it (a
    // bind mount of one of its parents).
    std::vector<ItemStat> onPath;
    if (const ItemStat top = statItem(folder.path()); top.kind != FolderItem::Kind::Missing)
        onPath.push_back(top);
    const auto isOnPath = [&](const ItemStat& s) {
        return std::any_of(onPath.begin(), onPath.end(), [&](const ItemStat& p) { return p.sameItemAs(s); });
    };
    // The archive being written may lie inside the folder: it is never added to itself.
    const ItemStat archiveStat = statItem(d->theFile.path());

    // An item of a listing, looked at once. It keeps its path as a plain string: the walk holds
    // the listings of every folder on its way down, and a split path per level grows with the
    // square of the depth.
    struct Child {
        std::string path;
        ItemStat stat;
        bool mayHaveCompanion = false;
        const MacMetadataStore::Probe* mac = nullptr;

        FolderItem item() const { return FolderItem(path); }
    };

    // Adds one item (a file, or a subfolder's own entry); false when the walk must stop.
    std::int64_t total = 0;
    const auto addOne = [&](const Child& child, const FolderItem& item, const std::string& name) {
        const std::int32_t r =
            z_addListed(item, child.stat, child.mayHaveCompanion, name, mbMode, unixPerm, sizeOnly, child.mac);
        if (r < 0 || (r == 0 && !sizeOnly))
            return !z_abort(item, r, errmsg, true);
        if (sizeOnly)
            total += r;
        return true;
    };

    // Lists one folder into `files` and `folders`; false when the walk must stop.
    const auto listOne = [&](const FolderItem& dir, std::vector<Child>& files, std::vector<Child>& folders) {
        // A folder that cannot be listed would come out empty, its contents lost without a
        // word: it fails like a file that cannot be opened.
        std::vector<ListedItem> own;
        const TreeScan::Listing* scanned = scan ? scan->listing(dir.path()) : nullptr;
        const int listError = scanned ? scanned->error : listFolder(dir.path(), own);
        if (listError != 0 && dir.isFolder()) {
            errmsg = "Reading the folder failed";
            z_detail(reasonFor(dir, listError));
            if (z_abort(dir, zipResult::OpenFailed, errmsg, true))
                return false;
        }
        const std::vector<ListedItem>& listing = scanned ? scanned->items : own;
        files.reserve(listing.size());
        for (std::size_t i = 0; i < listing.size(); ++i) {
            const ListedItem& listed = listing[i];
            Child child{dir.child(listed.name).path().native(), listed.stat, listed.companionListed,
                        scanned && scanned->mac[i] ? &*scanned->mac[i] : nullptr};
            switch (listed.stat.kind) {
            case FolderItem::Kind::File:
                if (archiveStat.kind == FolderItem::Kind::Missing || !archiveStat.sameItemAs(listed.stat))
                    files.push_back(std::move(child));
                break;
            case FolderItem::Kind::Folder:
                folders.push_back(std::move(child));
                break;
            case FolderItem::Kind::Missing:
                // Gone meanwhile is fine; one that cannot even be looked at (a path too long)
                // would be lost without a word.
                if (listed.error != ENOENT) {
                    errmsg = "Reading the folder failed";
                    z_detail(reasonFor(child.item(), listed.error));
                    if (z_abort(child.item(), zipResult::OpenFailed, errmsg, true))
                        return false;
                }
                break;
            case FolderItem::Kind::Alias:
                if (followAliases) {
                    if (const auto target = child.item().resolveAlias()) {
                        const ItemStat targetStat = statItem(target->path());
                        if (targetStat.kind == FolderItem::Kind::File)
                            files.push_back({target->path().native(), targetStat, true, nullptr});
                    }
                }
                break;
            default:  // FIFOs, sockets, devices
                break;
            }
            Thread::yieldPoint();
        }
        // Entries of the same name would overwrite each other when the archive is extracted.
        if (!sizeOnly) {
            std::vector<FolderItem> siblings;
            siblings.reserve(files.size() + folders.size());
            for (const Child& c : files)
                siblings.push_back(c.item());
            for (const Child& c : folders)
                siblings.push_back(c.item());
            if (const std::string clash = NameClash(siblings);
                !clash.empty() && z_abort(dir, zipResult::WalkFailed, clash, true))
                return false;
        }
        return true;
    };

    const std::function<bool(const std::string&, const std::string&)> walk = [&](const std::string& dirPath,
                                                                                  const std::string& prefix) {
        const std::string* current = &dirPath;
        std::vector<Child> files;
        std::vector<Child> folders;
        try {
            if (!listOne(FolderItem(dirPath), files, folders))
                return false;
            for (const Child& file : files) {
                current = &file.path;
                const FolderItem item = file.item();
                bool abort = false;
                if (d->monitor)
                    d->monitor->ZipFileStarting(item, abort);
                if (abort)
                    return false;
                if (!addOne(file, item, sizeOnly ? std::string() : prefix + ZipArchiveData::cleanName(item.name())))
                    return false;
                Thread::yieldPoint();
            }
            files = {};
            current = &dirPath;
            for (const Child& sub : folders) {
                current = &sub.path;
                if (isOnPath(sub.stat))
                    continue;  // a loop back to a folder being walked
                std::string subPath;
                {
                    // Let go before the walk goes down: a split path per level would add up.
                    const FolderItem item = sub.item();
                    if (!sizeOnly)
                        subPath = prefix + ZipArchiveData::cleanName(item.name()) + "/";
                    if (!addOne(sub, item, subPath))
                        return false;
                }
                onPath.push_back(sub.stat);
                const bool ok = walk(sub.path, subPath);
                onPath.pop_back();
                if (!ok)
                    return false;
                Thread::yieldPoint();
            }
            return true;
        } catch (const std::exception&) {
            z_abort(FolderItem(*current), zipResult::WalkFailed, "Unexpected error (exception) in 'z_addFolder'", false);
            return false;
        }
    };

    if (!walk(folder.path().native(), path))
        return zipResult::WalkFailed;
    if (!sizeOnly)
        return 0;
    if (total > zip::MaxOffset) {
        errmsg = "The folder is too large for a zip archive (2 GB or more)";
        return zipResult::WalkFailed;
    }
    return total;
}

void ZipArchive::WriteInParallel(unsigned workers, std::size_t memoryBound)
{
    z_settle();
    parallelWorkers = workers;
    parallelMemory = memoryBound;
    writeBehind.reset();
}

} // namespace lv
