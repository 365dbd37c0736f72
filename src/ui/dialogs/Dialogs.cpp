#include "ui/dialogs/Dialogs.h"

namespace lv::dialogs {

void showPreferences() {}
void showAbout() {}
void showChangeEncryption() {}

} // namespace lv::dialogs
