#include "engine/ZipThread.h"

#include "engine/LVEncryptor.h"
#include "engine/ScopeExit.h"
#include "zip/ExtractionJob.h"
#include "zip/ParallelExtraction.h"
#include "zip/ZipArchive.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

ZipThread::StepHook g_stepHook;

void step(bool archiving, std::int32_t index)
{
    if (g_stepHook) g_stepHook(archiving, index);
}

// What the user needs to know beyond the entry's message.
std::string explanationOf(const ZipEntry& entry)
{
    if (entry.LeadsOutside())
        return "The name \"" + entry.RawPath() + "\" leads outside the destination folder.";
    return {};
}

} // namespace

void ZipThread::setStepHookForTesting(StepHook hook) { g_stepHook = std::move(hook); }

ZipThread::ZipThread() = default;

ZipThread::~ZipThread()
{
    // The run uses this object's fields: it must end before they go.
    kill();
    wait();
}

void ZipThread::Compress(std::unique_ptr<ZipArchive> archive, std::vector<FolderItem> items, bool follow,
                         std::int32_t mbMode, LVEncryptor& job)
{
    zar = std::move(archive);
    source = std::move(items);
    followAliases = follow;
    mb_mode = mbMode;
    caller = &job;
    m_controls = job.controls();
    doCompress = true;
    start();
}

void ZipThread::Decompress(std::unique_ptr<ZipArchive> archive, std::shared_ptr<ExtractionJob> job,
                           JobControls controls)
{
    zar = std::move(archive);
    m_extraction = std::move(job);
    caller = nullptr;
    m_controls = controls;
    doCompress = false;
    m_extracted = false;
    m_failureShown = false;
    m_failureText.clear();
    start();
}

void ZipThread::execute()
{
    ScopeExit closeArchive([this] { zar.reset(); });
    if (doCompress)
        compressTask();
    else
        decompressTask();
}

void ZipThread::compressTask()
{
    LVEncryptor& job = *caller;
    bool succeeded = false;
    // On every way out, a cancellation included: the work files go and the key is wiped.
    ScopeExit endStage([&] {
        zar.reset();
        job.endEncryptionStage(succeeded);
        job.markStopped();
    });
    try {
        // The encryption stage follows the archive as its bytes become final.
        zar->SetFinalBytesListener([&job](std::int64_t end, std::int64_t held) { job.archiveBytesFinal(end, held); });
        bool failed = false;
        std::int32_t index = 0;
        for (const FolderItem& item : source) {
            step(true, ++index);
            job.checkpoint();
            const std::int32_t added = zar->AddItemToRoot(item, mb_mode);
            if (added < 1) {
                failed = true;
            } else if (item.isFolder()) {
                // The folder entry's own name, without waiting for the entries written behind.
                failed = !zar->AddFolderContents(item, ZipArchive::CleanName(item.name()), mb_mode, followAliases);
            }
            if (failed) {
                showError(zar->ErrorMessage(), zar->ErrorDetail());
                break;
            }
        }
        job.checkpoint();
        if (!failed && !zar->Close()) {
            showError(zar->ErrorMessage(), zar->ErrorDetail());
            failed = true;
        }
        zar.reset();
        // An archive that misses items must not become an encrypted file that looks complete.
        if (failed) {
            job.endEncryptionStage(false);
            job.endInFailure({}, {});
            return;
        }
        std::string error;
        succeeded = job.EncryptTask(error);
        if (!succeeded) {
            job.endEncryptionStage(false);
            job.endInFailure(LVEncryptor::StageErrorText, error);
        }
    } catch (const std::exception& e) {
        zar.reset();
        job.endEncryptionStage(false);
        job.endInFailure(LVEncryptor::StageErrorText, e.what());
    }
}

void ZipThread::decompressTask()
{
    const auto fail = [this](const std::string& message, const std::string& explanation = {}) {
        showError(message, explanation);
        m_failureShown = true;
    };
    try {
        double sum = 0;
        const std::int32_t count = zar->EntryCount();
        for (std::int32_t i = 1; i <= count; ++i) sum += double(std::uint32_t(zar->Entry(i)->Size()));
        setTotal(sum);
        // A job that cannot fit fails before it writes anything.
        if (const std::string refused = m_extraction->checkRoom(*zar); !refused.empty()) return fail(refused);

        std::optional<ParallelExtraction::Failure> failure;
        {
            // The entries go to a pool of threads; each one done is reported here.
            ParallelExtraction pool(*zar, *m_extraction);
            ParallelExtraction::StepHook hook;
            if (g_stepHook) hook = [](std::int32_t index) { step(false, index); };
            failure = pool.run(hook, [this](ZipEntry& entry) {
                bool abort = false;
                zipProgress(entry, entry.Size(), entry.Size(), abort);
            });
        }
        if (failure && failure->exception) {
            m_failureText = failure->message;
            return;
        }
        if (failure) return fail(failure->message, explanationOf(*zar->Entry(failure->index)));
        if (!zar->Close()) return fail(zar->ErrorMessage());
        // Nothing taken from what was extracted, nothing of it left without its dates and modes.
        if (std::string error; !m_extraction->finish(error)) return fail(error);
        m_extracted = true;
    } catch (const std::exception& e) {
        m_failureText = e.what();
    }
}

void ZipThread::setTotal(double value)
{
    total = value;
    finished = 0;
}

void ZipThread::showError(const std::string& message, const std::string& explanation)
{
    if (m_controls.messages) m_controls.messages->show(MessageBox::Request{message, explanation, {}, 0, -1});
}

void ZipThread::zipProgress(ZipEntry&, std::int32_t entryTotal, std::int32_t done, bool&)
{
    if (done == entryTotal) finished += entryTotal;
}

void ZipThread::ZipFileError(const FolderItem&, std::int32_t, const std::string&, bool&) {}

void ZipThread::ZipFileStarting(const FolderItem&, bool&) {}

} // namespace lv
