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
#include "engine/crypto/SHA_512.h"
#include "platform/Exceptions.h"
#include "platform/SpecialFolders.h"
#include "zip/ExtractionJob.h"
#include "zip/ZipArchive.h"
#include "zip/ZipConfig.h"

namespace lv {

namespace {

constexpr std::chrono::milliseconds ExtractionPoll{20};

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

std::string streamFailure(const std::string& what, const FolderItem& f, const BinaryStream& s)
{
    return what + " " + quoted(f) + ": " + std::generic_category().message(s.lastErrorCode());
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
    discardPreparedKeys();
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
                          const LVTagger& header, LVArchiver& archiver, JobControls controls, JobSettings settings)
{
    beginJob(archiver, controls, std::move(settings));
    DoEncrypt = false;
    Target = std::move(destFolder);
    zSource = std::move(file);
    m_tagLength = header.TagLength;
    Method = std::move(cipher);
    wipeKey();
    Key = std::move(key);
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
}

void LVEncryptor::prepareKeys()
{
    try {
        SHA_512 hash;
        hash.Update(Key);
        m_keyDigest = hash.Final();
        m_cipher = CipherSuite::makeEncryptor(Method, Key);
        if (m_cipher) m_bodyStart = m_cipher->Encrypt({});
    } catch (const std::exception&) {
        discardPreparedKeys();
    }
}

void LVEncryptor::discardPreparedKeys() noexcept
{
    if (!m_keyDigest.empty()) Botan::secure_scrub_memory(m_keyDigest.data(), m_keyDigest.size());
    m_keyDigest.clear();
    m_cipher.reset();
    m_bodyStart.clear();
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
    if (!m_settings.workFolder.isNull()) {
        m_settings.workFolder.child(WorkArchiveName).remove();
        if (!succeeded) m_settings.workFolder.child(WorkFileName).remove();
    }
    m_work.reset();
    wipeKey();
    discardPreparedKeys();
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
        m_work.reset();
        if (!succeeded) {
            std::shared_ptr<ExtractionJob> extraction;
            {
                std::lock_guard lock(m_mutex);
                extraction = m_extraction;
            }
            if (extraction) extraction->removeCreated();
        }
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
    setMaximum(0);
    if (auto* status = controls().status) status->setText(m_settings.compress ? CompressingText : ArchivingText);
    if (!CipherSuite::isKnown(Method)) {
        error = "Unknown cipher \"" + Method + "\".";
        return false;
    }
    if (!claimWorkFolder(WorkFolder::encryptionNeed(Source), error)) return false;
    // An item chosen twice is archived once; other items of the same name would overwrite each
    // other in the decrypted folder.
    std::set<std::filesystem::path> chosen;
    std::erase_if(Source,
                  [&](const FolderItem& item) { return !chosen.insert(item.path().lexically_normal()).second; });
    error = ZipArchive::NameClash(Source);
    if (!error.empty()) return false;
    checkpoint();
    if (!m_archiver->Archive(Source, *this, error)) return false;
    m_handedOver = true;
    prepareKeys();
    return true;
}

// --- the cipher loops ----------------------------------------------------------------------------

bool LVEncryptor::cipherLoop(const Stream& in, const Stream& out, std::uint64_t length, std::size_t chunk,
                             const std::function<std::string(std::string_view)>& transform, std::string& error)
{
    // One chunk in memory at a time; each pass gives Cancel its chance first.
    while (in.stream.position() < length) {
        checkpoint();
        const std::string block = in.stream.read(chunk);
        if (in.stream.hadError()) {
            error = streamFailure(in.failureText, in.file, in.stream);
            return false;
        }
        if (block.empty()) {
            error = std::string(in.failureText) + " " + quoted(in.file) + ": it became shorter while it was read.";
            return false;
        }
        if (!out.stream.write(transform(block))) {
            error = streamFailure(out.failureText, out.file, out.stream);
            return false;
        }
        showProgress(in.stream.position(), length);
    }
    return true;
}

// --- the encryption stage, on the archiving worker -----------------------------------------------

bool LVEncryptor::EncryptTask(std::string& error)
{
    awaitEngineThread();
    TEMPtarget = workFolder().child(WorkFileName);
    zSource = workFolder().child(WorkArchiveName);

    BinaryStreamPtr in = zSource.openAsBinaryFile(false);
    if (!in) {
        error = failureOf("The work archive could not be opened", zSource);
        return false;
    }
    const std::uint64_t length = in->length();
    setMaximum(length);

    {
        BinaryStreamPtr created = TEMPtarget.createBinaryFile(0600);
        if (!created || !created->close()) {
            error = failureOf("The work file could not be created", TEMPtarget);
            return false;
        }
    }
    LVTagger tagger;
    tagger.EncryptionType = Method;
    bool tagged = false;
    if (!m_keyDigest.empty()) {
        tagger.q = m_keyDigest;
        tagged = tagger.CreateTagWithDigest(TEMPtarget);
    } else {
        tagger.q = Key;
        tagged = tagger.CreateTag(TEMPtarget);
    }
    if (!tagged) {
        error = failureOf("The header could not be written to", TEMPtarget);
        return false;
    }
    BinaryStreamPtr out = TEMPtarget.openAsBinaryFile(true);
    if (!out) {
        error = failureOf("The work file could not be opened", TEMPtarget);
        return false;
    }
    out->setPosition(std::uint64_t(tagger.TagLength));
    if (auto* status = controls().status) status->setText(EncryptingText);

    std::unique_ptr<BodyCipher> cipher = std::move(m_cipher);
    const std::string bodyStart = std::move(m_bodyStart);
    if (!cipher) cipher = CipherSuite::makeEncryptor(Method, Key);
    const std::size_t chunk = CipherSuite::chunkSize(Method);
    if (!cipher) {
        error = "Unknown cipher \"" + Method + "\".";
        return false;
    }
    const Stream source{*in, zSource, "The work archive could not be read"};
    const Stream sink{*out, TEMPtarget, "The work file could not be written"};
    if (!out->write(bodyStart)) {
        error = streamFailure(sink.failureText, TEMPtarget, *out);
        return false;
    }
    if (!cipherLoop(source, sink, length, chunk, [&](std::string_view b) { return cipher->Encrypt(b); }, error))
        return false;
    if (!out->write(cipher->FinishEncrypt()) || !out->sync()) {
        error = streamFailure("The work file could not be written", TEMPtarget, *out);
        return false;
    }
    if (!out->close()) {
        error = streamFailure("The work file could not be written", TEMPtarget, *out);
        return false;
    }
    in->close();
    checkpoint();

    // Never replaces a file that appeared at the target meanwhile; works across file systems.
    FolderItem moved = TEMPtarget;
    bool saved = moved.moveTo(Target);
    // A file that took the chosen name meanwhile stays; the next free name is used.
    for (int tries = 0; !saved && moved.lastErrorCode() == EEXIST && !m_settings.outputBaseName.empty() && tries < 100;
         ++tries) {
        const FolderItem next =
            OutputName::firstFree(Target.parent(), m_settings.outputBaseName, m_settings.outputExtension);
        if (next.isNull()) break;
        Target = next;
        saved = moved.moveTo(Target);
    }
    if (!saved) {
        error = "The encrypted file could not be saved as \"" + Target.shellPath() + "\": " + moved.lastErrorText();
        return false;
    }
    zSource.remove();
    wipeKey();
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
    in->setPosition(std::uint64_t(std::max<std::int32_t>(m_tagLength, 0)));
    setMaximum(length);
    if (auto* status = controls().status) status->setText(DecryptingText);

    FolderItem archiveFile = workFolder().child(WorkArchiveName);
    auto cipher = CipherSuite::makeDecryptor(Method, Key);
    const std::size_t chunk = CipherSuite::chunkSize(Method);
    if (!cipher) {
        error = "The file names an unknown cipher.";
        return false;
    }
    BinaryStreamPtr out = archiveFile.createBinaryFile(0600);
    if (!out) {
        error = failureOf("The work archive could not be created", archiveFile);
        return false;
    }
    const Stream source{*in, zSource, "The encrypted file could not be read"};
    const Stream sink{*out, archiveFile, "The work archive could not be written"};
    if (!cipherLoop(source, sink, length, chunk, [&](std::string_view b) { return cipher->Decrypt(b); }, error))
        return false;
    const std::string last = cipher->FinishDecrypt();
    // A changed or cut body: what was deciphered so far is no archive of the user's; the clean-up
    // deletes it.
    if (cipher->failed()) {
        error = cipher->errorText();
        return false;
    }
    if (!out->write(last) || !out->close()) {
        error = streamFailure("The work archive could not be written", archiveFile, *out);
        return false;
    }
    in->close();
    wipeKey();

    setMaximum(0);
    if (auto* status = controls().status) status->setText(UnarchivingText);
    checkpoint();

    ZipConfig::UsePlugin = true;
    std::shared_ptr<ExtractionJob> extraction = ExtractionJob::claimFolder(Target, DecryptedFolderName, error);
    if (!extraction) return false;
    {
        std::lock_guard lock(m_mutex);
        m_extraction = extraction;
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
    extractor.reset();
    archiveFile.remove();
    finishJob(false);
    return true;
}

} // namespace lv
