#pragma once

// A desktop of a test's own: an X server (Xvfb, 1280 x 1024) with a window manager (openbox),
// the program's windows read back from the X server, and the player's mouse and keyboard given
// by xdotool. Tests skip, saying why, where one of the three is missing.
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zandrel::test {

// A process of the test's own, ended when the test is done.
struct Child {
    QProcess process;
    ~Child();
};

struct Rect {
    int x, y, width, height;
    int centreX() const { return x + width / 2; }
    int centreY() const { return y + height / 2; }
};

// Waits until done() holds, polling every 20 ms; says whether it did within ms.
bool pollUntil(const std::function<bool()>& done, int ms);

class X {
public:
    explicit X(const std::string& display);
    ~X();
    X(const X&) = delete;
    X& operator=(const X&) = delete;
    bool ok() const;
    xcb_window_t root() const;
    // A window manager is running once it has announced itself on the root window.
    bool windowManagerUp() const;
    // The client window whose title is `title`, searched two levels below the root (a client
    // sits inside the frame the window manager made for it).
    std::optional<xcb_window_t> find(const std::string& title) const;
    // The outer frame of a client: its ancestor just below the root, where it is on screen.
    std::optional<Rect> outerFrame(xcb_window_t w) const;
    // The client area on the screen.
    std::optional<Rect> clientArea(xcb_window_t w) const;
    bool viewable(xcb_window_t w) const;

private:
    xcb_atom_t atom(const char* name) const;
    std::string text(xcb_window_t w, xcb_atom_t name) const;
    std::vector<xcb_window_t> children(xcb_window_t w) const;
    std::string titleOf(xcb_window_t w) const;

    xcb_connection_t* c_;
};

class Desktop {
public:
    // Empty when the tools are installed, else those missing (xdotool is only for the player).
    static QString missing(const QStringList& tools = {QStringLiteral("Xvfb"),
                                                       QStringLiteral("openbox"),
                                                       QStringLiteral("xdotool")});

    // Starts the X server and the window manager; false (with why()) when either fails.
    bool start();
    const QString& why() const { return why_; }
    X& x() { return *x_; }
    // The environment of a program on this desktop (DISPLAY, the xcb platform).
    QProcessEnvironment environment() const;

    // The player: xdotool on this desktop.
    void click(int x, int y) const;
    void type(const QString& text) const;
    void key(const QString& key) const;

private:
    bool fail(const QString& why);
    void xdotool(const QStringList& args) const;

    Child server_;
    Child windowManager_;
    QString display_;
    std::unique_ptr<X> x_;
    QString why_;
};

}  // namespace zandrel::test
