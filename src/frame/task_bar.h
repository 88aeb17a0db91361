#pragma once

class QWidget;

namespace zandrel::frame {

// Keeps a top-level window out of the desktop's task bar without changing how it behaves
// (a tool window or a window with an owner would also stay out, but stacks and activates
// differently).
//
// On X11 this sets _NET_WM_STATE_SKIP_TASKBAR: on the window's own _NET_WM_STATE before it is
// mapped (Qt merges its own states into the property rather than replacing it), and through a
// request to the window manager while it is mapped. Call it before every display: a window
// manager drops _NET_WM_STATE when a window is withdrawn.
//
// Wayland has no protocol by which a client keeps a window out of the task bar (xdg-shell
// leaves the task bar to the compositor), so there, and on every other platform, this does
// nothing and the window shows in the task bar like any other.
void keepOutOfTaskBar(QWidget& window);

}  // namespace zandrel::frame
