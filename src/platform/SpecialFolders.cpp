#include "platform/SpecialFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/FileDescriptor.h"

namespace lv::SpecialFolders {

namespace fs = std::filesystem;

namespace {

// An environment variable holding an absolute path (the XDG rule: relative ones are ignored).
std::optional<fs::path> absoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || value[0] != '/')
        return std::nullopt;
    return fs::path(value);
}

bool isFolder(const fs::path& p)
{
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `folder` and any missing parents, new ones private (0700) as XDG asks.
void createFolders(const fs::path& folder)
{
    if (isFolder(folder))
        return;
    if (folder.has_parent_path() && folder.parent_path() != folder)
        createFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) == 0)
        ::chmod(folder.c_str(), 0700);  // the owner needs to get in, whatever the umask took
    else if (errno != EEXIST)
        throw RuntimeException("Cannot create the folder " + folder.native() + ": " +
                                   std::system_category().message(errno), errno);
}

// The value of XDG_DESKTOP_DIR in a user-dirs.dirs file: a quoted path, absolute or starting
// with "$HOME"; nullopt when the file does not set it in that form.
std::optional<fs::path> desktopFromUserDirs(const fs::path& file, const fs::path& homeFolder)
{
    std::ifstream in(file);
    std::string line;
    std::optional<fs::path> result;
    while (std::getline(in, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.compare(start, key.size(), key) != 0)
            continue;
        std::string value;
        bool closed = false;
        for (std::size_t i = start + key.size(); i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (line[i] == '"') {
                closed = true;
                break;
            } else {
                value += line[i];
            }
        }
        if (!closed)
            continue;
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0)
            result = homeFolder / value.substr(std::min<std::size_t>(value.size(), 6));
        else if (!value.empty() && value[0] == '/')
            result = fs::path(value);
        // The last assignment wins, as when the shell reads the file.
    }
    return result;
}

} // namespace

FolderItem home()
{
    if (const char* value = std::getenv("HOME"); value && *value)
        return FolderItem(value);
    std::vector<char> buffer(16384);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return FolderItem(found->pw_dir);
    throw RuntimeException("The home folder is unknown");
}

std::vector<fs::path> temporaryCandidates()
{
    std::vector<fs::path> candidates;
    if (auto runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR"); runtime && isFolder(*runtime))
        candidates.push_back(*runtime / "lockvane");
    candidates.push_back(absoluteFromEnvironment("XDG_CACHE_HOME").value_or(home().path() / ".cache") / "lockvane");
    return candidates;
}

fs::path leftoverRecords()
{
    const fs::path state = absoluteFromEnvironment("XDG_STATE_HOME").value_or(home().path() / ".local" / "state");
    return state / "lockvane" / "leftovers";
}

FolderItem privateFolder(const fs::path& folder)
{
    createFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) == 0) {
        // The umask may have taken bits the owner needs.
        if (::chmod(folder.c_str(), 0700) != 0)
            throw RuntimeException("Cannot secure the temporary folder " + folder.native(), errno);
    } else if (errno != EEXIST) {
        throw RuntimeException("Cannot create the temporary folder " + folder.native() + ": " +
                                   std::system_category().message(errno), errno);
    }
    // Work files are created and replaced here, so anyone else who can write in could swap them.
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0)
        throw RuntimeException("Cannot examine the temporary folder " + folder.native(), errno);
    if (!S_ISDIR(st.st_mode))
        throw RuntimeException("The temporary folder " + folder.native() + " is no folder");
    if (st.st_uid != ::geteuid())
        throw RuntimeException("The temporary folder " + folder.native() + " belongs to another user");
    if ((st.st_mode & 022) != 0)
        throw RuntimeException("The temporary folder " + folder.native() + " is open to other users");
    // Others may only look in: nothing of theirs can be inside, so closing it is enough.
    if ((st.st_mode & 077) != 0) {
        FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd || ::fchmod(fd.get(), 0700) != 0)
            throw RuntimeException("Cannot secure the temporary folder " + folder.native(), errno);
    }
    return FolderItem(folder);
}

FolderItem temporary()
{
    return privateFolder(temporaryCandidates().front());
}

FolderItem preferences()
{
    const fs::path folder = absoluteFromEnvironment("XDG_CONFIG_HOME").value_or(home().path() / ".config");
    createFolders(folder);
    return FolderItem(folder);
}

FolderItem desktop()
{
    const fs::path homeFolder = home().path();
    const fs::path config = absoluteFromEnvironment("XDG_CONFIG_HOME").value_or(homeFolder / ".config");
    if (auto configured = desktopFromUserDirs(config / "user-dirs.dirs", homeFolder); configured && isFolder(*configured))
        return FolderItem(*configured);
    if (isFolder(homeFolder / "Desktop"))
        return FolderItem(homeFolder / "Desktop");
    return FolderItem(homeFolder);
}

} // namespace lv::SpecialFolders
