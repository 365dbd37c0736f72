#include "ui/dialogs/Dialogs.h"

#include "ui/dialogs/wAbout.h"
#include "ui/dialogs/wChangeEncryption.h"
#include "ui/dialogs/wPrefs.h"

namespace lv::dialogs {

void showPreferences() { wPrefs::instance()->showInFront(); }
void showAbout() { wAbout::instance()->Show(true); }
void showChangeEncryption() { wChangeEncryption::instance()->showInFront(); }

} // namespace lv::dialogs
