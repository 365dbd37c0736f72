#include "engine/crypto/EncryptionKeys.h"

#include <botan/mem_ops.h>
#include <botan/secmem.h>

#include <mutex>
#include <thread>

#include "engine/CipherSuite.h"
#include "engine/crypto/SHA_512.h"
#include "platform/Exceptions.h"

namespace lv {

struct EncryptionKeys::State {
    std::mutex mutex;
    bool done = false;
    bool abandoned = false;
    std::optional<Keys> keys;

    static void wipe(std::optional<Keys>& keys)
    {
        if (keys && !keys->digest.empty())
            Botan::secure_scrub_memory(keys->digest.data(), keys->digest.size());
        keys.reset();
    }
};

EncryptionKeys::EncryptionKeys(std::string_view cipherName, std::string_view key) : m_state(std::make_shared<State>())
{
    auto copy = std::make_shared<Botan::secure_vector<char>>(key.begin(), key.end());
    std::thread([state = m_state, copy, name = std::string(cipherName)] {
        std::optional<Keys> keys;
        try {
            const std::string_view typed(copy->data(), copy->size());
            Keys k;
            SHA_512 hash;
            hash.Update(typed);
            k.digest = hash.Final();
            k.cipher = CipherSuite::makeEncryptor(name, typed);
            if (k.cipher) {
                k.bodyHeader = k.cipher->beginEncrypting();
                keys = std::move(k);
            }
        } catch (const std::exception&) {
            keys.reset();
        }
        Botan::zeroise(*copy);
        std::lock_guard lock(state->mutex);
        state->done = true;
        if (state->abandoned)
            State::wipe(keys);
        else
            state->keys = std::move(keys);
    }).detach();
}

EncryptionKeys::~EncryptionKeys()
{
    std::lock_guard lock(m_state->mutex);
    m_state->abandoned = true;
    State::wipe(m_state->keys);
}

bool EncryptionKeys::ready() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->done;
}

std::optional<EncryptionKeys::Keys> EncryptionKeys::take()
{
    std::lock_guard lock(m_state->mutex);
    if (!m_state->done)
        throw RuntimeException("The keys are not ready");
    return std::move(m_state->keys);
}

} // namespace lv
