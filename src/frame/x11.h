#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

// The few X11 calls the frame makes itself, on the connection Qt already holds. Everything
// here gives nothing (a null connection, no value) where the windowing system is not X11.
namespace zandrel::frame::x11 {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

// Qt's connection to the X server; null on any other windowing system.
xcb_connection_t* connection();

xcb_atom_t atom(xcb_connection_t* c, const char* name);
xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t w);

// A property of 32-bit values of the given type; none when the window does not have it.
std::optional<std::vector<std::uint32_t>> property32(xcb_connection_t* c, xcb_window_t w,
                                                     xcb_atom_t name, xcb_atom_t type);

// Sends an EWMH request about window w to the window manager (through the root window).
void sendToWindowManager(xcb_connection_t* c, xcb_window_t w, xcb_atom_t type,
                         const std::uint32_t (&data)[5]);

}  // namespace zandrel::frame::x11
