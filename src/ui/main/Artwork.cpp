#include "ui/main/Artwork.h"

#include <QFont>
#include <QObject>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <initializer_list>

namespace lv::Artwork {

namespace {

const QColor Ink(0x4a, 0x55, 0x66);
const QColor Blue(0x3b, 0x7d, 0xd8);

// The outline through `points` given as fractions of a square of side `s`.
QPolygonF scaled(double s, std::initializer_list<QPointF> points)
{
    QPolygonF polygon;
    for (const QPointF& point : points) polygon << point * s;
    return polygon;
}

void drawPadlock(QPainter& p, const QRectF& r, const QColor& body, const QColor& shackle)
{
    const double w = r.width();
    const double h = r.height();
    QPen pen(shackle, w * 0.12, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF arc(r.left() + w * 0.22, r.top(), w * 0.56, h * 0.62);
    QPainterPath hoop;
    hoop.moveTo(arc.left(), r.top() + h * 0.48);
    hoop.lineTo(arc.left(), arc.center().y());
    hoop.arcTo(arc, 180, -180);
    hoop.lineTo(arc.right(), r.top() + h * 0.48);
    p.drawPath(hoop);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    const QRectF box(r.left() + w * 0.08, r.top() + h * 0.44, w * 0.84, h * 0.56);
    p.drawRoundedRect(box, w * 0.1, w * 0.1);
    p.setBrush(QColor(255, 255, 255, 210));
    const double keyW = w * 0.12;
    p.drawEllipse(QPointF(box.center().x(), box.top() + box.height() * 0.42), keyW, keyW);
    p.drawRect(QRectF(box.center().x() - keyW * 0.4, box.top() + box.height() * 0.42, keyW * 0.8, box.height() * 0.36));
}

} // namespace

void drawDropZone(QPainter& p, const QRect& r, DropZone state)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const bool hover = state == DropZone::Hover;
    const bool inactive = state == DropZone::Inactive;
    QLinearGradient background(r.topLeft(), r.bottomLeft());
    background.setColorAt(0, hover ? QColor(0xe6, 0xf0, 0xff) : QColor(0xf7, 0xf8, 0xfa));
    background.setColorAt(1, hover ? QColor(0xd2, 0xe3, 0xfb) : QColor(0xe9, 0xec, 0xf0));
    p.fillRect(r, background);

    const QRectF well = QRectF(r).adjusted(12.5, 10.5, -12.5, -10.5);
    QPen border(hover ? Blue : (inactive ? QColor(0xbb, 0xbf, 0xc6) : QColor(0x9a, 0xa3, 0xb0)), hover ? 2.0 : 1.5,
                Qt::DashLine);
    border.setDashPattern({5, 4});
    p.setPen(border);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(well, 10, 10);

    const QColor tone = inactive ? QColor(0xa8, 0xad, 0xb5) : (hover ? Blue : Ink);
    const double lockSize = 40;
    const QRectF lock(well.center().x() - lockSize / 2, well.top() + 16, lockSize, lockSize * 1.1);
    drawPadlock(p, lock, tone, tone);

    QFont font = p.font();
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(tone);
    p.drawText(QRectF(well.left(), lock.bottom() + 8, well.width(), 22), Qt::AlignHCenter | Qt::AlignTop,
               QObject::tr("Drop files and folders here"));
    p.restore();
}

void drawBottomBar(QPainter& p, const QRect& r)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0xee, 0xee, 0xee));
    g.setColorAt(1, QColor(0xd6, 0xd6, 0xd6));
    p.fillRect(r, g);
    p.setPen(QColor(0xa5, 0xa5, 0xa5));
    p.drawLine(r.left(), r.top(), r.right(), r.top());
}

void drawButton(QPainter& p, const QRect& r, Button button, bool pressed, bool enabled)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, pressed ? QColor(0xc4, 0xc4, 0xc4) : QColor(0xf6, 0xf6, 0xf6));
    g.setColorAt(1, pressed ? QColor(0xb0, 0xb0, 0xb0) : QColor(0xdc, 0xdc, 0xdc));
    p.fillRect(r, g);
    p.setPen(QColor(0xa5, 0xa5, 0xa5));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topRight(), r.bottomRight());

    const QColor glyph = enabled ? QColor(0x3c, 0x3c, 0x3c) : QColor(0xa0, 0xa0, 0xa0);
    const QPointF c = QRectF(r).center() + QPointF(0, 0.5);
    QPen pen(glyph, 2.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    switch (button) {
    case Button::Add:
        p.drawLine(QPointF(c.x() - 5, c.y()), QPointF(c.x() + 5, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - 5), QPointF(c.x(), c.y() + 5));
        break;
    case Button::Minus:
        p.drawLine(QPointF(c.x() - 5, c.y()), QPointF(c.x() + 5, c.y()));
        break;
    case Button::Action: {
        // A gear: a ring with eight teeth, and a small arrow telling a menu opens.
        p.setPen(Qt::NoPen);
        p.setBrush(glyph);
        const QPointF g0(c.x() - 3, c.y());
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(g0);
            p.rotate(i * 45.0);
            p.drawRect(QRectF(-1.2, -6.2, 2.4, 3.0));
            p.restore();
        }
        p.drawEllipse(g0, 4.4, 4.4);
        p.setBrush(pressed ? QColor(0xba, 0xba, 0xba) : QColor(0xea, 0xea, 0xea));
        p.drawEllipse(g0, 1.8, 1.8);
        p.setBrush(glyph);
        QPainterPath arrow;
        arrow.moveTo(c.x() + 5, c.y() - 1.5);
        arrow.lineTo(c.x() + 10, c.y() - 1.5);
        arrow.lineTo(c.x() + 7.5, c.y() + 1.8);
        arrow.closeSubpath();
        p.drawPath(arrow);
        break;
    }
    }
    p.restore();
}

