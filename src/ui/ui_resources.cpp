#include "ui/ui_resources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitLaporaImages() {
  Q_INIT_RESOURCE(lapora_images);
}

namespace lapora {

void InitUiResources() {
  InitLaporaImages();
}

}  // namespace lapora
