#pragma once
// Shared set-up of the tests that run the encryption and decryption roads on real threads: a
// work folder, items, a destination, the three workers and a recording GUI that can hold a worker
// at a chosen point so that a Cancel lands exactly there.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/LVArchiver.h"
#include "engine/LVEncryptor.h"
#include "engine/LVTagger.h"
#include "engine/ZipThread.h"
#include "platform/FolderItem.h"
#include "support/RecordingGui.h"
#include "support/TempDir.h"
#include "zip/ZipArchive.h"

namespace lv::test {

// One point where a worker waits until the test lets it go on (only the first time it passes).
class Pause {
public:
    void reach();
    // Waits (generously) until a worker has reached the point.
    bool waitReached();
    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_reached = false;
    bool m_released = false;
};

// Holds the worker that shows the first progress value after the status `status`.
class PausingGui : public RecordingGui {
public:
    void pauseAtFirstValueAfter(std::string status);
    Pause& pause() { return m_pause; }

    void setText(const std::string& text) override;
    void setValue(std::int32_t value) override;

private:
    std::mutex m_mutex;
    std::string m_trigger;
    bool m_armed = false;
    Pause m_pause;
};

class RoadTest : public ::testing::Test {
protected:
    RoadTest();
    ~RoadTest() override;

    JobSettings settings(bool compress = true) const;
    // Runs a whole job and returns its outcome.
    JobOutcome encrypt(const std::vector<FolderItem>& items, const FolderItem& target, const std::string& cipher,
                       bool compress = true, const std::string& key = "key");
    JobOutcome decrypt(const FolderItem& file, const FolderItem& destFolder, const std::string& key = "key");
    // Starts a job without waiting.
    void startEncrypt(const std::vector<FolderItem>& items, const FolderItem& target, const std::string& cipher,
                      bool compress = true, const std::string& key = "key");
    // The key is checked against the file's digest first, and the body's keys are made beside
    // it, as on the program's roads; a key that does not match starts the job without them.
    void startDecrypt(const FolderItem& file, const FolderItem& destFolder, const std::string& key = "key");

    // The names left in the work folder.
    std::vector<std::string> workLeftovers() const;
    // The records of hidden items left for the next start to remove.
    std::vector<std::string> leftoverRecords() const;
    // The events with progress values dropped and any maximum above 1 shown as "max: *".
    std::vector<std::string> shape() const;

    TempDir root;
    std::filesystem::path work;
    std::filesystem::path items;
    std::filesystem::path dest;
    PausingGui gui;
    ZipThread arch;
    LVArchiver arc{arch};
    LVEncryptor enc;

private:
    std::optional<std::string> m_savedStateHome;
};

// An encrypted file at `out` (AES, key "key") whose body is the archive `build` makes with the
// zip library, so that a test can hand the decryption any archive it likes.
std::filesystem::path encryptedArchive(const std::filesystem::path& out, const std::function<void(ZipArchive&)>& build);
// Adds the entry `name` (a folder entry when it ends in "/") holding `bytes`, without a date;
// with `mode`, the entry carries that Unix mode in its external attributes, made on Unix.
void addEntry(ZipArchive& archive, const std::string& name, const std::string& bytes = {},
              std::optional<std::uint32_t> mode = std::nullopt);

// Builds a tree in `dir`: a folder "Tree" with nested folders, an empty folder, a text-like file, a
// random file, a file with a resource fork and type/creator, a non-ASCII name; and a loose file
// "loose.bin". Returns the top-level items.
std::vector<FolderItem> makeFixtureTree(const std::filesystem::path& dir);
// Expects `copy` to hold every folder, byte, modification date, resource fork, type and creator of
// `original` (a file or a folder tree), and each folder's mode and date.
void expectSameTree(const std::filesystem::path& original, const std::filesystem::path& copy);

} // namespace lv::test
