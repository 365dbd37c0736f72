#pragma once
// Files handed to the program (dropped, or opened from the file manager) that can't be opened for
// reading: rather than being listed to encrypt, which could only fail later, they are left out,
// and one box names them and says why.

#include <optional>
#include <string>
#include <vector>

#include "platform/FolderItem.h"

class QWidget;

namespace lv::UnreadableFile {

// Why `item` can't be read: the system's reason for a plain file (or a link to one, which stands
// for it) that can't be opened for reading; nullopt when it can, and for a folder, which is read
// when it is archived.
std::optional<std::string> whyUnreadable(const FolderItem& item);

// The box's text for files the program may not read (named up to a handful, then counted).
std::string messageFor(const std::vector<FolderItem>& files);
std::string messageFor(const FolderItem& file);

// The items that can be read, in their order; when some can't, one box names them first.
std::vector<FolderItem> readableOf(const std::vector<FolderItem>& items, QWidget* parent);

// True, after the box, when `file` can't be read.
bool refuse(const FolderItem& file, QWidget* parent);

} // namespace lv::UnreadableFile
