#pragma once
// One row of the item list: the item's icon, its display name, its size text and its place.

#include <QPixmap>
#include <QString>

#include <cstdint>

namespace lv {

struct LVfiDetails {
    QPixmap Icon;          // 32 pixels wide
    QString DisplayName;   // the name as the file manager shows it, when the row was added
    QString Size;          // the size text; empty until it is known
    std::int32_t RowTag = 0;  // the row's 1-based number plus StartRowCount
    std::uint64_t id = 0;  // identifies the row for its size text, whatever rows come and go
};

} // namespace lv
