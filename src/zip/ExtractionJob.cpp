#include "zip/ExtractionJob.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>

#include "platform/DiskSpace.h"
#include "zip/ZipArchive.h"
#include "zip/ZipEntry.h"

namespace lv {

namespace {

constexpr int MaxNumberedFolders = 10000;
constexpr std::uint64_t Block = 4096;

std::string quoted(const FolderItem& f) { return "\"" + f.displayName() + "\""; }

std::uint64_t inBlocks(std::uint64_t bytes) { return (bytes + Block - 1) / Block * Block; }

// `path` with the leading components `from` replaced by `to`; nullopt when it does not start there.
std::optional<std::filesystem::path> moved(const std::filesystem::path& path, const std::filesystem::path& from,
                                           const std::filesystem::path& to)
{
    auto p = path.begin();
    for (auto f = from.begin(); f != from.end(); ++f, ++p)
        if (p == path.end() || *p != *f)
            return std::nullopt;
    std::filesystem::path result = to;
    for (; p != path.end(); ++p)
        result /= *p;
    return result;
}

} // namespace

ExtractionJob::ExtractionJob(FolderItem root, bool decodeMacBinary)
    : m_root(std::move(root)), m_decodeMacBinary(decodeMacBinary)
{
}

std::unique_ptr<ExtractionJob> ExtractionJob::claimFolder(const FolderItem& parent, const std::string& name,
                                                          std::string& error)
{
    for (int n = 1; n <= MaxNumberedFolders; ++n) {
        FolderItem candidate = parent.child(n == 1 ? name : name + std::to_string(n));
        // Made by this call or not ours: mkdir decides atomically, also against another job.
        if (candidate.createAsFolder()) {
            auto job = std::make_unique<ExtractionJob>(candidate);
            job->m_ownsRoot = true;
            return job;
        }
        if (candidate.lastErrorCode() != EEXIST) {
            error = "The folder " + quoted(candidate) + " could not be made in " + quoted(parent) + ": " +
                candidate.lastErrorText();
            return nullptr;
        }
    }
    error = "There is no free name for the folder " + quoted(parent.child(name)) + " in " + quoted(parent) + ".";
    return nullptr;
}

std::uint64_t ExtractionJob::bytesNeeded(const ZipArchive& archive)
{
    std::uint64_t total = 0;
    for (std::int32_t i = 1; i <= archive.EntryCount(); ++i) {
        const auto entry = archive.Entry(i);
        std::uint64_t bytes = std::uint32_t(entry->Size());
        if (const auto companion = entry->appleDoubleCompanion())
            bytes += std::uint32_t(companion->Size());
        total += inBlocks(bytes);
    }
    return total;
}

std::string ExtractionJob::checkRoom(const ZipArchive& archive) const
{
    // The folder the user chose: the root's parent when the job made the root or will make it.
    const FolderItem where = !m_ownsRoot && m_root.exists() ? m_root : m_root.parent();
    const auto free = DiskSpace::available(where.path());
    const std::uint64_t need = bytesNeeded(archive);
    if (!free || need <= *free)
        return {};
    return "There is not enough free space for the extracted files: they need " + DiskSpace::describe(need) +
        ", but " + quoted(where) + " has only " + DiskSpace::describe(*free) + " free.";
}

bool ExtractionJob::extract(ZipEntry& entry, std::string& error)
{
    const auto fail = [&](const std::string& reason) {
        error = "Extraction of \"" + entry.RawPath() + "\" failed: " + reason;
        return false;
    };
    std::vector<FolderItem> madeOnTheWay;
    FolderItem target;
    try {
        target = entry.MakeDestination(m_root, false, &madeOnTheWay);
    } catch (...) {
        for (const FolderItem& f : madeOnTheWay)
            record(f);
        throw;
    }
    for (const FolderItem& f : madeOnTheWay)
        record(f);

    const bool existed = !target.isNull() && target.exists();
    // A file there came from an earlier entry of the same name (duplicates, or names that differ
    // only in case on a file system that ignores it) or, in a root of the job's own, from
    // someone else: the entry must not overwrite it in silence.
    if (existed && !entry.IsDirectory() && !target.isFolder() && (m_ownsRoot || createdHere(target)))
        return fail(FileExtractedAlreadyText);

    FolderItem extracted;
    if (!entry.Extract(target, m_decodeMacBinary, true, extracted))
        return fail(entry.ErrorMessage());

    std::lock_guard lock(m_mutex);
    if (!existed) {
        m_created.push_back(extracted);
        m_createdPaths.insert(extracted.path());
    } else if (!(extracted == target) && m_createdPaths.count(target.path())) {
        // A folder of the job's got its Mac name back: what was made in it moved along.
        for (FolderItem& f : m_created)
            if (const auto p = moved(f.path(), target.path(), extracted.path()))
                f = FolderItem(*p);
        m_createdPaths.clear();
        for (const FolderItem& f : m_created)
            m_createdPaths.insert(f.path());
    }
    if (const auto mode = entry.FolderMode(); mode && !(extracted == m_root) && m_createdPaths.count(extracted.path()))
        m_folderModes.emplace_back(extracted, *mode);
    return true;
}

void ExtractionJob::finish()
{
    std::lock_guard lock(m_mutex);
    // Deepest first: a folder closed to its owner would keep the modes below it from being set.
    std::stable_sort(m_folderModes.begin(), m_folderModes.end(), [](const auto& a, const auto& b) {
        return std::distance(a.first.path().begin(), a.first.path().end()) >
            std::distance(b.first.path().begin(), b.first.path().end());
    });
    for (auto& [folder, mode] : m_folderModes)
        folder.setPermissions(mode);
    m_folderModes.clear();
}

bool ExtractionJob::removeCreated()
{
    std::lock_guard lock(m_mutex);
    std::vector<FolderItem> items = m_created;
    if (m_ownsRoot)
        items.insert(items.begin(), m_root);
    // A folder mode already applied must not keep its contents in: the job's folders are opened
    // to their owner first, parents before children.
    for (FolderItem& f : items)
        if (f.isFolder())
            f.setPermissions(0700);
    bool all = true;
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (it->exists() && !it->remove())
            all = false;
    m_created.clear();
    m_createdPaths.clear();
    m_folderModes.clear();
    return all;
}

void ExtractionJob::record(const FolderItem& item)
{
    std::lock_guard lock(m_mutex);
    m_created.push_back(item);
    m_createdPaths.insert(item.path());
}

bool ExtractionJob::createdHere(const FolderItem& item) const
{
    std::lock_guard lock(m_mutex);
    return m_createdPaths.count(item.path()) != 0;
}

} // namespace lv
