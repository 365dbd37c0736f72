#include "engine/LVEncryptor.h"

#include <botan/mem_ops.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <set>
#include <system_error>

#include "engine/CipherSuite.h"
#include "engine/LVArchiver.h"
#include "engine/Notices.h"
#include "engine/OutputName.h"
#include "engine/ScopeExit.h"
#include "engine/WorkFolder.h"
#include "engine/ZipThread.h"
#include "engine/crypto/EncryptionKeys.h"
#include "engine/crypto/SHA_512.h"
#include "platform/Exceptions.h"
#include "platform/LeftoverRecords.h"
#include "platform/SpecialFolders.h"
#include "platform/StageClock.h"
#include "platform/TreeScan.h"
#include "platform/WorkerPool.h"
#include "zip/ExtractionJob.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv {

namespace {

constexpr std::chrono::milliseconds ExtractionPoll{20};
constexpr std::chrono::milliseconds KeysPoll{5};
constexpr std::size_t DigestSize = 64;

std::string quoted(const FolderItem& f)
{
    std::string out = "\"";
    out.append(f.displayName()).push_back('"');
    return out;
}

std::string failureOf(const std::string& what, const FolderItem& f)
{
    return what + " " + quoted(f) + ": " + f.lastErrorText();
}

// A work file that could not be written, with its folder: a full one must say which one filled.
std::string writeFailure(const FolderItem& f, const BinaryStream& s)
{
    return "The work file " + quoted(f) + " could not be written in the folder \"" + f.parent().displayPath() +
        "\": " + std::generic_category().message(s.lastErrorCode());
}

} // namespace

LVEncryptor::~LVEncryptor()
{
    Kill();
    waitForJob();
}

// --- starting, stopping, waiting -----------------------------------------------------------------

void LVEncryptor::beginJob(LVArchiver& archiver, JobControls controls, JobSettings settings)
{
    if (isBusy() || archiver.worker().isRunning()) {
        if (!jobCancelled()) throw RuntimeException("A job is still running");
        waitForJob();
        archiver.worker().wait();
    }
    m_archiver = &archiver;
    m_gate = std::make_shared<JobGate>(controls);
    m_settings = std::move(settings);
    m_outcome = JobOutcome::Running;
    m_handedOver = false;
    m_progressShift = 0;
    m_keys.reset();
    m_retiredKeys.reset();
    {
        std::lock_guard lock(m_mutex);
        m_extraction.reset();
    }
}

void LVEncryptor::Encrypt(std::vector<FolderItem> items, FolderItem target, std::string cipher, std::string key,
                          LVArchiver& archiver, JobControls controls, JobSettings settings)
{
    beginJob(archiver, controls, std::move(settings));
    DoEncrypt = true;
    Target = std::move(target);
    Source = std::move(items);
    Method = std::move(cipher);
    wipeKey();
    Key = std::move(key);
    start();
}

void LVEncryptor::Decrypt(FolderItem file, FolderItem destFolder, std::string cipher, std::string key,
                          const LVTagger& header, LVArchiver& archiver, JobControls controls, JobSettings settings,
                          std::unique_ptr<BodyCipher> preparedBody)
{
    beginJob(archiver, controls, std::move(settings));
    DoEncrypt = false;
    Target = std::move(destFolder);
    zSource = std::move(file);
    m_tagLength = header.TagLength;
    Method = std::move(cipher);
    wipeKey();
    Key = std::move(key);
    // After the wipe, which drops a prepared body: this one saves a second key derivation.
    m_preparedBody = std::move(preparedBody);
    start();
}

void LVEncryptor::Kill()
{
    if (m_gate) m_gate->close();
    markStopped();
    if (m_archiver) m_archiver->Cancel();
    // Killing itself would end the caller on the spot; its next checkpoint sees the closed gate.
    if (Thread::current() != this) kill();
}

void LVEncryptor::markStopped() noexcept
{
    JobOutcome running = JobOutcome::Running;
    m_outcome.compare_exchange_strong(running, JobOutcome::Cancelled);
}

bool LVEncryptor::jobCancelled() const { return m_gate && !m_gate->isOpen(); }

