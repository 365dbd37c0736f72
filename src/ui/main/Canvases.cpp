#include "ui/main/Canvases.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "ui/main/DroppedItems.h"

namespace lv {

DropZoneCanvas::DropZoneCanvas(QWidget* parent) : QWidget(parent) { setAcceptDrops(true); }

void DropZoneCanvas::setPicture(Artwork::DropZone picture)
{
    m_picture = picture;
    update();
}

void DropZoneCanvas::restPicture()
{
    setPicture(window()->isActiveWindow() ? Artwork::DropZone::Active : Artwork::DropZone::Inactive);
}

void DropZoneCanvas::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Artwork::drawDropZone(p, rect(), m_picture);
}

void DropZoneCanvas::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedItems::accepts(event->mimeData())) return;
    event->acceptProposedAction();
    setPicture(Artwork::DropZone::Hover);
}

void DropZoneCanvas::dragMoveEvent(QDragMoveEvent* event)
{
    if (DroppedItems::accepts(event->mimeData())) event->acceptProposedAction();
}

void DropZoneCanvas::dragLeaveEvent(QDragLeaveEvent*) { restPicture(); }

void DropZoneCanvas::dropEvent(QDropEvent* event)
{
    event->acceptProposedAction();
    restPicture();  // no drag-leave follows a drop
    emit dropped(DroppedItems::from(event->mimeData()), event->proposedAction() == Qt::LinkAction);
}

void BottomBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Artwork::drawBottomBar(p, rect());
}

PictureButton::PictureButton(Artwork::Button kind, QWidget* parent) : QWidget(parent), m_kind(kind) {}

void PictureButton::setPressed(bool pressed)
{
    m_pressed = pressed;
    update();
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    Artwork::drawButton(p, rect(), m_kind, m_pressed, isEnabled());
}

void PictureButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    setPressed(true);
    emit mouseDown();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed) return;
    emit mouseUp();
}

ListLineCanvas::ListLineCanvas(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ListLineCanvas::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(QColor(0x7e, 0x7e, 0x7e));
    p.drawLine(0, 168, width(), 168);
}

} // namespace lv