void drawRowHighlight(QPainter& p, const QRect& r, bool active)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    if (active) {
        g.setColorAt(0, QColor(0x5a, 0x95, 0xe6));
        g.setColorAt(1, QColor(0x2f, 0x6c, 0xcc));
    } else {
        g.setColorAt(0, QColor(0xb5, 0xb9, 0xc0));
        g.setColorAt(1, QColor(0x97, 0x9c, 0xa5));
    }
    p.fillRect(r, g);
}

void drawHeaderBar(QPainter& p, const QRect& r)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0xfb, 0xfb, 0xfb));
    g.setColorAt(1, QColor(0xe2, 0xe2, 0xe2));
    p.fillRect(r, g);
    p.setPen(QColor(0xb4, 0xb4, 0xb4));
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
}

void drawHeaderDivider(QPainter& p, int x, int top, int height)
{
    p.setPen(QColor(0xb4, 0xb4, 0xb4));
    p.drawLine(x, top + 2, x, top + height - 3);
    p.setPen(QColor(0xff, 0xff, 0xff));
    p.drawLine(x + 1, top + 2, x + 1, top + height - 3);
}

void drawLogo(QPainter& p, const QRectF& r)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double s = std::min(r.width(), r.height());
    const QRectF square(r.center().x() - s / 2, r.center().y() - s / 2, s, s);
    QLinearGradient plate(square.topLeft(), square.bottomLeft());
    plate.setColorAt(0, QColor(0x4f, 0x8f, 0xe8));
    plate.setColorAt(1, QColor(0x1f, 0x4f, 0xa8));
    p.setPen(Qt::NoPen);
    p.setBrush(plate);
    p.drawRoundedRect(square.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04), s * 0.2, s * 0.2);

    // The vane: a rod with an arrow pointing right, standing on the lock.
    const QColor gold(0xf5, 0xc4, 0x42);
    p.setPen(QPen(gold, s * 0.045, Qt::SolidLine, Qt::RoundCap));
    const double rodX = square.center().x();
    p.drawLine(QPointF(rodX, square.top() + s * 0.14), QPointF(rodX, square.top() + s * 0.32));
    p.drawLine(QPointF(square.left() + s * 0.3, square.top() + s * 0.2), QPointF(square.right() - s * 0.3, square.top() + s * 0.2));
    p.setPen(Qt::NoPen);
    p.setBrush(gold);
    QPainterPath head;
    head.moveTo(square.right() - s * 0.22, square.top() + s * 0.2);
    head.lineTo(square.right() - s * 0.32, square.top() + s * 0.14);
    head.lineTo(square.right() - s * 0.32, square.top() + s * 0.26);
    head.closeSubpath();
    p.drawPath(head);
    QPainterPath tail;
    tail.moveTo(square.left() + s * 0.3, square.top() + s * 0.2);
    tail.lineTo(square.left() + s * 0.22, square.top() + s * 0.13);
    tail.lineTo(square.left() + s * 0.26, square.top() + s * 0.2);
    tail.lineTo(square.left() + s * 0.22, square.top() + s * 0.27);
    tail.closeSubpath();
    p.drawPath(tail);

    drawPadlock(p, QRectF(square.left() + s * 0.27, square.top() + s * 0.34, s * 0.46, s * 0.52), QColor(0xff, 0xff, 0xff),
                QColor(0xe8, 0xee, 0xf8));
    p.restore();
}

QPixmap logo(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    drawLogo(p, QRectF(0, 0, size, size));
    return pixmap;
}

QIcon applicationIcon()
{
    QIcon icon = QIcon::fromTheme(QStringLiteral("lockvane"));
    if (!icon.isNull()) return icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(logo(size));
    return icon;
}

QPixmap fallbackItemIcon(bool folder, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    if (folder) {
        p.setPen(QPen(QColor(0x3d, 0x7a, 0xc4), 1));
        p.setBrush(QColor(0x8c, 0xb8, 0xee));
        p.drawPolygon(scaled(s, {{0.06, 0.22}, {0.38, 0.22}, {0.46, 0.32}, {0.94, 0.32}, {0.94, 0.84}, {0.06, 0.84}}));
        p.setBrush(QColor(0xa9, 0xcc, 0xf5));
        p.drawRect(QRectF(s * 0.06, s * 0.4, s * 0.88, s * 0.44));
    } else {
        p.setPen(QPen(QColor(0x8a, 0x8f, 0x98), 1));
        p.setBrush(Qt::white);
        p.drawPolygon(scaled(s, {{0.2, 0.06}, {0.62, 0.06}, {0.82, 0.26}, {0.82, 0.94}, {0.2, 0.94}}));
        p.drawLine(QPointF(s * 0.62, s * 0.06), QPointF(s * 0.62, s * 0.26));
        p.drawLine(QPointF(s * 0.62, s * 0.26), QPointF(s * 0.82, s * 0.26));
        p.setPen(QPen(QColor(0xc4, 0xc8, 0xcf), 1));
        for (int i = 0; i < 4; ++i) p.drawLine(QPointF(s * 0.3, s * (0.42 + i * 0.12)), QPointF(s * 0.72, s * (0.42 + i * 0.12)));
    }
    return pixmap;
}

} // namespace lv::Artwork
