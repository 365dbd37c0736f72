#include "engine/LVArchiver.h"

#include "engine/JobSettings.h"
#include "engine/LVEncryptor.h"
#include "engine/ZipThread.h"
#include "platform/WorkerPool.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv {

bool LVArchiver::Archive(const std::vector<FolderItem>& items, LVEncryptor& caller, std::string& error)
{
    FolderItem zipFile = caller.workFolder().child(WorkArchiveName);
    // A stale archive must go: opening an existing one for writing would append to it.
    zipFile.remove();
    if (zipFile.exists()) {
        error = "The old work archive \"" + zipFile.shellPath() + "\" could not be removed: " + zipFile.lastErrorText();
        return false;
    }
    auto archive = std::make_unique<ZipArchive>();
    if (!archive->Open(zipFile, true)) {
        error = archive->ErrorMessage();
        return false;
    }
    ZipConfig::UsePlugin = caller.settings().compress;
    // Files and folders come back with the permissions they had.
    archive->PreserveUnixPermissions(true);
    const JobSettings& settings = caller.settings();
    archive->UseScan(caller.scan());
    archive->WriteInParallel(settings.archiveWorkers ? settings.archiveWorkers : WorkerPool::hardwareThreads(),
                             settings.archiveMemory);
    m_worker.Compress(std::move(archive), items, false, ZipArchive::MacBinarySmart, caller);
    return true;
}

std::unique_ptr<ZipThread> LVArchiver::UnArchive(std::shared_ptr<ExtractionJob> job, const FolderItem& workFolder,
                                                 const JobControls& controls, std::string& error)
{
    auto archive = std::make_unique<ZipArchive>();
    if (!archive->Open(workFolder.child(WorkArchiveName), false)) {
        error = archive->ErrorMessage();
        return nullptr;
    }
    auto worker = std::make_unique<ZipThread>();
    worker->Decompress(std::move(archive), std::move(job), controls);
    return worker;
}

void LVArchiver::Cancel()
{
    // The worker cancelling itself would end on the spot; its own checkpoints do that job.
    if (Thread::current() != &m_worker) m_worker.kill();
}

} // namespace lv
