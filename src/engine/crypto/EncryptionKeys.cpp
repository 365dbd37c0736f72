#include "engine/crypto/EncryptionKeys.h"

#include <botan/mem_ops.h>
#include <botan/secmem.h>

#include <mutex>

#include "engine/CipherSuite.h"
#include "engine/crypto/SHA_512.h"
#include "platform/Exceptions.h"

namespace lv {

struct EncryptionKeys::State {
    std::mutex mutex;
    bool abandoned = false;
    bool cipherDone = false;
    std::unique_ptr<BodyCipher> cipher;
    std::string bodyHeader;
    bool digestDone = false;
    std::optional<std::string> digest;

    void wipe()
    {
        cipher.reset();
        if (digest)
            Botan::secure_scrub_memory(digest->data(), digest->size());
        digest.reset();
    }
};

EncryptionKeys::EncryptionKeys(std::string_view cipherName, std::string_view key) : m_state(std::make_shared<State>())
{
    auto copy = std::make_shared<Botan::secure_vector<char>>(key.begin(), key.end());
    m_thread = std::thread([state = m_state, copy, name = std::string(cipherName)] {
        const std::string_view typed(copy->data(), copy->size());
        std::unique_ptr<BodyCipher> cipher;
        std::string bodyHeader;
        try {
            cipher = CipherSuite::makeEncryptor(name, typed);
            if (cipher)
                bodyHeader = cipher->beginSegments();
        } catch (const std::exception&) {
            cipher.reset();
        }
        {
            std::lock_guard lock(state->mutex);
            state->cipherDone = true;
            if (state->abandoned) {
                Botan::zeroise(*copy);
                return;
            }
            state->cipher = std::move(cipher);
            state->bodyHeader = std::move(bodyHeader);
        }
        std::optional<std::string> digest;
        try {
            SHA_512 hash;
            hash.Update(typed);
            digest = hash.Final();
        } catch (const std::exception&) {
            digest.reset();
        }
        Botan::zeroise(*copy);
        std::lock_guard lock(state->mutex);
        state->digestDone = true;
        if (!state->abandoned)
            state->digest = std::move(digest);
        else if (digest)
            Botan::secure_scrub_memory(digest->data(), digest->size());
    });
}

EncryptionKeys::~EncryptionKeys()
{
    abandon();
    if (m_thread.joinable())
        m_thread.join();
}

void EncryptionKeys::abandon()
{
    std::lock_guard lock(m_state->mutex);
    m_state->abandoned = true;
    m_state->wipe();
}

bool EncryptionKeys::cipherReady() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cipherDone;
}

std::unique_ptr<BodyCipher> EncryptionKeys::takeCipher(std::string& bodyHeader)
{
    std::lock_guard lock(m_state->mutex);
    if (!m_state->cipherDone)
        throw RuntimeException("The cipher is not ready");
    bodyHeader = std::move(m_state->bodyHeader);
    return std::move(m_state->cipher);
}

bool EncryptionKeys::digestReady() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->digestDone;
}

std::optional<std::string> EncryptionKeys::takeDigest()
{
    std::lock_guard lock(m_state->mutex);
    if (!m_state->digestDone)
        throw RuntimeException("The digest is not ready");
    return std::move(m_state->digest);
}

} // namespace lv