bool LVEncryptor::isBusy() const
{
    return isRunning() || (m_archiver && m_handedOver && m_archiver->worker().isRunning());
}

JobOutcome LVEncryptor::waitForJob()
{
    wait();
    if (m_archiver && m_handedOver) m_archiver->worker().wait();
    return m_outcome.load();
}

void LVEncryptor::waitUntilIdle()
{
    waitForJob();
    m_retiredKeys.reset();  // joins their thread
}

FolderItem LVEncryptor::extractionFolder() const
{
    std::lock_guard lock(m_mutex);
    return m_extraction ? m_extraction->root() : FolderItem();
}

void LVEncryptor::checkpoint() const
{
    Thread::yieldPoint();
    if (jobCancelled()) throw ThreadEnd{};
}

JobControls LVEncryptor::controls() const { return m_gate ? m_gate->controls() : JobControls{}; }

FolderItem LVEncryptor::workFolder() const { return m_settings.workFolder; }

void LVEncryptor::wipeKey() noexcept
{
    if (!Key.empty()) Botan::secure_scrub_memory(Key.data(), Key.size());
    Key.clear();
    m_preparedBody.reset();
}

void LVEncryptor::awaitEngineThread()
{
    if (Thread::current() != this) wait();
}

// --- progress ------------------------------------------------------------------------------------

void LVEncryptor::setMaximum(std::uint64_t length)
{
    // The bar takes 32-bit values: large files are shown in coarser steps.
    std::uint32_t shift = 0;
    while ((length >> shift) > std::uint64_t(std::numeric_limits<std::int32_t>::max())) ++shift;
    m_progressShift = shift;
    if (auto* bar = controls().progress) bar->setMaximum(std::int32_t(length >> shift));
}

void LVEncryptor::showProgress(std::uint64_t position, std::uint64_t)
{
    if (auto* bar = controls().progress) bar->setValue(std::int32_t(position >> m_progressShift));
}

// --- the end of a job ----------------------------------------------------------------------------

void LVEncryptor::endInFailure(const std::string& message, const std::string& explanation)
{
    JobOutcome running = JobOutcome::Running;
    m_outcome.compare_exchange_strong(running, JobOutcome::Failed);
    const JobControls c = controls();
    if (!message.empty() && c.messages) c.messages->show(MessageBox::Request{message, explanation, {}, 0, -1});
    if (m_archiver) m_archiver->Cancel();
    if (c.window) c.window->resetWindow();
    if (m_settings.notificationsOn)
        Notices::post(c.notifier, DoEncrypt ? Notices::EncryptionError : Notices::DecryptionError);
}

void LVEncryptor::finishJob(bool encrypting)
{
    m_outcome = JobOutcome::Succeeded;
    const JobControls c = controls();
    if (c.status) c.status->setText(encrypting ? EncryptionFinishedText : DecryptionCompleteText);
    if (!encrypting) {
        setMaximum(1);
        showProgress(1, 1);
    }
    if (m_settings.notificationsOn)
        Notices::post(c.notifier, encrypting ? Notices::EncryptionFinished : Notices::DecryptionFinished);
    if (c.button) {
        c.button->setCaption("OK");
        c.button->setDefault(true);
    }
    // The attention request is made and withdrawn at once.
    if (m_settings.bounce && c.attention) c.attention->requestAttention();
}

void LVEncryptor::endEncryptionStage(bool succeeded)
{
    awaitEngineThread();
    // Its threads end before the files they use go.
    m_encryption.reset();
    m_workOut.reset();
    m_stageError.clear();
    if (!m_settings.workFolder.isNull()) {
        m_settings.workFolder.child(WorkArchiveName).remove();
        if (!succeeded) m_settings.workFolder.child(WorkFileName).remove();
    }
    m_work.reset();
    m_scan.reset();
    wipeKey();
    wipeDigest();
    // A Cancel does not wait for derivations under way.
    if (m_keys) {
        m_keys->abandon();
        m_retiredKeys = std::move(m_keys);
    }
}

