#pragma once
// File names between Qt and the file system. Qt holds a name as text, while a name on Linux is
// bytes and need not be UTF-8; these keep the exact bytes wherever a name crosses over.

#include <QString>

#include "platform/FolderItem.h"

class QUrl;

namespace lv::FileNames {

// The path as text for Qt (invalid bytes become replacement characters): for showing it, or for
// starting a chooser there.
QString toQt(const FolderItem& item);

// The item a path from a Qt chooser names. Qt lists names it cannot decode with replacement
// characters, so a component that does not exist as written is matched against the entries of
// its folder by that same readable form; when exactly one matches, its bytes are taken.
FolderItem fromQt(const QString& path);

// The item a local file address names, byte for byte (its percent-encoding decoded as bytes);
// a null item for an address that is no local file.
FolderItem fromUrl(const QUrl& url);

} // namespace lv::FileNames
