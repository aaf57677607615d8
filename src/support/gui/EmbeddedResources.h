#pragma once
#include <QPixmap>
#include <QString>

namespace varlow {

// The program's compiled-in resources (glyph bitmaps, icon) live in the window library, a static
// library, so they must be registered once before the first look-up. Safe to call repeatedly.
void InitEmbeddedResources();

// Loads a bitmap resource by its name ("SpinUp64", "SpinDown64"); a null pixmap when missing.
QPixmap LoadBitmapResource(const QString& name);

}  // namespace varlow
