#include "ui/main/LVDisplayHead.h"

#include <QPainter>

#include "ui/main/Artwork.h"

namespace lv {

LVDisplayHead::LVDisplayHead(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("lvdhHeader"));
    resize(430, 19);
}

void LVDisplayHead::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int w = width();
    const int h = height();
    Artwork::drawHeaderBar(p, QRect(0, 1, w, h - 1));
    Artwork::drawHeaderDivider(p, 40, 1, h - 1);
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(8, 13, QStringLiteral("Type"));
    Artwork::drawHeaderDivider(p, w - 90, 1, h - 1);
    p.setPen(Qt::black);
    p.drawText(w - 57, 13, QStringLiteral("Size"));
    p.drawText(170, 13, QStringLiteral("Name"));
    Artwork::drawHeaderDivider(p, 418, 1, h - 1);  // above the scroll bar
    p.setPen(QColor(0x7e, 0x7e, 0x7e));
    p.drawLine(0, 0, w, 0);
    p.drawLine(0, 0, 0, h);
    p.drawLine(w - 1, 0, w - 1, h);
}

} // namespace lv
