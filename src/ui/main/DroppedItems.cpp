#include "ui/main/DroppedItems.h"

#include <QMimeData>
#include <QUrl>

#include "app/FileNames.h"

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
        // The names' bytes as the file manager gave them, whatever they hold.
        const FolderItem item = FileNames::fromUrl(url);
        if (!item.isNull()) items.push_back(item);
    }
    return items;
}

} // namespace lv::DroppedItems
