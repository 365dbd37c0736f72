#include "engine/CipherSuite.h"

namespace lv::CipherSuite {

int codeOf(std::string_view cipherName)
{
    if (cipherName == Blowfish) return 0;
    if (cipherName == Serpent) return 1;
    if (cipherName == AES) return 2;
    return -1;
}

std::string nameOf(int code)
{
    switch (code) {
    case 0: return std::string(Blowfish);
    case 1: return std::string(Serpent);
    case 2: return std::string(AES);
    default: return {};
    }
}

bool isKnown(std::string_view cipherName) { return codeOf(cipherName) >= 0; }

std::size_t chunkSize(std::string_view cipherName)
{
    switch (codeOf(cipherName)) {
    case 0: return 80000;
    case 1:
    case 2: return 160000;
    default: return 0;
    }
}

std::unique_ptr<BodyCipher> makeEncryptor(std::string_view cipherName, std::string_view key)
{
    switch (codeOf(cipherName)) {
    case 0: return std::make_unique<BlowfishCBC>(key);
    case 1: return std::make_unique<lv::Serpent>(key, 0, 2);
    case 2: return std::make_unique<AES_CBC>(key);
    default: return nullptr;
    }
}

std::unique_ptr<BodyCipher> makeDecryptor(std::string_view cipherName, std::string_view key)
{
    switch (codeOf(cipherName)) {
    case 0: return std::make_unique<BlowfishCBC>(key, true);
    case 1: return std::make_unique<lv::Serpent>(key, 1, 2);
    case 2: return std::make_unique<AES_CBC>(key, true);
    default: return nullptr;
    }
}

} // namespace lv::CipherSuite
