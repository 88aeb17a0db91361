#include "frame/window_frame.h"

#include "frame/x11.h"

#include <QElapsedTimer>
#include <QThread>
#include <QWidget>

#include <algorithm>

namespace zandrel::frame {

namespace {

bool offeredByWindowManager(xcb_connection_t* c, xcb_window_t root, xcb_atom_t request) {
    const auto supported = x11::property32(c, root, x11::atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    return supported &&
           std::find(supported->begin(), supported->end(), request) != supported->end();
}

// _NET_FRAME_EXTENTS holds left, right, top, bottom.
std::optional<QMargins> frameExtents(xcb_connection_t* c, xcb_window_t w, xcb_atom_t extents) {
    const auto values = x11::property32(c, w, extents, XCB_ATOM_CARDINAL);
    if (!values || values->size() != 4) return std::nullopt;
    const auto at = [&values](std::size_t i) { return static_cast<int>((*values)[i]); };
    return QMargins(at(0), at(2), at(1), at(3));
}

}  // namespace

std::optional<QMargins> announcedFrame(QWidget& window, int waitMs) {
    xcb_connection_t* c = x11::connection();
    if (!c) return std::nullopt;
    const auto w = static_cast<xcb_window_t>(window.winId());  // creates the native window
    const xcb_atom_t request = x11::atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = x11::atom(c, "_NET_FRAME_EXTENTS");
    if (!offeredByWindowManager(c, x11::rootOf(c, w), request)) return std::nullopt;
    if (auto known = frameExtents(c, w, extents)) return known;
    x11::sendToWindowManager(c, w, request, {0, 0, 0, 0, 0});
    xcb_flush(c);
    // The window manager answers at once; each look is a round trip to the X server.
    QElapsedTimer waited;
    waited.start();
    do {
        if (auto answer = frameExtents(c, w, extents)) return answer;
        QThread::msleep(2);
    } while (waited.elapsed() < waitMs);
    return std::nullopt;
}

}  // namespace zandrel::frame
