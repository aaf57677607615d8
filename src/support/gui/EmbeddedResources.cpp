#include "support/gui/EmbeddedResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterVarlowResources() { Q_INIT_RESOURCE(Varlow); }

namespace varlow {

void InitEmbeddedResources() {
  static const bool registered = (RegisterVarlowResources(), true);
  (void)registered;
}

QPixmap LoadBitmapResource(const QString& name) {
  InitEmbeddedResources();
  return QPixmap(QStringLiteral(":/") + name);
}

}  // namespace varlow
