#include "windows.h"

#include "app/registry.h"
#include "windows/frm_splash.h"

namespace zandrel {

template <class F>
static void defineWindow(Registry& registry) {
    registry.define(QString::fromLatin1(F::kKind),
                    [](Registry& r) -> std::unique_ptr<Form> { return std::make_unique<F>(r); });
}

void registerWindows(Registry& registry) {
    defineWindow<FrmSplash>(registry);
}

}  // namespace zandrel
