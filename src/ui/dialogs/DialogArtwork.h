#pragma once
// The dialogs' own pictures, drawn with QPainter: the key strength bar and the preferences
// window's toolbar icons.

#include <QIcon>
#include <QRect>

class QPainter;

namespace lv::DialogArtwork {

// The strength bar of a level (1 red, 2 amber, 3 green) filling `r`.
void drawStrengthBar(QPainter& p, const QRect& r, int level);

enum class PrefsIcon { General, Notifications, Updates };
// A toolbar icon: switches for General, a speech bubble for Notifications, circling arrows for
// Updates.
QIcon prefsIcon(PrefsIcon which);

} // namespace lv::DialogArtwork
