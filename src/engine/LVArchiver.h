#pragma once
// Opens the work archive "Lockvane.zip" and hands it to a zip worker: for writing before an
// encryption (on the process-wide archiving worker), for reading after a decryption (on a fresh
// worker per extraction).

#include <memory>
#include <string>
#include <vector>

#include "engine/ZipThread.h"
#include "platform/FolderItem.h"
#include "platform/gui/JobControls.h"

namespace lv {

class ExtractionJob;
class LVEncryptor;
class ZipThread;

class LVArchiver {
public:
    // `archivingWorker` is the worker every archiving runs on; it must outlive this object.
    explicit LVArchiver(ZipThread& archivingWorker) : m_worker(archivingWorker) {}

    // Replaces the work archive in the caller's work folder with a new, empty one and starts the
    // archiving worker adding `items` to it; the worker then runs the caller's encryption stage.
    // False, with the reason in `error`, when the archive cannot be created.
    bool Archive(const std::vector<FolderItem>& items, LVEncryptor& caller, std::string& error);

    // Opens the work archive in `workFolder` for reading and starts a new zip worker extracting
    // every entry through `job`, reporting through `controls`. The worker, which the caller waits
    // for or kills; nullptr, with the reason in `error`, when the archive cannot be opened.
    std::unique_ptr<ZipThread> UnArchive(std::shared_ptr<ExtractionJob> job, const FolderItem& workFolder,
                                         const JobControls& controls, std::string& error);

    // Stops the archiving worker wherever it is (adding items, closing the archive or running
    // the encryption stage).
    void Cancel();

    ZipThread& worker() noexcept { return m_worker; }

private:
    ZipThread& m_worker;
};

} // namespace lv
