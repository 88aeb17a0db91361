#include "frame/task_bar.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace zandrel::frame {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The window's states as they stand, so that the ones Qt or the window manager set are kept.
std::vector<xcb_atom_t> netWmStates(xcb_connection_t* c, xcb_window_t w, xcb_atom_t netWmState) {
    const auto cookie = xcb_get_property(c, 0, w, netWmState, XCB_ATOM_ATOM, 0, 1024);
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_ATOM) return {};
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return {data, data + xcb_get_property_value_length(reply.get()) / sizeof(xcb_atom_t)};
}

xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t w) {
    const Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    return reply ? reply->root : xcb_window_t{XCB_WINDOW_NONE};
}

}  // namespace

void keepOutOfTaskBar(QWidget& window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* c = x11->connection();
    const auto w = static_cast<xcb_window_t>(window.winId());  // creates the native window
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (netWmState == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE) return;

    if (window.isVisible()) {
        // Mapped: the window manager owns the property; ask it (EWMH _NET_WM_STATE request,
        // action 1 = add, source 1 = an application).
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = w;
        event.type = netWmState;
        event.data.data32[0] = 1;
        event.data.data32[1] = skipTaskbar;
        event.data.data32[3] = 1;
        xcb_send_event(c, 0, rootOf(c, w),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    // Also on the window itself: read before mapping, and what a reader of the window sees.
    std::vector<xcb_atom_t> states = netWmStates(c, w, netWmState);
    if (std::find(states.begin(), states.end(), skipTaskbar) == states.end()) {
        states.push_back(skipTaskbar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmState, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(states.size()), states.data());
    }
    xcb_flush(c);
}

}  // namespace zandrel::frame
