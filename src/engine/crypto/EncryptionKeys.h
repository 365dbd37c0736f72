#pragma once
// The two derivations an encryption needs (the key's digest for the file's header and the body's
// cipher keys), made on a thread of their own that a cancelled job need not wait for: each is
// memory-hard and takes a noticeable fraction of a second, without a point where it could stop.
// An abandoned derivation finishes on its own and wipes what it made.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/crypto/Ciphers.h"

namespace lv {

class EncryptionKeys {
public:
    struct Keys {
        std::string digest;                  // the key's digest (SHA_512)
        std::unique_ptr<BodyCipher> cipher;  // encrypting, begun
        std::string bodyHeader;              // what its beginEncrypting returned
    };

    // Starts deriving for the cipher named `cipherName` from `key` (copied).
    EncryptionKeys(std::string_view cipherName, std::string_view key);
    // Abandons a derivation whose keys were not taken.
    ~EncryptionKeys();
    EncryptionKeys(const EncryptionKeys&) = delete;
    EncryptionKeys& operator=(const EncryptionKeys&) = delete;

    bool ready() const;
    // Once ready: the keys, or nullopt when they could not be made (unknown cipher, no memory).
    std::optional<Keys> take();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace lv
