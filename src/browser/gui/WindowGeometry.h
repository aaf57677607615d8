#pragma once
#include <QList>
#include <QRect>

namespace varlow {

// Share of a screen's available area that a window opened there for the first time takes.
inline constexpr double kFirstWindowShare = 0.8;

// The window's place and size on a screen whose available area is `available` (both as the
// window's outer rectangle). Without a saved place (`saved` not valid) the window is centred
// and takes kFirstWindowShare of the area in each direction; a saved place keeps its size and
// place as far as they fit: no larger than the area, moved into it where it sticks out.
QRect FitWindowGeometry(const QRect& available, const QRect& saved);

// The available area, among those of the screens present (`areas`, the primary one first), that
// a saved place belongs to: the one it overlaps most; the primary one when it overlaps none.
// An empty rectangle when there are no screens.
QRect ScreenAreaFor(const QList<QRect>& areas, const QRect& saved);

}  // namespace varlow
