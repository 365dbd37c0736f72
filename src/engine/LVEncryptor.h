#pragma once
// The engine of both jobs.
//
// Encryption: the engine thread shows "Compressing..." (or "Archiving...") and has the archiving
// worker pack the items into the work archive "Lockvane.zip"; that worker then runs EncryptTask:
// the header and the enciphered archive go into the work file "Lockvane.cdx", which is moved to
// the output file ("Encrypting...", "Encryption Finished.", the button becomes "OK").
// Decryption: the engine thread deciphers the body into "Lockvane.zip" ("Decrypting..."); only
// once the whole body has proved authentic does a fresh zip worker extract it ("Unarchiving...")
// into a private (0700) hidden folder of the job's own in the destination folder, which then
// takes its final mode and becomes the first of "DecryptedFiles", "DecryptedFiles2", ... that is
// free; only then does the job show "Decryption Complete.". Until then the hidden folder is
// recorded as a leftover (LeftoverRecords), so that a crash never leaves its plaintext for good;
// so is the copy of the encrypted file under construction when it moves to another file system.
//
// Every failure ends the job as a failure: its message box, the work files and what the job
// extracted removed, the main window reset, the "... Error" notice. Kill (the Cancel button) stops the job at
// its next cancellation point, wherever it runs, removes the same files and drops the job's later
// GUI calls. The work archive is deleted whenever a job ends, and the key is wiped (as soon as
// both derivations are done, on either road; the body's master key once the body is enciphered
// or deciphered).
//
// A job takes everything it needs when it starts: the items, the header of the file to decrypt,
// the settings, the controls.
//
// The key is stretched twice on the encryption road (its digest for the header, the body's cipher
// keys), which takes a noticeable fraction of a second each: the engine thread has both made
// while the archiving worker builds the archive (and a Cancel does not wait for them). The encryption stage starts as soon as they are
// ready and enciphers the work archive behind the archiving worker, as its bytes become final;
// once the archive is closed, only its rest remains to be enciphered ("Encrypting...").
// A decryption takes the body's keys from the key check when it derived them already.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CipherStage.h"
#include "engine/JobSettings.h"
#include "engine/LVTagger.h"
#include "engine/WorkFolder.h"
#include "engine/crypto/Ciphers.h"
#include "engine/crypto/EncryptionKeys.h"
#include "platform/BinaryStream.h"
#include "platform/FolderItem.h"
#include "platform/LeftoverRecords.h"
#include "platform/Thread.h"
#include "platform/gui/JobControls.h"
#include "platform/gui/JobGate.h"

namespace lv {

class ExtractionJob;
class LVArchiver;
class TreeScan;

enum class JobOutcome { None, Running, Succeeded, Failed, Cancelled };

class LVEncryptor : public Thread {
public:
    // Status texts and messages of the two roads.
    static constexpr const char* CompressingText = "Compressing...";
    static constexpr const char* ArchivingText = "Archiving...";
    static constexpr const char* EncryptingText = "Encrypting...";
    static constexpr const char* EncryptionFinishedText = "Encryption Finished.";
    static constexpr const char* DecryptingText = "Decrypting...";
    static constexpr const char* UnarchivingText = "Unarchiving...";
    static constexpr const char* DecryptionCompleteText = "Decryption Complete.";
    static constexpr const char* EncryptionFailedText = "Encryption Failed!";
    static constexpr const char* DecryptionFailedText = "Decryption failed!";
    static constexpr const char* StageErrorText = "There was an error.";

    LVEncryptor() = default;
    ~LVEncryptor() override;

    // Starts encrypting `items` into `target` (a file that does not exist yet) with the cipher
    // named `cipher` ("Blowfish", "Serpent" or "AES") and `key`, archiving on `archiver`'s worker
    // (`archiver` must outlive this object).
    // Returns at once; the job reports everything through `controls`. RuntimeException when a
    // job of this worker is still running (a cancelled one is waited for).
    void Encrypt(std::vector<FolderItem> items, FolderItem target, std::string cipher, std::string key,
                 LVArchiver& archiver, JobControls controls, JobSettings settings);
    // Starts deciphering `file`, whose header `header` was read by CheckTag, and extracting it into
    // `destFolder`. Same contract as Encrypt.
    // `preparedBody`: the deciphering object KeyCheck made for the file's body (keys derived,
    // its header taken), or null.
    void Decrypt(FolderItem file, FolderItem destFolder, std::string cipher, std::string key,
                 const LVTagger& header, LVArchiver& archiver, JobControls controls, JobSettings settings,
                 std::unique_ptr<BodyCipher> preparedBody = nullptr);

