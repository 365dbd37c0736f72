#pragma once
// The program's own pictures, drawn with QPainter at any size: the drop zone in its three states,
// the bottom bar, the picture buttons, the list's highlight and header pieces, and the logo.

#include <QIcon>
#include <QPixmap>
#include <QRect>

class QPainter;

namespace lv::Artwork {

enum class DropZone { Active, Inactive, Hover };  // LVBack1, LVBackground, LVBack2
enum class Button { Add, Minus, Action };

void drawDropZone(QPainter& p, const QRect& r, DropZone state);
void drawBottomBar(QPainter& p, const QRect& r);
void drawButton(QPainter& p, const QRect& r, Button button, bool pressed, bool enabled = true);
// The selected row's background: blue while the window is active, grey while it is not.
void drawRowHighlight(QPainter& p, const QRect& r, bool active);
void drawHeaderBar(QPainter& p, const QRect& r);
void drawHeaderDivider(QPainter& p, int x, int top, int height);
// The logo (a padlock under a weather vane) filling `r`.
void drawLogo(QPainter& p, const QRectF& r);
QPixmap logo(int size);
QIcon applicationIcon();
// A plain document or folder picture for items the icon theme has none for.
QPixmap fallbackItemIcon(bool folder, int size);

} // namespace lv::Artwork
