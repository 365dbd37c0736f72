#include "TempDir.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lv::test {

TempDir::TempDir(const std::filesystem::path& base)
{
    std::filesystem::path root = base;
    if (root.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        root = tmp && *tmp ? tmp : "/tmp";
    }
    std::string templ = (root / "lvtest-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed under " + root.string());
    m_path = templ;
}

TempDir::~TempDir()
{
    removeTree(m_path);
}

namespace {

std::vector<std::string> namesIn(int folder)
{
    std::vector<std::string> names;
    DIR* dir = ::fdopendir(::dup(folder));
    if (!dir)
        return names;
    ::rewinddir(dir);
    while (const dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
}

bool isFolder(int folder, const std::string& name)
{
    struct stat st;
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void removeTree(const std::filesystem::path& folder)
{
    ::chmod(folder.c_str(), 0700);
    const int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0) {
        ::unlink(folder.c_str());
        return;
    }
    // Each pass empties the folders in the top one into it and removes them: a tree of any
    // depth flattens level by level.
    for (unsigned serial = 0, pass = 0; pass < 100000; ++pass) {
        bool more = false;
        for (const std::string& name : namesIn(top)) {
            if (!isFolder(top, name)) {
                ::unlinkat(top, name.c_str(), 0);
                continue;
            }
            ::fchmodat(top, name.c_str(), 0700, 0);
            const int sub = ::openat(top, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0)
                continue;
            for (const std::string& inner : namesIn(sub)) {
                if (!isFolder(sub, inner)) {
                    ::unlinkat(sub, inner.c_str(), 0);
                    continue;
                }
                std::string up;
                do
                    up = ".removing-" + std::to_string(serial++);
                while (::faccessat(top, up.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0);
                ::renameat(sub, inner.c_str(), top, up.c_str());
                more = true;
            }
            ::close(sub);
            ::unlinkat(top, name.c_str(), AT_REMOVEDIR);
        }
        if (!more)
            break;
    }
    ::close(top);
    ::rmdir(folder.c_str());
}

void writeFile(const std::filesystem::path& file, std::string_view bytes)
{
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (auto& c : out)
        c = char(gen() & 0xFF);
    return out;
}

std::vector<std::string> listTree(const std::filesystem::path& root)
{
    std::vector<std::string> out;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        std::string rel = std::filesystem::relative(it->path(), root).string();
        if (it->is_directory() && !it->is_symlink())
            rel += "/";
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

int runCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        if (output)
            output->append(buf.data(), n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace lv::test
