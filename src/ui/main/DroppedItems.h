#pragma once
// The files and folders of a drag from a file manager (local-file addresses), in drag order.

#include <vector>

#include "platform/FolderItem.h"

class QMimeData;

namespace lv::DroppedItems {

bool accepts(const QMimeData* data);
std::vector<FolderItem> from(const QMimeData* data);

} // namespace lv::DroppedItems
