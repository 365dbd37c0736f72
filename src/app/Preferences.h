#pragma once
// The user's settings and the settings file "Lockvane.LV_PREFS" that keeps them between runs.
//
// The file is text, one tagged line per setting ("<Tag>value</Tag>") in a fixed order, then the
// extension list:
//
//   <PreferenceFileVersion>12</PreferenceFileVersion>
//   <BounceDockIcon>True</BounceDockIcon>          Booleans are "True" / "False"
//   <Compress>..., <ConfirmKey>..., <DecryptReminder>...
//   <DestinationFolder>/home/me/Desktop</DestinationFolder>
//   <DefaultEncryptionType>0</DefaultEncryptionType>  0 Blowfish, 1 Serpent, 2 AES (no line otherwise)
//   <DefaultFileExtension>, <DefaultFileName>, <GrowlEnabled>, <GrowlRegistered>, <pLeft>,
//   <ShowPasswordStrength>, <pTop>, <UserGuidePath>
//   <ExtensionNumber>12</ExtensionNumber>          the number of extensions minus one
//   <Extension>.doc</Extension>                    one line per extension
//
// Lines end in "\n" (a "\r" before it is accepted when reading). Values are not escaped, so the
// writer drops line breaks from them: a value with a line break would shift the extension block.
// The file is written under a temporary name and renamed over the old one, so a crash in the
// middle of writing never loses the settings.
//
// Settings are read once at start-up and written once at quit, on the main thread; workers get
// the few they need copied into their job when it starts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderItem.h"

namespace lv {

class Preferences {
public:
    static constexpr const char* FileName = "Lockvane.LV_PREFS";
    static constexpr int FormatVersion = 12;

    // The settings, with the values they have before the file is read.
    std::string DefaultEncryptionType = "Blowfish";  // "Blowfish", "Serpent" or "AES"
    bool Compress = true;
    bool ConfirmKey = true;
    bool DecryptReminder = true;
    bool ShowPasswordStrength = false;
    bool BounceDockIcon = true;
    bool GrowlEnabled = true;
    bool GrowlRegistered = false;  // only carried through the file
    std::string DefaultFileName = "EncryptedFile";
    std::string DefaultFileExtension = "cdx";        // without the dot
    std::vector<std::string> Extensions;             // each with its leading dot
    FolderItem DestinationFolder;                    // never null after ReadPrefs
    std::string UserGuidePath = "/UserGuide.pdf";
    std::int32_t pLeft = -1;                         // -1: no stored window position
    std::int32_t pTop = -1;

    // The process-wide settings.
    static Preferences& shared();

    // Reads the file from the preferences folder (or `folder`). Without a readable file the
    // defaults stay, with the default extensions and the Desktop as destination. Never fails.
    void ReadPrefs();
    void ReadPrefs(const FolderItem& folder);
    // Writes the file into the preferences folder (or `folder`); false when it could not be
    // written, in which case the file there is left as it was.
    bool WritePrefs() const;
    bool WritePrefs(const FolderItem& folder) const;

    // The file's text for the current settings.
    std::string fileText() const;
    // Takes the settings from a file's text (the reading rules of ReadPrefs, without the
    // destination folder's fallback to the Desktop).
    void readText(std::string_view text);

    // Appends the 13 default extensions.
    void useDefaultExtensions();

    // The text between the first "<tag>" and the first "</tag>" of `text`; "" when the opening
    // tag is missing or the closing tag does not follow it.
    static std::string ParseLine(std::string_view text, std::string_view tag);
};

} // namespace lv
