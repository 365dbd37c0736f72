#pragma once
// The main window's item list: one 50-pixel row per queued item with its icon, its name
// (shortened to fit) and its size, on white and light-blue stripes, at most one row selected.
//
// The list keeps its own rows; the window keeps the queue (Globals.Items) in step through the
// list's signals, so that row r always shows item r-1. The window's scroll bar (sbScroll) scrolls
// the list; the list keeps the bar's maximum at (ItemCount - 3) * 50 as rows come and go.

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/FolderItem.h"
#include "ui/main/LVfiDetails.h"

class QScrollBar;

namespace lv {

class Relay;

class LVDisplay : public QWidget {
    Q_OBJECT
public:
    explicit LVDisplay(QWidget* parent = nullptr);
    ~LVDisplay() override;

    std::int32_t RowHeight = 50;
    std::int32_t RowCount = 3;      // ItemCount + StartRowCount: the stripes painted
    std::int32_t ScrollValue = 0;   // vertical offset in pixels
    std::vector<LVfiDetails> Details;
    QScrollBar* sbScroll = nullptr;
    std::int32_t StartRowCount = 3;
    bool RowSelected = false;
    std::int32_t SelectedRow = 0;   // 1-based; meaningful while RowSelected
    std::int32_t ItemCount = 0;
    bool activeHighlight = true;    // the selected row's highlight: blue (active window) or grey

    // Appends a row for `f`; its size text follows when it is known.
    void Update(const FolderItem& f);
    // No rows, no selection.
    void Reset();
    // Removes row `row` (1-based), then raises ItemRemoved(row).
    void Remove(std::int32_t row);

    // Selects `row` as a click on it does.
    void selectRow(std::int32_t row);
    // Scrolls the list as little as needed to show `row` whole.
    void scrollToShow(std::int32_t row);
    void cancelSelection();

    // Asked once per item dropped on the list; true adds a row for it.
    std::function<bool(const FolderItem&)> onObjectDropped;

    // The row under content position y (1-based; may be past the last row).
    std::int32_t rowAt(int y) const;
    // True once every row's size text is known.
    bool sizesKnown() const;

signals:
    void SelectRow(int row);
    void ItemRemoved(int row);
    void Unselected();
    void contextMenuRequested(const QPoint& globalPosition);
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void updateScrollMaximum();
    QPixmap iconFor(const FolderItem& f) const;

    std::shared_ptr<Relay> m_relay;
    std::uint64_t m_nextId = 1;
};

} // namespace lv