    // Cancels the job: its later GUI calls are dropped, and every thread of it stops at its next
    // cancellation point and cleans up. Does not wait.
    void Kill();
    // True while any thread of the current job runs.
    bool isBusy() const;
    // Waits until every thread of the current job has ended; the job's outcome.
    JobOutcome waitForJob();
    // waitForJob, and also for the key derivations a cancelled job left running, so that no
    // thread of this object runs afterwards (before the program ends). From the thread that
    // starts the jobs.
    void waitUntilIdle();
    JobOutcome outcome() const noexcept { return m_outcome.load(); }
    // The extraction folder of the last decryption (null before one has chosen it).
    FolderItem extractionFolder() const;

    // --- used by the archiving worker ---
    // More of the work archive's bytes are final (see ZipArchive::SetFinalBytesListener): the
    // encryption stage starts once the keys are ready, and follows.
    void archiveBytesFinal(std::int64_t end, std::int64_t held);
    // The encryption stage once the archive is closed: the rest of the body, then the work file
    // moved to the target. False, with the reason in `error`, on any failure (the caller ends
    // the job).
    bool EncryptTask(std::string& error);
    // Ends the job as a failure: `message` (when not empty) with `explanation`, the main window
    // reset, the error notice.
    void endInFailure(const std::string& message, const std::string& explanation);
    // The end of the archiving worker's part, on every path: removes the work files (the work
    // file only when the stage did not succeed) and wipes the key. Waits for the engine thread
    // to be done with the key first.
    void endEncryptionStage(bool succeeded);
    // Records a job whose thread ended without success or failure (a Cancel) as cancelled.
    void markStopped() noexcept;
    // A cancellation point of this job (for any of its threads).
    void checkpoint() const;
    JobControls controls() const;
    const JobSettings& settings() const noexcept { return m_settings; }
    FolderItem workFolder() const;
    // The items of the job as looked at when it started (null before).
    std::shared_ptr<const TreeScan> scan() const { return m_scan; }

protected:
    void execute() override;

private:
    bool EncryptStart(std::string& error);
    bool DecryptTask(std::string& error);
    void beginJob(LVArchiver& archiver, JobControls controls, JobSettings settings);
    // Creates the work file with the header and starts enciphering the work archive into it.
    bool beginEncryptionStage(std::string& error);
    void wipeKey() noexcept;
    // On the archiving worker: the file's header, with the key's digest, for the encryption stage
    // (made from the key here when the derivation failed).
    void provideOuterHeader();
    void wipeDigest() noexcept;
    // Takes the work folder for this job: the settings' one, or the user's that has room. False,
    // with the reason in `error`, when none will do. The job holds it until it ends.
    bool claimWorkFolder(std::uint64_t bytesNeeded, std::string& error);
    // On the archiving worker: waits (a cancellation point) until the body's cipher, or with
    // `digest` the key's digest, is ready.
    void awaitKeys(bool digest);
    // On the archiving worker: waits until the engine thread has ended, so that it no longer
    // uses the key or the prepared keys.
    void awaitEngineThread();
    // Shows the progress of `position` out of `length` (64-bit values scaled to the bar's range).
    void setMaximum(std::uint64_t length);
    void showProgress(std::uint64_t position, std::uint64_t length);
    void finishJob(bool encrypting);
    bool jobCancelled() const;

    // The job.
    bool DoEncrypt = false;
    FolderItem Target;
    std::vector<FolderItem> Source;
    std::string Method;
    std::string Key;
    std::int32_t m_tagLength = 0;
    std::unique_ptr<EncryptionKeys> m_keys;      // encryption: the derivations under way
    // Those of an ended job, abandoned: their thread is waited for by the next job or the end.
    std::unique_ptr<EncryptionKeys> m_retiredKeys;
    std::unique_ptr<BodyCipher> m_preparedBody;  // decryption: from the key check, or null
    std::optional<std::string> m_digest;         // encryption: the key's digest, once taken
    // The encryption stage, on the archiving worker: the work file and what enciphers into it.
    BinaryStreamPtr m_workOut;
    std::unique_ptr<BodyEncryption> m_encryption;
    std::string m_stageError;              // why the stage could not begin early
    FolderItem zSource;
    FolderItem TEMPtarget;
    JobSettings m_settings;
    std::unique_ptr<WorkFolder> m_work;        // held from the job's start until its work files are gone
    // Decryption: the record of the staging folder, held while the job runs (engine thread only).
    LeftoverRecord m_stagingRecord;
    std::shared_ptr<const TreeScan> m_scan;    // encryption: the items as looked at when the job began
    LVArchiver* m_archiver = nullptr;
    std::shared_ptr<JobGate> m_gate;
    std::atomic<JobOutcome> m_outcome{JobOutcome::None};
    std::atomic<bool> m_handedOver{false};  // the archiving worker has taken over the job
    std::uint32_t m_progressShift = 0;      // progress values are shifted into the bar's range
    bool m_failureShown = false;            // the failure's message has been shown already

    mutable std::mutex m_mutex;              // guards m_extraction
    std::shared_ptr<ExtractionJob> m_extraction;  // the decryption's extraction, once its folder is claimed
};

} // namespace lv
