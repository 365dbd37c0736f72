#pragma once
// The three ciphers by name: their codes in the settings file and the encrypted file's header,
// the chunk size of the cipher loops, and the cipher objects of the body.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "engine/crypto/Ciphers.h"

namespace lv::CipherSuite {

inline constexpr std::string_view Blowfish = "Blowfish";
inline constexpr std::string_view Serpent = "Serpent";
inline constexpr std::string_view AES = "AES";

// "Blowfish" 0, "Serpent" 1, "AES" 2; -1 for any other name.
int codeOf(std::string_view cipherName);
// The name of a code; "" for an unknown code.
std::string nameOf(int code);
bool isKnown(std::string_view cipherName);

// Bytes per pass of the cipher loops: 80000 for Blowfish, 160000 for AES and Serpent; 0 for an
// unknown name.
std::size_t chunkSize(std::string_view cipherName);

// A cipher object for the body; nullptr for an unknown name.
std::unique_ptr<BodyCipher> makeEncryptor(std::string_view cipherName, std::string_view key);
std::unique_ptr<BodyCipher> makeDecryptor(std::string_view cipherName, std::string_view key);

} // namespace lv::CipherSuite
