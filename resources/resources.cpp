#include "resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares a function of the global namespace, so it must be used outside ours.
static void initZandrelResources() {
    Q_INIT_RESOURCE(zandrel);
}

namespace zandrel {

void initResources() {
    initZandrelResources();
}

}  // namespace zandrel