bool LVEncryptor::claimWorkFolder(std::uint64_t bytesNeeded, std::string& error)
{
    const std::vector<std::filesystem::path> candidates =
        m_settings.workFolder.isNull() ? SpecialFolders::temporaryCandidates()
                                       : std::vector<std::filesystem::path>{m_settings.workFolder.path()};
    m_work = WorkFolder::claim(candidates, bytesNeeded, error);
    if (!m_work) return false;
    m_settings.workFolder = m_work->folder();
    return true;
}

// --- the engine thread ---------------------------------------------------------------------------

void LVEncryptor::execute()
{
    const bool encrypting = DoEncrypt;
    bool succeeded = false;
    bool cleaned = false;
    auto cleanUp = [&] {
        if (cleaned) return;
        cleaned = true;
        if (encrypting) {
            // Once the archiving worker has the job, the work files and the key are its own.
            if (!m_handedOver) endEncryptionStage(false);
            return;
        }
        if (!m_settings.workFolder.isNull()) m_settings.workFolder.child(WorkArchiveName).remove();
        if (!succeeded) {
            std::shared_ptr<ExtractionJob> extraction;
            {
                std::lock_guard lock(m_mutex);
                extraction = m_extraction;
            }
            // Only what the job made goes; anything else in its folder stays. The record goes only
            // with all of it: otherwise the next start removes the folder.
            if (!extraction || extraction->removeCreated()) m_stagingRecord.drop();
        }
        m_stagingRecord = LeftoverRecord();
        m_work.reset();
        wipeKey();
    };
    ScopeExit onExit([&] {
        cleanUp();
        if (!encrypting || !m_handedOver) markStopped();
    });

    std::string error;
    m_failureShown = false;
    try {
        succeeded = encrypting ? EncryptStart(error) : DecryptTask(error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (succeeded) return;
    cleanUp();
    if (m_failureShown)
        endInFailure({}, {});
    else
        endInFailure(encrypting ? EncryptionFailedText : DecryptionFailedText, error);
}

bool LVEncryptor::EncryptStart(std::string& error)
{
    StageClock::begin("job");
    setMaximum(0);
    if (auto* status = controls().status) status->setText(m_settings.compress ? CompressingText : ArchivingText);
    if (!CipherSuite::isKnown(Method)) {
        error = "Unknown cipher \"" + Method + "\".";
        return false;
    }
    // The derivations begin first, beside everything else; the archiving worker takes their
    // results when they are ready.
    StageClock::begin("key derivations");
    m_keys = std::make_unique<EncryptionKeys>(Method, Key);
    // One look at every item, on every core: the room the job needs, and what the archiving
    // then takes instead of looking again.
    StageClock::begin("scan");
    m_scan = TreeScan::run(Source, WorkerPool::hardwareThreads(), [this] { return jobCancelled(); });
    StageClock::end("scan");
    checkpoint();
    if (!m_scan || !claimWorkFolder(WorkFolder::encryptionNeed(*m_scan), error)) return false;
    // An item chosen twice is archived once; other items of the same name would overwrite each
    // other in the decrypted folder.
    std::set<std::filesystem::path> chosen;
    std::erase_if(Source,
                  [&](const FolderItem& item) { return !chosen.insert(item.path().lexically_normal()).second; });
    error = ZipArchive::NameClash(Source);
    if (!error.empty()) return false;
    checkpoint();
    StageClock::begin("archiving");
    if (!m_archiver->Archive(Source, *this, error)) return false;
    m_handedOver = true;
    return true;
}

// --- the encryption stage, on the archiving worker -----------------------------------------------

bool LVEncryptor::beginEncryptionStage(std::string& error)
{
    awaitEngineThread();
    TEMPtarget = workFolder().child(WorkFileName);
    zSource = workFolder().child(WorkArchiveName);
    // The header goes in once the key's digest is made; the body begins where it will end.
    m_workOut = TEMPtarget.createBinaryFile(0600);
    if (!m_workOut) {
        error = failureOf("The work file could not be created", TEMPtarget);
        return false;
    }
    m_workOut->setPosition(LVTagger::headerBytes(Method, std::string(DigestSize, '\0')).size());

    std::string bodyHeader;
    std::unique_ptr<BodyCipher> cipher = m_keys ? m_keys->takeCipher(bodyHeader) : nullptr;
    if (!cipher) {
        cipher = CipherSuite::makeEncryptor(Method, Key);
        if (!cipher) {
            error = "Unknown cipher \"" + Method + "\".";
            return false;
        }
        bodyHeader = cipher->beginSegments();
    }
    m_encryption = std::make_unique<BodyEncryption>(std::move(cipher), bodyHeader, zSource, *m_workOut, TEMPtarget);
    StageClock::begin("enciphering");
    return true;
}

void LVEncryptor::archiveBytesFinal(std::int64_t end, std::int64_t held)
{
    // The keys take a while; the archiving worker never waits for them here.
    if (!m_encryption && m_stageError.empty() && m_keys && m_keys->cipherReady()) {
        try {
            if (!beginEncryptionStage(m_stageError) && m_stageError.empty()) m_stageError = StageErrorText;
        } catch (const std::exception& e) {
            m_stageError = e.what();
        }
    }
    if (m_encryption) {
        if (!m_encryption->hasOuterHeader() && m_keys && m_keys->digestReady()) provideOuterHeader();
        m_encryption->available(std::uint64_t(end), held);
    }
}

void LVEncryptor::provideOuterHeader()
{
    if (!m_digest) {
        m_digest = m_keys ? m_keys->takeDigest() : std::nullopt;
        if (!m_digest) {
            SHA_512 hash;
            hash.Update(Key);
            m_digest = hash.Final();
        }
    }
    m_encryption->setOuterHeader(LVTagger::headerBytes(Method, *m_digest));
    // Both derivations are done: the key is needed no more.
    wipeKey();
}

void LVEncryptor::wipeDigest() noexcept
{
    if (m_digest) Botan::secure_scrub_memory(m_digest->data(), m_digest->size());
    m_digest.reset();
}

void LVEncryptor::awaitKeys(bool digest)
{
    while (m_keys && !(digest ? m_keys->digestReady() : m_keys->cipherReady())) {
        checkpoint();
        Thread::sleepFor(KeysPoll);
    }
}

bool LVEncryptor::EncryptTask(std::string& error)
{
    if (!m_stageError.empty()) {
        error = m_stageError;
        return false;
    }
    StageClock::end("archiving");
    awaitKeys(false);
    if (!m_encryption && !beginEncryptionStage(error)) return false;
    const std::uint64_t length = zSource.length();
    m_encryption->complete(length);
    // Every segment's tag binds the header, which needs the key's digest.
    awaitKeys(true);
    StageClock::end("key derivations");
    if (!m_encryption->hasOuterHeader()) provideOuterHeader();
    setMaximum(length);
    if (auto* status = controls().status) status->setText(EncryptingText);
    showProgress(m_encryption->done(), length);
    const auto idle = [&] {
        checkpoint();
        showProgress(m_encryption->done(), length);
    };
    if (!m_encryption->finish(idle, error)) return false;
    StageClock::end("enciphering");
    showProgress(length, length);

    LVTagger tagger;
    tagger.EncryptionType = Method;
    tagger.q = *m_digest;
    wipeDigest();
    const bool tagged = tagger.CreateTagWithDigest(TEMPtarget);
    if (!tagged || std::uint64_t(tagger.TagLength) + m_encryption->bodyLength() != TEMPtarget.length()) {
        error = failureOf("The header could not be written to", TEMPtarget);
        return false;
    }
    if (!m_workOut->sync() || !m_workOut->close()) {
        error = writeFailure(TEMPtarget, *m_workOut);
        return false;
    }
    m_encryption.reset();
    m_workOut.reset();
    checkpoint();

    // Never replaces a file that appeared at the target meanwhile; works across file systems.
    StageClock::begin("moving");
    FolderItem moved = TEMPtarget;
    const LeftoverRecords records = LeftoverRecords::user();
    bool saved = moved.moveTo(Target, &records);
    // A file that took the chosen name meanwhile stays; the next free name is used.
    for (int tries = 0; !saved && moved.lastErrorCode() == EEXIST && !m_settings.outputBaseName.empty() && tries < 100;
         ++tries) {
        const FolderItem next =
            OutputName::firstFree(Target.parent(), m_settings.outputBaseName, m_settings.outputExtension);
        if (next.isNull()) break;
        Target = next;
        saved = moved.moveTo(Target, &records);
    }
    if (!saved) {
        error = "The encrypted file could not be saved as \"" + Target.shellPath() + "\": " + moved.lastErrorText();
        return false;
    }
    StageClock::end("moving");
    zSource.remove();
    wipeKey();
    StageClock::end("job");
    finishJob(true);
    return true;
}

// --- the decryption road, on the engine thread ---------------------------------------------------

bool LVEncryptor::DecryptTask(std::string& error)
{
    if (!claimWorkFolder(WorkFolder::decryptionNeed(zSource), error)) return false;
    BinaryStreamPtr in = zSource.isFile() ? zSource.openAsBinaryFile(false) : nullptr;
    if (!in) {
        error = zSource.exists() ? failureOf("The encrypted file could not be opened", zSource)
                                 : "The encrypted file " + quoted(zSource) + " no longer exists.";
        return false;
    }
    const std::uint64_t length = in->length();
    const std::uint64_t bodyStart = std::uint64_t(std::max<std::int32_t>(m_tagLength, 0));
    in.reset();
    setMaximum(length);
    if (auto* status = controls().status) status->setText(DecryptingText);

    FolderItem archiveFile = workFolder().child(WorkArchiveName);
    std::unique_ptr<BodyCipher> cipher = std::move(m_preparedBody);
    const bool begun = cipher != nullptr;
    if (!cipher) cipher = CipherSuite::makeDecryptor(Method, Key);
    // The cipher object holds what it needs of the key (and wipes it once derived).
    wipeKey();
    if (!cipher) {
        error = "The file names an unknown cipher.";
        return false;
    }
    BinaryStreamPtr out = archiveFile.createBinaryFile(0600);
    if (!out) {
        error = failureOf("The work archive could not be created", archiveFile);
        return false;
    }
    // A changed or cut body: what was deciphered so far is no archive of the user's; the clean-up
    // deletes it.
    const auto progress = [&](std::uint64_t position) { showProgress(position, length); };
    if (!decryptBody(*cipher, begun, zSource, bodyStart, length, *out, archiveFile, progress, [&] { checkpoint(); },
                     error))
        return false;
    // The body's master key goes with the cipher object, before anything is extracted.
    cipher.reset();
    if (!out->close()) {
        error = writeFailure(archiveFile, *out);
        return false;
    }
    wipeKey();
    // The whole body is authentic: only now does anything reach the destination.
    setMaximum(0);
    if (auto* status = controls().status) status->setText(UnarchivingText);
    checkpoint();

    ZipConfig::UsePlugin = true;
    std::shared_ptr<ExtractionJob> extraction = ExtractionJob::claimStagingFolder(Target, DecryptedFolderName, error);
    if (!extraction) return false;
    {
        std::lock_guard lock(m_mutex);
        m_extraction = extraction;
    }
    const LeftoverRecords records = LeftoverRecords::user();
    int recordError = 0;
    m_stagingRecord = records.record(extraction->root().path(), recordError);
    if (!m_stagingRecord) {
        error = "Nothing could be extracted into " + quoted(Target) + ": the record that has a crashed job's files "
                "removed could not be written in \"" + FolderItem(records.folder()).displayPath() + "\": " +
            std::generic_category().message(recordError);
        return false;
    }
    std::unique_ptr<ZipThread> extractor =
        LVArchiver(m_archiver->worker()).UnArchive(extraction, workFolder(), controls(), error);
    if (!extractor) return false;
    // The job ends when the extraction has: a Cancel meanwhile stops it too (the extractor's
    // destructor kills it and waits).
    while (extractor->isRunning()) Thread::sleepFor(ExtractionPoll);
    extractor->wait();
    if (!extractor->extracted()) {
        m_failureShown = extractor->failureShown();
        error = extractor->failureText();
        return false;
    }
    if (!extraction->publish(error)) return false;
    m_stagingRecord.drop();
    extractor.reset();
    archiveFile.remove();
    finishJob(false);
    return true;
}

} // namespace lv
