#include "resources/resources.h"

#include <QtGlobal>

static void initImages() {
    Q_INIT_RESOURCE(tesmo_images);
}

namespace tesmo {

void initResources() {
    initImages();
}

} // namespace tesmo
