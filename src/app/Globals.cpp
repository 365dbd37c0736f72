#include "app/Globals.h"

#include "app/Preferences.h"
#include "engine/Notices.h"

namespace lv {

Globals::~Globals()
{
    // A job still running is stopped before the workers it uses go away.
    if (enc) {
        enc->Kill();
        enc->waitUntilIdle();
    }
}

Globals& Globals::shared()
{
    static Globals globals;
    return globals;
}

void Globals::createWorkers()
{
    if (!arch) arch = std::make_unique<ZipThread>();
    if (!arc) arc = std::make_unique<LVArchiver>(*arch);
    if (!enc) enc = std::make_unique<LVEncryptor>();
    if (!Checker) Checker = std::make_unique<LVTagger>();
}

void Globals::NotifyStart(std::string_view)
{
    if (m_notificationFlag) return;
    m_notificationFlag = true;
    if (m_attention) m_attention->requestAttention();
}

void Globals::NotifyStop() { m_notificationFlag = false; }

void Globals::PostGrowl(std::string_view name) { Notices::post(m_notifier, name); }

void Globals::CarbonBringAllWindowsToFront()
{
    if (m_attention) m_attention->bringAllToFront();
}

JobSettings Globals::jobSettings(const Preferences& prefs)
{
    JobSettings settings;
    settings.compress = prefs.Compress;
    settings.notificationsOn = prefs.GrowlEnabled;
    settings.bounce = prefs.BounceDockIcon;
    return settings;
}

} // namespace lv
