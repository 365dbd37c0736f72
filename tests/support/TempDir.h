#pragma once
// A fresh temporary folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace lv::test {

class TempDir {
public:
    // Under $TMPDIR (default /tmp) unless `base` is given (for example "/dev/shm").
    explicit TempDir(const std::filesystem::path& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return m_path / rel; }

private:
    std::filesystem::path m_path;
};

// Removes `folder` and everything in it, at any depth and however its modes closed it.
void removeTree(const std::filesystem::path& folder);
// Writes `bytes` to `file`, creating its parent folders.
void writeFile(const std::filesystem::path& file, std::string_view bytes);
// The whole content of `file`; throws std::runtime_error when it cannot be read.
std::string readFile(const std::filesystem::path& file);
// `size` pseudo-random bytes from a fixed seed.
std::string randomBytes(std::size_t size, unsigned seed = 1);
// Every path below `root`, relative, sorted ("dir/" for folders).
std::vector<std::string> listTree(const std::filesystem::path& root);
// Runs a shell command and returns its exit status; its standard output goes to `output` if given.
int runCommand(const std::string& command, std::string* output = nullptr);
// Quotes a path for the shell.
std::string shellQuote(const std::string& text);

} // namespace lv::test
