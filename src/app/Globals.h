#pragma once
// The state every part of the program shares for the life of the process: the four workers of
// the engine, the queue of items for the next job, the cipher of the next encryption, the road,
// and the end-of-job notices.
//
// Used on the main thread. The workers never read it: a job is handed what it needs when it
// starts (see `jobSettings`).

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/JobSettings.h"
#include "engine/LVArchiver.h"
#include "engine/LVEncryptor.h"
#include "engine/LVTagger.h"
#include "engine/ZipThread.h"
#include "platform/FolderItem.h"
#include "platform/gui/JobControls.h"

namespace lv {

class Preferences;

class Globals {
public:
    Globals() = default;
    ~Globals();
    Globals(const Globals&) = delete;
    Globals& operator=(const Globals&) = delete;

    // The process-wide state.
    static Globals& shared();

    // Creates the four workers (once; a second call keeps the existing ones).
    void createWorkers();

    // The workers; null until createWorkers. `arch` runs every archiving, `arc` cancels it,
    // `enc` runs every job, `Checker` holds the header of the file dropped or opened last.
    std::unique_ptr<ZipThread> arch;
    std::unique_ptr<LVArchiver> arc;
    std::unique_ptr<LVEncryptor> enc;
    std::unique_ptr<LVTagger> Checker;

    std::string CurrentEncryptionType;  // "Blowfish", "Serpent" or "AES"; "" until start-up set it
    std::vector<FolderItem> Items;      // the next job's items, in the order they were added
    bool DoingEncrypt = false;          // true on the encrypt road, false on the decrypt road

    // Where the notices go; null: nowhere. Not owned.
    void setNotifier(DesktopNotifier* notifier) noexcept { m_notifier = notifier; }
    void setAttention(WindowAttention* attention) noexcept { m_attention = attention; }

    // The attention request: NotifyStart requests the window's attention unless a request is
    // standing already; NotifyStop withdraws it. `message` is not shown by this platform.
    void NotifyStart(std::string_view message);
    void NotifyStop();
    bool NotificationFlag() const noexcept { return m_notificationFlag; }

    // Posts one desktop notification under `name` (title: name + "!", with its description).
    // The caller checks Preferences.GrowlEnabled first.
    void PostGrowl(std::string_view name);

    // Brings the program with all its windows to the front.
    void CarbonBringAllWindowsToFront();

    // What a job copies of the settings when it starts.
    static JobSettings jobSettings(const Preferences& prefs);

private:
    DesktopNotifier* m_notifier = nullptr;
    WindowAttention* m_attention = nullptr;
    bool m_notificationFlag = false;
};

} // namespace lv
