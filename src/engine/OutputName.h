#pragma once
// The name of the next encrypted file: the default file name and extension in the destination
// folder, with a counter after the name when it is taken ("EncryptedFile.cdx",
// "EncryptedFile2.cdx", "EncryptedFile3.cdx", ...; the first free one, gaps filled).

#include <string>

#include "platform/FolderItem.h"

namespace lv::OutputName {

// The n-th candidate's file name (n from 1): name + (n > 1 ? n : "") + "." + extension.
std::string candidate(const std::string& name, const std::string& extension, int n);

// False for a name or extension that could leave the folder or name no file of its own: one that
// holds "/" or a NUL byte, or is "." or "..".
bool isSafePart(const std::string& part);

// The first candidate in `folder` that does not exist; null when the parts are not safe or no
// candidate is free.
FolderItem firstFree(const FolderItem& folder, const std::string& name, const std::string& extension);

} // namespace lv::OutputName
