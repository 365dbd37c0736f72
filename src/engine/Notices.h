#pragma once
// The end-of-job notices: desktop notifications under the program's six names, each titled with
// its name and "!", and the window's attention request.

#include <string>
#include <string_view>

#include "platform/gui/JobControls.h"

namespace lv::Notices {

inline constexpr std::string_view EncryptionStarted = "Encryption Started";
inline constexpr std::string_view EncryptionFinished = "Encryption Finished";
inline constexpr std::string_view EncryptionError = "Encryption Error";
inline constexpr std::string_view DecryptionStarted = "Decryption Started";
inline constexpr std::string_view DecryptionFinished = "Decryption Finished";
inline constexpr std::string_view DecryptionError = "Decryption Error";

// The notification's description; "" for the two "Started" names and any other name.
std::string descriptionOf(std::string_view name);

// Posts one notification: the name, the name followed by "!", the description. Nothing when
// `notifier` is null.
void post(DesktopNotifier* notifier, std::string_view name);

} // namespace lv::Notices
