#pragma once
// The folders the program keeps its files in.

#include "platform/FolderItem.h"

namespace lv::SpecialFolders {

// A private folder (mode 0700) for work files: "$XDG_RUNTIME_DIR/lockvane", else
// "$XDG_CACHE_HOME/lockvane" (default "~/.cache/lockvane"). Created when missing; an existing one
// that others may only read is closed to them; one that is a link, not ours, or writable by
// others is refused (RuntimeException).
FolderItem temporary();
// The XDG config folder ("$XDG_CONFIG_HOME", default "~/.config"), created when missing.
FolderItem preferences();
// The XDG desktop folder (XDG_DESKTOP_DIR from "user-dirs.dirs"), else "~/Desktop", falling back
// to the home folder when that does not exist.
FolderItem desktop();
// The user's home folder ($HOME, else the password database).
FolderItem home();

} // namespace lv::SpecialFolders
