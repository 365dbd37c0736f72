#include "zip/ZipArchive.h"

#include <system_error>

#include "platform/Exceptions.h"
#include "zip/WriteBehind.h"

namespace lv {

ZipArchive::ZipArchive()
{
    z_setup();
}

void ZipArchive::z_setup()
{
    d = std::make_shared<ZipArchiveData>();
    d->copyChunkSize = 16384;
}

ZipArchive::~ZipArchive()
{
    const bool createdAndOpen = d && d->zipStream && justCreated;
    // An archive dropped without Close is nobody's to read.
    finalBytesListener = nullptr;
    bool closed = false;
    try {
        closed = Close();
    } catch (...) {
        // Also a thread end while the directory was written: the file is incomplete.
        closed = false;
    }
    writeBehind.reset();
    if (!closed && createdAndOpen)
        d->theFile.remove();
    if (d) {
        d->zipStream.reset();
        d->entries_1.assign(1, nullptr);
    }
}

std::string ZipArchive::z_writeFailureDetail(int err) const
{
    return "The archive \"" + d->theFile.displayName() + "\" could not be written in the folder \"" +
        d->theFile.parent().displayPath() + "\": " + std::generic_category().message(err ? err : EIO);
}

bool ZipArchive::Open(const FolderItem& file, bool forWrite)
{
    return Open(file, forWrite, EncodedAsUnicode());
}

bool ZipArchive::Open(const FolderItem& file, bool forWrite, std::optional<TextEncoding> encoding)
{
    errmsg.clear();
    try {
        if (entriesRead)
            throw RuntimeException("The archive is already open");
        if (file.isNull()) {
            errmsg = "No file specified";
            return false;
        }
        d->theFile = file;
        d->setArchiveEncoding(encoding);
        d->entries_1.assign(1, nullptr);
        d->dittoFormat = false;
        startOfDirInArchive = 0;
        dirCacheCount = -1;
        comment_.clear();
        centralDirCorrupted = false;
        writeMode = false;

        bool result = false;
        if (forWrite && !file.exists()) {
            // The archive holds the plain contents of the items: private to the user.
            d->zipStream = d->theFile.createBinaryFile(0600);
            if (!d->zipStream) {
                errmsg = "Creating the archive file failed";
                return false;
            }
            d->zipStream->setLittleEndian(true);
            entriesRead = true;
            justCreated = true;
            result = true;
        } else {
            d->zipStream = file.openAsBinaryFile(forWrite);
            if (!d->zipStream) {
                errmsg = "Opening the archive file failed";
                return false;
            }
            d->zipStream->setLittleEndian(true);
            z_readDirectory();
            result = entriesRead;
            if (!result) {
                d->zipStream->close();
                d->zipStream.reset();
                d->entries_1.assign(1, nullptr);
            }
        }
        // An archive whose AppleDouble companions were folded into their partners is not
        // rewritten: a new directory would no longer record the companions, and their data
        // (resource forks, Finder information) would be lost from the archive.
        writeMode = forWrite && result && !centralDirCorrupted && !d->dittoFormat;
        if (writeMode)
            d->dirty = true;
        return result;
    } catch (const std::exception&) {
        errmsg = "Unexpected error (exception)";
        return false;
    }
}

bool ZipArchive::z_settle() const
{
    return !writeBehind || writeBehind->drain();
}

void ZipArchive::SetProgressMonitor(ZipProgressNotifier* monitor)
{
    z_settle();
    d->monitor = monitor;
}

bool ZipArchive::Close()
{
    if (!d || !d->zipStream)
        return true;
    bool ok = true;
    // Entries written behind go in first; a failure no add has reported yet is reported here.
    if (writeBehind) {
        if (!writeBehind->drain() && !writeBehind->failureReported()) {
            errmsg = writeBehind->failure()->message;
            z_detail(writeBehind->failure()->detail);
            writeBehind->markFailureReported();
            ok = false;
        }
        writeBehind.reset();
    }
    // An archive that is not writable is never written, whatever was edited in memory.
    if (writeMode)
        ok = z_writeDirectory() && ok;
    else
        d->dirty = false;
    const std::int64_t length = std::int64_t(d->zipStream->length());
    if (!d->zipStream->close() && writeMode && ok) {
        errmsg = "Closing the archive file failed";
        ok = false;
    }
    d->zipStream.reset();
    d->entries_1.assign(1, nullptr);
    entriesRead = false;
    justCreated = false;
    marked = false;
    if (ok && writeMode && finalBytesListener)
        finalBytesListener(length, NothingHeld);
    return ok;
}

ZipEntryPtr ZipArchive::Entry(std::int32_t index) const
{
    if (!entriesRead)
        throw RuntimeException("The archive is not open");
    z_settle();
    if (index < 1 || index > d->entryCount())
        throw OutOfBoundsException();
    return d->entries_1[std::size_t(index)];
}

std::int32_t ZipArchive::EntryCount() const
{
    if (!entriesRead)
        throw RuntimeException("The archive is not open");
    z_settle();
    return d->entryCount();
}

} // namespace lv
