#pragma once
// The check of a typed key before a decryption: its digest against the one in the file's
// header. The decryption that follows needs the body's keys, a second memory-hard derivation
// from the same typed key; it is made beside the check, on a thread of its own, so that the two
// take the time of one.

#include <memory>
#include <string_view>

#include "engine/LVTagger.h"
#include "engine/crypto/Ciphers.h"
#include "platform/FolderItem.h"

namespace lv {

struct KeyCheckResult {
    bool matches = false;
    // With a matching key: the deciphering object of the file's body, its keys derived and its
    // header taken, for LVEncryptor::Decrypt; null when the body's header could not be read (the
    // decryption then reads it and says what is wrong).
    std::unique_ptr<BodyCipher> body;
};

// `header` as CheckTag read it from `file`. The digests are compared in constant time.
KeyCheckResult checkKeyForDecryption(const FolderItem& file, const LVTagger& header, std::string_view key);

} // namespace lv
