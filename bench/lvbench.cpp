// lvbench: the encryption and decryption roads, headless.
//
//   lvbench encrypt --cipher Blowfish|Serpent|AES [--store] --key KEY OUT ITEM...
//   lvbench decrypt --key KEY FILE DESTFOLDER
//   lvbench dataset [--quick] DIR   the benchmark data set (fixed seed) in DIR
//   lvbench bench [--quick] DIR     the data set in DIR/data, then both roads for every cipher,
//                                   compressed and stored, with MB/s and output sizes
//
// The roads run as in the program: settings from a fresh preferences folder, work files in the
// user's work folder chosen as the program chooses it (from the environment's runtime and cache
// folders), the job's status lines printed as they come. The exit status is 0 on success,
// 1 when a job failed (or the key is wrong), 2 for bad usage.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "DataSet.h"
#include "app/Globals.h"
#include "app/Preferences.h"
#include "engine/CipherSuite.h"
#include "engine/LVArchiver.h"
#include "engine/LVEncryptor.h"
#include "engine/LVTagger.h"
#include "engine/KeyCheck.h"
#include "engine/ZipThread.h"
#include "platform/StageClock.h"
#include "platform/MemoryTuning.h"
#include "support/RecordingGui.h"

namespace fs = std::filesystem;
using lv::FolderItem;

namespace {

constexpr int Ok = 0;
constexpr int JobFailed = 1;
constexpr int Usage = 2;

int usage()
{
    std::cerr << "usage: lvbench encrypt --cipher Blowfish|Serpent|AES [--store] [--stages] --key KEY OUT ITEM...\n"
                 "       lvbench decrypt --key KEY FILE DESTFOLDER\n"
                 "       lvbench dataset [--quick] DIR\n"
                 "       lvbench bench [--quick] DIR\n";
    return Usage;
}

// A private folder for the settings of one run, removed at the end.
class Session {
public:
    Session()
    {
        std::string pattern = (fs::temp_directory_path() / "lvbench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        m_dir = pattern;
        fs::create_directory(m_dir / "prefs");
        prefs.ReadPrefs(FolderItem(m_dir / "prefs"));
    }
    ~Session()
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    lv::JobSettings settings(bool compress) const
    {
        lv::JobSettings s = lv::Globals::jobSettings(prefs);
        s.compress = compress;
        return s;
    }

    // Runs one job started by `start` and reports its messages; true when it succeeded.
    template <typename Start>
    bool run(bool echo, Start start)
    {
        gui.clear();
        gui.setEcho(echo, "status: ");
        start();
        const lv::JobOutcome outcome = enc.waitForJob();
        for (const auto& m : gui.messages())
            std::cerr << m.message << (m.explanation.empty() ? "" : " " + m.explanation) << "\n";
        return outcome == lv::JobOutcome::Succeeded;
    }

    bool encrypt(const std::vector<FolderItem>& items, const FolderItem& out, const std::string& cipher,
                 const std::string& key, bool compress, bool echo)
    {
        return run(echo, [&] { enc.Encrypt(items, out, cipher, key, arc, gui.controls(), settings(compress)); });
    }

    bool decrypt(const FolderItem& file, const lv::LVTagger& header, const FolderItem& dest, const std::string& key,
                 std::unique_ptr<lv::BodyCipher> body, bool echo)
    {
        return run(echo, [&] {
            enc.Decrypt(file, dest, header.EncryptionType, key, header, arc, gui.controls(), settings(true),
                        std::move(body));
        });
    }

    lv::Preferences prefs;
    lv::test::RecordingGui gui;
    lv::ZipThread arch;
    lv::LVArchiver arc{arch};
    lv::LVEncryptor enc;

private:
    fs::path m_dir;
};

// Reads the header and checks the key's digest against it, as the key sheet does; the body's keys
// are derived beside the check. Prints the reason and returns false when the file cannot be
// decrypted with `key`.
bool checkKey(const FolderItem& file, const std::string& key, lv::LVTagger& header,
              std::unique_ptr<lv::BodyCipher>& body)
{
    if (!header.CheckTag(file)) {
        std::cerr << "Not an encrypted file: " << file.shellPath() << "\n";
        return false;
    }
    if (lv::KeyCheck::isLaterVersion(header)) {
        std::cout << lv::KeyCheck::LaterVersionText << "\n";
        return false;
    }
    lv::KeyCheckResult check = lv::checkKeyForDecryption(file, header, key);
    if (!check.matches) {
        std::cout << lv::KeyCheck::IncorrectKeyText << "\n";
        return false;
    }
    body = std::move(check.body);
    return true;
}

int encryptCommand(std::vector<std::string> args)
{
    std::string cipher, key;
    bool haveKey = false, store = false, stages = false;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--cipher" && i + 1 < args.size()) cipher = args[++i];
        else if (args[i] == "--key" && i + 1 < args.size()) key = args[++i], haveKey = true;
        else if (args[i] == "--store") store = true;
        else if (args[i] == "--stages") stages = true;
        else rest.push_back(args[i]);
    }
    if (!lv::CipherSuite::isKnown(cipher) || !haveKey || key.empty() || rest.size() < 2) return usage();
    const FolderItem out(fs::absolute(rest[0]));
    if (out.exists()) {
        std::cerr << "The output file exists already: " << out.shellPath() << "\n";
        return Usage;
    }
    std::vector<FolderItem> items;
    for (std::size_t i = 1; i < rest.size(); ++i) items.emplace_back(fs::absolute(rest[i]));
    Session session;
    if (stages) lv::StageClock::enable();
    const bool ok = session.encrypt(items, out, cipher, key, !store, true);
    // When each stage began and ended, and the CPU time spent by then.
    if (stages) lv::StageClock::report(std::cerr);
    return ok ? Ok : JobFailed;
}

int decryptCommand(std::vector<std::string> args)
{
    std::string key;
    bool haveKey = false;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--key" && i + 1 < args.size()) key = args[++i], haveKey = true;
        else rest.push_back(args[i]);
    }
    if (!haveKey || rest.size() != 2) return usage();
    FolderItem file(fs::absolute(rest[0]).lexically_normal());
    // A link stands for the file it names, as for a document handed to the program.
    if (const auto target = file.resolveAlias()) file = *target;
    const FolderItem dest(fs::absolute(rest[1]).lexically_normal());
    lv::LVTagger header;
    std::unique_ptr<lv::BodyCipher> body;
    if (!checkKey(file, key, header, body)) return JobFailed;
    Session session;
    if (!session.decrypt(file, header, dest, key, std::move(body), true)) return JobFailed;
    std::cout << "Extracted into " << session.enc.extractionFolder().shellPath() << "\n";
    return Ok;
}

