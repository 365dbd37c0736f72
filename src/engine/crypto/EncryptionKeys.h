#pragma once
// The two derivations an encryption needs, made on a thread of their own that a cancelled job
// need not wait for: each is memory-hard and takes a noticeable fraction of a second, without a
// point where it could stop. The body's cipher comes first, so that enciphering can begin while
// the key's digest for the file's header is still being made. An abandoned derivation goes on
// to its end and wipes what it made; only the destructor waits for it.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "engine/crypto/Ciphers.h"

namespace lv {

class EncryptionKeys {
public:
    // Starts deriving for the cipher named `cipherName` from `key` (copied).
    EncryptionKeys(std::string_view cipherName, std::string_view key);
    // Abandons, and waits for the thread to end.
    ~EncryptionKeys();
    // Wipes whatever was not taken, now and as it comes. Does not wait.
    void abandon();
    EncryptionKeys(const EncryptionKeys&) = delete;
    EncryptionKeys& operator=(const EncryptionKeys&) = delete;

    // The body's cipher has been derived, or has failed.
    bool cipherReady() const;
    // Once cipherReady: the encrypting object, begun, with what its beginSegments returned in
    // `bodyHeader`; null when it could not be made (unknown cipher, no memory). Once only.
    std::unique_ptr<BodyCipher> takeCipher(std::string& bodyHeader);
    // The key's digest has been derived, or has failed.
    bool digestReady() const;
    // Once digestReady: the key's digest (SHA_512), or nullopt when it could not be made.
    std::optional<std::string> takeDigest();

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace lv
