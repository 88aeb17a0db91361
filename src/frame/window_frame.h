#pragma once

#include <QMargins>

#include <optional>

class QWidget;

namespace zandrel::frame {

// The frame the window manager will draw around a top-level window, asked for before the window
// is first mapped, so that it can be placed by its outer frame from the start. On X11 this is
// the EWMH request _NET_REQUEST_FRAME_EXTENTS, answered in the window's _NET_FRAME_EXTENTS. None
// when the windowing system is not X11, the window manager does not offer the request, or it
// has not answered within waitMs.
std::optional<QMargins> announcedFrame(QWidget& window, int waitMs = 250);

}  // namespace zandrel::frame
