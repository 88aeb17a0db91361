#include "desktop/desktop.h"

#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace zandrel::test {
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

QString tool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

}  // namespace

Child::~Child() {
    process.kill();
    process.waitForFinished(5000);
}

bool pollUntil(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

X::X(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}
X::~X() {
    xcb_disconnect(c_);
}
bool X::ok() const {
    return !xcb_connection_has_error(c_);
}
xcb_window_t X::root() const {
    return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
}

xcb_atom_t X::atom(const char* name) const {
    const Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string X::text(xcb_window_t w, xcb_atom_t name) const {
    const Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    if (!r) return {};
    return {static_cast<const char*>(xcb_get_property_value(r.get())),
            static_cast<std::size_t>(xcb_get_property_value_length(r.get()))};
}

bool X::windowManagerUp() const {
    const Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c_,
        xcb_get_property(c_, 0, root(), atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    return r && xcb_get_property_value_length(r.get()) == 4;
}

std::optional<xcb_window_t> X::find(const std::string& title) const {
    for (xcb_window_t top : children(root())) {
        if (titleOf(top) == title) return top;
        for (xcb_window_t inner : children(top)) {
            if (titleOf(inner) == title) return inner;
            for (xcb_window_t client : children(inner)) {
                if (titleOf(client) == title) return client;
            }
        }
    }
    return std::nullopt;
}

std::optional<Rect> X::outerFrame(xcb_window_t w) const {
    xcb_window_t top = w;
    for (;;) {
        const Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c_, xcb_query_tree(c_, top), nullptr));
        if (!tree) return std::nullopt;
        if (tree->parent == root() || tree->parent == XCB_WINDOW_NONE) break;
        top = tree->parent;
    }
    if (top == w) return std::nullopt;  // not framed (yet)
    const Reply<xcb_get_geometry_reply_t> g(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, top), nullptr));
    if (!g) return std::nullopt;
    return Rect{g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width};
}

std::optional<Rect> X::clientArea(xcb_window_t w) const {
    const Reply<xcb_get_geometry_reply_t> g(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
    const Reply<xcb_translate_coordinates_reply_t> at(xcb_translate_coordinates_reply(
        c_, xcb_translate_coordinates(c_, w, root(), 0, 0), nullptr));
    if (!g || !at) return std::nullopt;
    return Rect{at->dst_x, at->dst_y, g->width, g->height};
}

bool X::viewable(xcb_window_t w) const {
    const Reply<xcb_get_window_attributes_reply_t> a(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr));
    return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::vector<xcb_window_t> X::children(xcb_window_t w) const {
    const Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr));
    if (!tree) return {};
    const xcb_window_t* kids = xcb_query_tree_children(tree.get());
    return {kids, kids + xcb_query_tree_children_length(tree.get())};
}

std::string X::titleOf(xcb_window_t w) const {
    const std::string name = text(w, atom("_NET_WM_NAME"));
    return name.empty() ? text(w, XCB_ATOM_WM_NAME) : name;
}

QString Desktop::missing(const QStringList& tools) {
    QStringList out;
    for (const QString& name : tools) {
        if (QStandardPaths::findExecutable(name).isEmpty()) out << name;
    }
    return out.join(QStringLiteral(", "));
}

bool Desktop::start() {
    // An X server on a free display, which it names on standard output.
    server_.process.start(
        tool("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server_.process.waitForStarted(10000)) return fail(QStringLiteral("Xvfb did not start"));
    QByteArray number;
    const bool named = pollUntil(
        [&] {
            server_.process.waitForReadyRead(20);
            number += server_.process.readAllStandardOutput();
            return number.contains('\n');
        },
        10000);
    if (!named) return fail(QStringLiteral("Xvfb named no display"));
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    x_ = std::make_unique<X>(display_.toStdString());
    if (!x_->ok()) return fail(QStringLiteral("cannot connect to ") + display_);
    windowManager_.process.setProcessEnvironment(environment());
    windowManager_.process.start(tool("openbox"), {});
    if (!pollUntil([&] { return x_->windowManagerUp(); }, 10000))
        return fail(QStringLiteral("openbox did not start"));
    return true;
}

bool Desktop::fail(const QString& why) {
    why_ = why;
    return false;
}

QProcessEnvironment Desktop::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

void Desktop::click(int x, int y) const {
    xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y),
             QStringLiteral("click"), QStringLiteral("1")});
}

void Desktop::type(const QString& text) const {
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), text});
}

void Desktop::key(const QString& key) const {
    xdotool({QStringLiteral("key"), key});
}

void Desktop::xdotool(const QStringList& args) const {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(tool("xdotool"), args);
    p.waitForFinished(10000);
}

}  // namespace zandrel::test
