#pragma once
// The key digest stored in the encrypted file's header: SHA-512 over Argon2id of the key's bytes
// with a fixed, program-specific salt, so that the same key always gives the same 64 raw bytes
// while guesses cost a memory-hard derivation each.

#include <string>
#include <string_view>

namespace lv {

class SHA_512 {
public:
    SHA_512() = default;
    ~SHA_512();
    SHA_512(const SHA_512&) = delete;
    SHA_512& operator=(const SHA_512&) = delete;

    // Feeds the key (as typed, UTF-8). May be called more than once; the pieces are joined.
    void Update(std::string_view data);
    // The 64 raw digest bytes. The key is wiped and the object starts afresh, as after creation.
    std::string Final();

private:
    void wipe() noexcept;

    std::string m_input;
};

} // namespace lv
