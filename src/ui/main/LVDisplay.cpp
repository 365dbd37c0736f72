#include "ui/main/LVDisplay.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QIcon>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>

#include "ui/main/Artwork.h"
#include "ui/main/CalcSize.h"
#include "ui/main/DroppedItems.h"

namespace lv {

namespace {

const QColor Outline(0x7e, 0x7e, 0x7e);
const QColor OddStripe(0xed, 0xf2, 0xfd);
constexpr int IconSize = 32;
constexpr int NameLeft = 45;
constexpr int NameWidth = 289;
constexpr int SizeLeft = 344;

} // namespace

LVDisplay::LVDisplay(QWidget* parent) : QWidget(parent), m_relay(std::make_shared<Relay>(this))
{
    setObjectName(QStringLiteral("lvdList"));
    setFocusPolicy(Qt::NoFocus);
    setAcceptDrops(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

LVDisplay::~LVDisplay() { m_relay->detach(); }

QPixmap LVDisplay::iconFor(const FolderItem& f) const
{
    QIcon icon;
    if (f.isFolder()) {
        icon = QIcon::fromTheme(QStringLiteral("folder"));
    } else {
        static const QMimeDatabase mimes;
        const QMimeType type = mimes.mimeTypeForFile(QFile::decodeName(QByteArray::fromStdString(f.shellPath())));
        icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
        if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    }
    if (!icon.isNull()) {
        const QPixmap pixmap = icon.pixmap(IconSize, IconSize);
        if (!pixmap.isNull()) return pixmap;
    }
    return Artwork::fallbackItemIcon(f.isFolder(), IconSize);
}

void LVDisplay::updateScrollMaximum()
{
    if (sbScroll) sbScroll->setMaximum(std::max(0, RowCount * RowHeight - StartRowCount * RowHeight * 2));
}

void LVDisplay::Update(const FolderItem& f)
{
    RowCount += 1;
    LVfiDetails d;
    d.Icon = iconFor(f);
    d.DisplayName = QString::fromStdString(f.displayName());
    d.RowTag = RowCount;
    d.id = m_nextId++;
    const std::uint64_t id = d.id;
    updateScrollMaximum();
    Details.push_back(std::move(d));
    ItemCount += 1;
    CalcSize::Calculate(f, m_relay, [this, id](const std::string& text) {
        for (LVfiDetails& row : Details)
            if (row.id == id) {
                row.Size = QString::fromStdString(text);
                update();
            }
    });
    update();
}

void LVDisplay::Reset()
{
    RowCount = StartRowCount;
    Details.clear();
    ItemCount = 0;
    RowSelected = false;
    SelectedRow = 0;
    update();
    emit selectionChanged();
}

void LVDisplay::Remove(std::int32_t row)
{
    if (row < 1 || row > ItemCount) return;
    for (std::size_t i = std::size_t(row); i < Details.size(); ++i) Details[i].RowTag -= 1;
    Details.erase(Details.begin() + (row - 1));
    RowSelected = false;
    RowCount -= 1;
    ItemCount -= 1;
    updateScrollMaximum();
    update();
    emit ItemRemoved(row);
    emit selectionChanged();
}

void LVDisplay::selectRow(std::int32_t row)
{
    if (row < 1 || row > ItemCount) return;
    SelectedRow = row;
    RowSelected = true;
    emit SelectRow(row);
    emit selectionChanged();
    update();
}

void LVDisplay::scrollToShow(std::int32_t row)
{
    if (!sbScroll || row < 1 || row > ItemCount) return;
    const int top = (row - 1) * RowHeight;
    const int bottom = row * RowHeight;
    if (top < ScrollValue)
        sbScroll->setValue(top);
    else if (bottom > ScrollValue + height())
        sbScroll->setValue(bottom - height());
}

void LVDisplay::cancelSelection()
{
    RowSelected = false;
    emit selectionChanged();
    update();
}

std::int32_t LVDisplay::rowAt(int y) const
{
    return RowHeight > 0 ? (y + ScrollValue) / RowHeight + 1 : 1;
}

bool LVDisplay::sizesKnown() const
{
    for (const LVfiDetails& d : Details)
        if (d.Size.isEmpty()) return false;
    return true;
}

void LVDisplay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!sbScroll || sbScroll->maximum() < 1) ScrollValue = 0;
    const int w = width();
    const int h = height();
    p.fillRect(rect(), Qt::white);
    for (int i = 0; i < RowCount; ++i)
        p.fillRect(QRect(1, i * 50 - ScrollValue, w - 2, 50), (i % 2) ? OddStripe : QColor(Qt::white));
    p.setPen(Outline);
    p.drawLine(0, 0, 0, h);
    p.drawLine(w - 1, 0, w - 1, h);

    if (RowSelected)
        Artwork::drawRowHighlight(p, QRect(1, SelectedRow * RowHeight - 50 - ScrollValue, w - 2, RowHeight), activeHighlight);

    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const QFontMetrics metrics(font);
    const auto drawTexts = [&](const LVfiDetails& d, int baseline) {
        p.drawText(NameLeft, baseline, metrics.elidedText(d.DisplayName, Qt::ElideRight, NameWidth));
        p.drawText(SizeLeft, baseline, d.Size);
    };
    for (const LVfiDetails& d : Details) {
        const int bottom = (d.RowTag - StartRowCount) * RowHeight;
        p.drawPixmap(6, bottom - 40 - ScrollValue, d.Icon);
        p.setPen(Qt::black);
        drawTexts(d, bottom - 18 - ScrollValue);
    }
    if (RowSelected && SelectedRow >= 1 && SelectedRow <= ItemCount) {
        p.setPen(Qt::white);
        drawTexts(Details[std::size_t(SelectedRow - 1)], SelectedRow * RowHeight - ScrollValue - 18);
    }
}

void LVDisplay::mousePressEvent(QMouseEvent* event)
{
    // A contextual click (right button, or Control with the left one) keeps the selection.
    if (event->button() == Qt::RightButton) return;
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::MetaModifier)) {
        emit contextMenuRequested(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    const std::int32_t row = rowAt(int(event->position().y()));
    if (row <= ItemCount)
        selectRow(row);
    else
        emit Unselected();
}

void LVDisplay::contextMenuEvent(QContextMenuEvent* event) { emit contextMenuRequested(event->globalPos()); }

void LVDisplay::wheelEvent(QWheelEvent* event)
{
    if (sbScroll && sbScroll->maximum() > 0) {
        sbScroll->setValue(sbScroll->value() - event->angleDelta().y() / 120 * RowHeight / 2);
        event->accept();
    }
}

void LVDisplay::dragEnterEvent(QDragEnterEvent* event)
{
    if (DroppedItems::accepts(event->mimeData())) event->acceptProposedAction();
}

void LVDisplay::dragMoveEvent(QDragMoveEvent* event)
{
    if (DroppedItems::accepts(event->mimeData())) event->acceptProposedAction();
}

void LVDisplay::dropEvent(QDropEvent* event)
{
    event->acceptProposedAction();
    if (event->proposedAction() == Qt::LinkAction) return;  // a link drag adds nothing
    for (const FolderItem& item : DroppedItems::from(event->mimeData()))
        if (onObjectDropped && onObjectDropped(item)) Update(item);
}

} // namespace lv
