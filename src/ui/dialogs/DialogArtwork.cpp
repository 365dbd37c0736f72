#include "ui/dialogs/DialogArtwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace lv::DialogArtwork {

namespace {

const QColor Ink(0x4a, 0x55, 0x66);
const QColor Blue(0x3b, 0x7d, 0xd8);

void drawGeneral(QPainter& p, double s)
{
    // Two slider switches on a rounded plate.
    p.setPen(Qt::NoPen);
    QLinearGradient plate(0, s * 0.1, 0, s * 0.9);
    plate.setColorAt(0, QColor(0xf4, 0xf6, 0xf9));
    plate.setColorAt(1, QColor(0xd9, 0xde, 0xe6));
    p.setBrush(plate);
    p.drawRoundedRect(QRectF(s * 0.08, s * 0.1, s * 0.84, s * 0.8), s * 0.14, s * 0.14);
    for (const auto& [y, knob] : {std::pair{0.34, 0.66}, std::pair{0.66, 0.34}}) {
        p.setPen(QPen(Ink, s * 0.07, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.22, s * y), QPointF(s * 0.78, s * y));
        p.setPen(QPen(Ink, s * 0.03));
        p.setBrush(knob > 0.5 ? Blue : QColor(Qt::white));
        p.drawEllipse(QPointF(s * knob, s * y), s * 0.1, s * 0.1);
    }
}

void drawNotifications(QPainter& p, double s)
{
    // A speech bubble with three lines of text.
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(s * 0.08, s * 0.12, s * 0.84, s * 0.58), s * 0.14, s * 0.14);
    QPainterPath tail;
    tail.moveTo(s * 0.26, s * 0.66);
    tail.lineTo(s * 0.2, s * 0.9);
    tail.lineTo(s * 0.46, s * 0.68);
    tail.closeSubpath();
    bubble = bubble.united(tail);
    QLinearGradient fill(0, s * 0.12, 0, s * 0.9);
    fill.setColorAt(0, QColor(0xfd, 0xe3, 0x8a));
    fill.setColorAt(1, QColor(0xf2, 0xb8, 0x3b));
    p.setPen(QPen(QColor(0xb0, 0x80, 0x20), s * 0.03));
    p.setBrush(fill);
    p.drawPath(bubble);
    p.setPen(QPen(QColor(0x6b, 0x4e, 0x12), s * 0.05, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.24, s * 0.3), QPointF(s * 0.76, s * 0.3));
    p.drawLine(QPointF(s * 0.24, s * 0.42), QPointF(s * 0.76, s * 0.42));
    p.drawLine(QPointF(s * 0.24, s * 0.54), QPointF(s * 0.56, s * 0.54));
}

void drawUpdates(QPainter& p, double s)
{
    // Two arrows chasing each other round a circle.
    const QRectF ring(s * 0.18, s * 0.18, s * 0.64, s * 0.64);
    p.setPen(QPen(QColor(0x2f, 0x9a, 0x4a), s * 0.1, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(ring, 20 * 16, 140 * 16);
    p.drawArc(ring, 200 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2f, 0x9a, 0x4a));
    const QPointF c = ring.center();
    const double r = ring.width() / 2;
    for (int turn = 0; turn < 2; ++turn) {
        p.save();
        p.translate(c);
        p.rotate(turn * 180.0);
        // The head sits at the arc's start (20 degrees), pointing on clockwise.
        p.rotate(-20.0);
        QPainterPath head;
        head.moveTo(r - s * 0.13, 0);
        head.lineTo(r + s * 0.13, 0);
        head.lineTo(r, s * 0.15);
        head.closeSubpath();
        p.drawPath(head);
        p.restore();
    }
}

} // namespace

void drawStrengthBar(QPainter& p, const QRect& r, int level)
{
    QColor top, bottom;
    switch (level) {
    case 1: top = QColor(0xff, 0x6a, 0x60); bottom = QColor(0xd8, 0x1e, 0x14); break;
    case 2: top = QColor(0xff, 0xe0, 0x6e); bottom = QColor(0xf0, 0xb0, 0x10); break;
    case 3: top = QColor(0x4c, 0xd6, 0x5c); bottom = QColor(0x00, 0x9a, 0x10); break;
    default: return;
    }
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(r, g);
}

QIcon prefsIcon(PrefsIcon which)
{
    QIcon icon;
    for (int size : {32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        switch (which) {
        case PrefsIcon::General: drawGeneral(p, size); break;
        case PrefsIcon::Notifications: drawNotifications(p, size); break;
        case PrefsIcon::Updates: drawUpdates(p, size); break;
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace lv::DialogArtwork
