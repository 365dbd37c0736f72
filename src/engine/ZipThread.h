#pragma once
// The zip worker. On the encryption road it adds the chosen items to the work archive, closes it
// and runs the encryption stage of its caller on its own thread; on the decryption road it
// extracts every entry of the deciphered archive into the destination folder.
//
// It is also the archive's progress notifier, although no archive is given it as monitor: it only
// counts the bytes of entries reported complete.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/FolderItem.h"
#include "platform/Thread.h"
#include "platform/gui/JobControls.h"
#include "zip/ZipProgressNotifier.h"

namespace lv {

class ExtractionJob;
class LVEncryptor;
class ZipArchive;

class ZipThread : public Thread, public ZipProgressNotifier {
public:
    ZipThread();
    ~ZipThread() override;

    // Starts adding `items` to `archive` (each at the root, a folder with its whole contents),
    // closing it, then `caller.EncryptTask`; meanwhile the caller's encryption stage follows the
    // archive as its bytes become final. Returns at once.
    void Compress(std::unique_ptr<ZipArchive> archive, std::vector<FolderItem> items, bool followAliases,
                  std::int32_t mbMode, LVEncryptor& caller);
    // Starts extracting every entry of `archive` through `job` (which the caller keeps, to remove
    // what it created when the job fails), on a pool of threads, one per core; errors are shown
    // through `controls`. Nothing is extracted when the entries cannot fit on the destination's
    // file system. Returns at once; `extracted` tells the outcome once the run has ended.
    void Decompress(std::unique_ptr<ZipArchive> archive, std::shared_ptr<ExtractionJob> job, JobControls controls);

    // After an extraction run: true when every entry was extracted and the archive closed.
    bool extracted() const noexcept { return m_extracted; }
    // After a failed extraction: true when its message has been shown already; otherwise
    // `failureText` says what went wrong.
    bool failureShown() const noexcept { return m_failureShown; }
    const std::string& failureText() const noexcept { return m_failureText; }

    void setTotal(double total);
    double finishedBytes() const noexcept { return finished; }
    double totalBytes() const noexcept { return total; }

    // Shows the archive's message, with what it concerns and why as the box's explanation.
    void showError(const std::string& message, const std::string& explanation = {});

    // Test hook: called on the worker before each item it adds (`archiving` true) and each entry
    // it extracts (on the thread of the pool that extracts it), with the 1-based step number.
    // Set it only while no worker runs.
    using StepHook = std::function<void(bool archiving, std::int32_t step)>;
    static void setStepHookForTesting(StepHook hook);

    void zipProgress(ZipEntry& entry, std::int32_t total, std::int32_t done, bool& abort) override;
    void ZipFileError(const FolderItem& file, std::int32_t code, const std::string& message, bool& stop) override;
    void ZipFileStarting(const FolderItem& file, bool& abort) override;

protected:
    void execute() override;

private:
    void compressTask();
    void decompressTask();

    bool doCompress = false;
    std::unique_ptr<ZipArchive> zar;
    std::shared_ptr<ExtractionJob> m_extraction;
    bool followAliases = false;
    std::int32_t mb_mode = 0;
    std::vector<FolderItem> source;
    double finished = 0;
    double total = 0;
    LVEncryptor* caller = nullptr;
    JobControls m_controls;

    bool m_extracted = false;
    bool m_failureShown = false;
    std::string m_failureText;
};

} // namespace lv