// --- the data set --------------------------------------------------------------------------------

std::uintmax_t treeBytes(const fs::path& dir)
{
    std::uintmax_t sum = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) sum += e.file_size();
    return sum;
}

int datasetCommand(const std::vector<std::string>& args)
{
    const bool quick = !args.empty() && args[0] == "--quick";
    if (args.size() != (quick ? 2u : 1u)) return usage();
    const std::string dir = args.back();
    const bench::DataSetSummary summary = bench::makeDataSet(dir, quick);
    std::cout << "Data set in " << dir << ": " << double(summary.bytes) / 1e6 << " MB in " << summary.files
              << " files\n";
    return Ok;
}

int benchCommand(const std::vector<std::string>& args)
{
    bool quick = false;
    std::vector<std::string> rest;
    for (const auto& a : args) (a == "--quick" ? quick = true : (rest.push_back(a), false));
    if (rest.size() != 1) return usage();
    const fs::path dir = fs::absolute(rest[0]);
    const fs::path data = dir / "data";
    if (!fs::exists(data)) bench::makeDataSet(data, quick);
    const double inputMB = double(treeBytes(data)) / 1e6;
    std::printf("input %.1f MB in %s\n", inputMB, data.c_str());
    std::printf("%-9s %-10s %10s %10s %12s\n", "cipher", "mode", "enc MB/s", "dec MB/s", "output MB");

    Session session;
    const std::string key = "benchmark key";
    bool allOk = true;
    for (const char* cipher : {"Blowfish", "Serpent", "AES"}) {
        for (bool compress : {true, false}) {
            const fs::path out = dir / "out.cdx";
            const fs::path dest = dir / "decrypted";
            std::error_code ec;
            fs::remove(out, ec);
            fs::remove_all(dest, ec);
            fs::create_directories(dest);

            using Clock = std::chrono::steady_clock;
            const auto t0 = Clock::now();
            bool ok = session.encrypt({FolderItem(data)}, FolderItem(out), cipher, key, compress, false);
            const auto t1 = Clock::now();
            lv::LVTagger header;
            std::unique_ptr<lv::BodyCipher> body;
            ok = ok && checkKey(FolderItem(out), key, header, body) &&
                 session.decrypt(FolderItem(out), header, FolderItem(dest), key, std::move(body), false);
            const auto t2 = Clock::now();
            ok = ok && treeBytes(dest) == treeBytes(data);

            const double enc = std::chrono::duration<double>(t1 - t0).count();
            const double dec = std::chrono::duration<double>(t2 - t1).count();
            const double outMB = ok ? double(fs::file_size(out)) / 1e6 : 0;
            std::printf("%-9s %-10s %10.1f %10.1f %12.1f%s\n", cipher, compress ? "compressed" : "stored",
                        inputMB / enc, inputMB / dec, outMB, ok ? "" : "  FAILED");
            std::fflush(stdout);
            allOk = allOk && ok;
            fs::remove(out, ec);
            fs::remove_all(dest, ec);
        }
    }
    return allOk ? Ok : JobFailed;
}

} // namespace

int main(int argc, char** argv)
{
    lv::tuneMemory(argv);
    if (argc < 2) return usage();
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "encrypt") return encryptCommand(args);
        if (command == "decrypt") return decryptCommand(args);
        if (command == "dataset") return datasetCommand(args);
        if (command == "bench") return benchCommand(args);
    } catch (const std::exception& e) {
        std::cerr << "lvbench: " << e.what() << "\n";
        return JobFailed;
    }
    return usage();
}
