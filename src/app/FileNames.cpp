#include "app/FileNames.h"

#include <sys/stat.h>

#include <QFile>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace lv::FileNames {

namespace fs = std::filesystem;

namespace {

QString textOf(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }
std::string bytesOf(const QString& text) { return QFile::encodeName(text).toStdString(); }

bool present(const fs::path& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The one entry of `folder` whose readable name is `name`; empty when none or several are.
fs::path entryNamed(const fs::path& folder, const QString& name)
{
    fs::path found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (textOf(it->path().filename().native()) != name) continue;
        if (!found.empty()) return {};
        found = it->path();
    }
    return found;
}

} // namespace

QString toQt(const FolderItem& item) { return textOf(item.shellPath()); }

FolderItem fromQt(const QString& path)
{
    const fs::path written(bytesOf(path));
    if (present(written) || !written.is_absolute()) return FolderItem(written);
    fs::path resolved = written.root_path();
    for (const fs::path& component : written.relative_path()) {
        fs::path next = resolved / component;
        if (!present(next)) {
            next = entryNamed(resolved, textOf(component.native()));
            if (next.empty()) return FolderItem(written);
        }
        resolved = std::move(next);
    }
    return FolderItem(resolved);
}

FolderItem fromUrl(const QUrl& url)
{
    if (!url.isLocalFile()) return {};
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (path.isEmpty()) return {};
    return FolderItem(fs::path(path.toStdString()));
}

} // namespace lv::FileNames
