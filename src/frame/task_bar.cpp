#include "frame/task_bar.h"

#include "frame/x11.h"

#include <QWidget>

#include <algorithm>

namespace zandrel::frame {

void keepOutOfTaskBar(QWidget& window) {
    xcb_connection_t* c = x11::connection();
    if (!c) return;
    const auto w = static_cast<xcb_window_t>(window.winId());  // creates the native window
    const xcb_atom_t netWmState = x11::atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = x11::atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (netWmState == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE) return;

    if (window.isVisible()) {
        // Mapped: the window manager owns the property; ask it (EWMH _NET_WM_STATE request,
        // action 1 = add, source 1 = an application).
        x11::sendToWindowManager(c, w, netWmState, {1, skipTaskbar, 0, 1, 0});
    }
    // Also on the window itself: read before mapping, and what a reader of the window sees.
    std::vector<std::uint32_t> states =
        x11::property32(c, w, netWmState, XCB_ATOM_ATOM).value_or(std::vector<std::uint32_t>{});
    if (std::find(states.begin(), states.end(), skipTaskbar) == states.end()) {
        states.push_back(skipTaskbar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmState, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(states.size()), states.data());
    }
    xcb_flush(c);
}

}  // namespace zandrel::frame
