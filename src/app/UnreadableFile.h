#pragma once
// A file handed to the program (dropped, or opened from the file manager) whose header can't be
// read because the file can't be opened: rather than being listed to encrypt, which could only
// fail later, it is refused with a box that says so and why.

#include "platform/FolderItem.h"

class QWidget;

namespace lv::UnreadableFile {

// The box's text for a file the program may not read.
std::string messageFor(const FolderItem& file);

// True, after the box, when `file` is a file that cannot be opened for reading; false when it
// can (or is no plain file: a folder is read when it is archived).
bool refuse(const FolderItem& file, QWidget* parent);

} // namespace lv::UnreadableFile
