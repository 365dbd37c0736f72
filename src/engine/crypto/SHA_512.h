#pragma once
// The key digest stored in the encrypted file's header: SHA-512 over Argon2id of the key's bytes
// with a fixed, program-specific salt, so that the same key always gives the same 64 raw bytes
// while guesses cost a memory-hard derivation each.

#include <string>
#include <string_view>

namespace lv {

class SHA_512 {
public:
    // Feeds the key (as typed, UTF-8). May be called more than once; the pieces are joined.
    void Update(std::string_view data);
    // The 64 raw digest bytes.
    std::string Final();

private:
    std::string m_input;
};

} // namespace lv
