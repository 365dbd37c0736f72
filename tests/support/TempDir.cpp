#include "TempDir.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileDescriptor.h"
#include "platform/PosixIo.h"

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

void removeTree(const std::filesystem::path& folder)
{
    ::chmod(folder.c_str(), 0700);
    const FileDescriptor top(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!top) {
        ::unlink(folder.c_str());
        return;
    }
    posix::removeFolderContents(top.get(), true);
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
