#include "frame/x11.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include <cstring>

namespace zandrel::frame::x11 {

xcb_connection_t* connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t w) {
    const Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    return reply ? reply->root : xcb_window_t{XCB_WINDOW_NONE};
}

std::optional<std::vector<std::uint32_t>> property32(xcb_connection_t* c, xcb_window_t w,
                                                     xcb_atom_t name, xcb_atom_t type) {
    const auto cookie = xcb_get_property(c, 0, w, name, type, 0, 1024);
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
    if (!reply || reply->format != 32 || reply->type != type) return std::nullopt;
    const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) /
                       sizeof(std::uint32_t);
    return std::vector<std::uint32_t>(data, data + count);
}

void sendToWindowManager(xcb_connection_t* c, xcb_window_t w, xcb_atom_t type,
                         const std::uint32_t (&data)[5]) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = type;
    std::memcpy(event.data.data32, data, sizeof(data));
    xcb_send_event(c, 0, rootOf(c, w),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

}  // namespace zandrel::frame::x11
