#pragma once
// A writer of the first body format, which the program still reads but no longer writes, made
// from doc/format.md: the tests need such bodies, with every cipher and any plaintext.

#include <string>
#include <string_view>

namespace lv::test {

// The format-1 body of `plaintext` for the cipher named `cipher` ("Blowfish", "AES" or
// "Serpent") and `key`, with a fresh random salt and IV.
std::string formatOneBody(std::string_view cipher, std::string_view key, std::string_view plaintext);

} // namespace lv::test
