#include "engine/Notices.h"

namespace lv::Notices {

std::string descriptionOf(std::string_view name)
{
    if (name == EncryptionFinished) return "Your encryption has finished successfully.";
    if (name == DecryptionFinished) return "Your decryption has finished successfully.";
    if (name == EncryptionError) return "An error was encountered during the encryption process.";
    if (name == DecryptionError) return "An error was encountered during the decryption process.";
    return {};
}

void post(DesktopNotifier* notifier, std::string_view name)
{
    if (!notifier) return;
    const std::string n(name);
    notifier->post(n, n + "!", descriptionOf(name));
}

} // namespace lv::Notices
