#include "ui/main/DroppedItems.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace lv::DroppedItems {

bool accepts(const QMimeData* data)
{
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

std::vector<FolderItem> from(const QMimeData* data)
{
    std::vector<FolderItem> items;
    if (!data) return items;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        QString path = url.toLocalFile();
        while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
        items.emplace_back(std::filesystem::path(QFile::encodeName(path).toStdString()));
    }
    return items;
}

} // namespace lv::DroppedItems
