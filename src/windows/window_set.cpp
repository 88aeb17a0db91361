#include "windows/window_set.h"

#include "frame/registry.h"

namespace zandrel::windows {

void registerWindows(frame::Registry& registry) {
    forEachWindowKind([&registry]<class F>() { registry.define<F>(); });
}

}  // namespace zandrel::windows
