#pragma once
// The folders the program keeps its files in.

#include <filesystem>
#include <vector>

#include "platform/FolderItem.h"

namespace lv::SpecialFolders {

// Where the private folder for work files may be, in the order it is preferred:
// "$XDG_RUNTIME_DIR/lockvane" (when that names an existing folder; usually a small RAM-backed
// file system), then "$XDG_CACHE_HOME/lockvane" (default "~/.cache/lockvane"). Nothing is created.
std::vector<std::filesystem::path> temporaryCandidates();
// The private folder (mode 0700) at `folder`, one of the candidates. Created when missing, with
// missing parents (0700); an existing one that others may only read is closed to them; one that
// is a link, not ours, or writable by others is refused (RuntimeException).
FolderItem privateFolder(const std::filesystem::path& folder);
// The first candidate, as privateFolder makes it.
FolderItem temporary();
// Where the records of the hidden items a job makes beside the user's files are kept, so that
// they outlive a logout, a reboot or a crash: "$XDG_STATE_HOME/lockvane/leftovers" (default
// "~/.local/state/lockvane/leftovers"). Nothing is created; privateFolder makes it.
std::filesystem::path leftoverRecords();
// The XDG config folder ("$XDG_CONFIG_HOME", default "~/.config"), created when missing.
FolderItem preferences();
// The XDG desktop folder (XDG_DESKTOP_DIR from "user-dirs.dirs"), else "~/Desktop", falling back
// to the home folder when that does not exist.
FolderItem desktop();
// The user's home folder ($HOME, else the password database).
FolderItem home();

} // namespace lv::SpecialFolders
