#pragma once
// The header of an encrypted file: four records of one length byte and that many bytes.
//
//   offset  length  content
//   0       1       29
//   1       29      "<HEAD>__LVEFCDX__VER__</HEAD>"
//   30      1       37
//   31      37      "<FileTypeVersion>1</FlileTypeVersion>"   (the closing tag is spelt so in every file)
//   68      1       8
//   69      8       "<x>0</x>" Blowfish, "<x>1</x>" Serpent, "<x>2</x>" AES
//   77      1       L
//   78      L       the key digest (64 raw bytes)
//   78 + L          the body
//
// So a header with a 64-byte digest is 142 bytes long. Writing: set EncryptionType and q (the key),
// then CreateTag; afterwards q holds the digest and TagLength the header length. Reading:
// CheckTag; the fields are meaningful only when it returned true.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FolderItem.h"

namespace lv {

class LVTagger {
public:
    static constexpr std::string_view Tag = "<HEAD>__LVEFCDX__VER__</HEAD>";
    static constexpr std::string_view VersionRecord = "<FileTypeVersion>1</FlileTypeVersion>";

    LVTagger() = default;
    LVTagger(const LVTagger&) = default;
    LVTagger& operator=(const LVTagger&) = default;
    // Wipes q, which holds the key until CreateTag has run.
    ~LVTagger();

    bool IsLockvane = false;       // set by CheckTag when the tag record matched
    std::string EncryptionType;    // cipher name; "" after reading an unknown cipher code
    std::string q;                 // the key before CreateTag, the digest after it or after CheckTag
    std::int32_t TagLength = 0;    // header length = offset of the first body byte
    std::int32_t FileTypeVersion = 0;

    // Reads the header at the start of `f`. True when `f` begins with the tag record and holds the
    // other three records whole; only then are the fields set. A file that cannot be opened, does
    // not begin with the tag or ends inside the header gives false and changes nothing.
    bool CheckTag(const FolderItem& f);

    // Digests q and writes the header at the start of `f` (an existing, empty file), then closes
    // it. An open that fails for a passing reason (no descriptors left) is retried for a few
    // seconds, each wait a cancellation point. False when `f` could not be opened or written, or
    // EncryptionType names no cipher.
    bool CreateTag(const FolderItem& f);
    // CreateTag for a q that holds the key's digest already.
    bool CreateTagWithDigest(const FolderItem& f);

    // The text between the first "<name>" and the first "</name>" of `line`; "" when the opening
    // tag is missing or the closing tag does not follow it.
    static std::string ParseLine(std::string_view line, std::string_view name);

    // The header bytes for a cipher name and a digest (no validation beyond the record lengths).
    static std::string headerBytes(std::string_view cipherName, std::string_view digest);
};

} // namespace lv
