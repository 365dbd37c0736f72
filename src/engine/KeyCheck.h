#pragma once
// The checks made before a decryption starts, in one place for every road that starts one (the
// key sheet, the document handler, the drop zone, the benchmark driver): the header's format
// version, and the typed key's digest against the one in the header. The decryption that follows
// needs the body's keys, a second memory-hard derivation from the same typed key; the full check
// makes it beside the digest, on a thread of its own, so that the two take the time of one.

#include <memory>
#include <string_view>

#include "engine/LVTagger.h"
#include "engine/crypto/Ciphers.h"
#include "platform/FolderItem.h"

namespace lv {

namespace KeyCheck {

inline constexpr const char* IncorrectKeyText = "Incorrect Key.";
inline constexpr const char* LaterVersionText =
    "This file was produced by a later version of Lockvane and cannot be decrypted by this version.";

// True when the header was written by a later format version than this program reads.
bool isLaterVersion(const LVTagger& header) noexcept;

// True when `key` (as typed, UTF-8) is the key whose digest the header holds. The digest is
// memory-hard (a fraction of a second): never call this on the GUI thread. Compared in constant
// time, exactly, letter case included.
bool keyMatches(std::string_view key, std::string_view storedDigest);

} // namespace KeyCheck

struct KeyCheckResult {
    bool matches = false;
    // With a matching key: the deciphering object of the file's body, its keys derived, its
    // header taken and the key known to be right (a body that then fails its check is reported
    // as damaged), for LVEncryptor::Decrypt; null when the body's header could not be read (the
    // decryption then reads it and says what is wrong).
    std::unique_ptr<BodyCipher> body;
};

// KeyCheck::keyMatches for `header` as CheckTag read it from `file`, with the body's keys derived
// beside it. Off the GUI thread.
KeyCheckResult checkKeyForDecryption(const FolderItem& file, const LVTagger& header, std::string_view key);

} // namespace lv
