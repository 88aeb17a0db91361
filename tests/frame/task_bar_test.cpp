// Windows designed to stay out of the task bar carry _NET_WM_STATE_SKIP_TASKBAR on X11. Runs
// on the xcb platform and needs an X server (scripts/test.sh starts Xvfb); without one every
// test here is skipped and says so.
#include "frame/form.h"
#include "frame/frame_fixture.h"
#include "windows/frm_about.h"
#include "windows/frm_backup.h"
#include "windows/frm_finish.h"
#include "windows/frm_ppf_apply.h"
#include "windows/frm_ppf_download.h"
#include "windows/frm_rar_download.h"
#include "windows/frm_rar_unpack.h"
#include "windows/frm_splash.h"
#include "windows/frm_svr_info.h"

#include <QtGui/qguiapplication_platform.h>
#include <QApplication>

#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <ostream>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace zandrel::frame {
namespace {

xcb_connection_t* x11() {
    auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
}

// The window's _NET_WM_STATE as the X server holds it.
bool skipsTaskBar(QWidget& w) {
    xcb_connection_t* c = x11();
    const auto window = static_cast<xcb_window_t>(w.winId());
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 1024),
        nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* states = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const int n = xcb_get_property_value_length(reply) / 4;
        const xcb_atom_t skip = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
        for (int i = 0; i < n; ++i) found |= states[i] == skip;
    }
    std::free(reply);
    return found;
}

#define REQUIRE_X11() \
    if (!x11()) GTEST_SKIP() << "no X server: run under xvfb-run (scripts/test.sh does)"

template <bool InTaskBar>
class TestWindow : public Form {
public:
    static constexpr const char* kKind = InTaskBar ? "frmIn" : "frmOut";
    explicit TestWindow(Registry& r) : Form(r, kKind, design(InTaskBar)) {}
    static Design design(bool inTaskBar) {
        Design d;
        d.title = QStringLiteral("task bar");
        d.clientWidth = 3000;
        d.clientHeight = 1500;
        d.inTaskBar = inTaskBar;
        return d;
    }
};

using FrmIn = TestWindow<true>;
using FrmOut = TestWindow<false>;

class TaskBarTest : public ::testing::Test, public test::FrameFixture {
protected:
    TaskBarTest() {
        reg().define<FrmIn>();
        reg().define<FrmOut>();
    }
    void run(const std::function<void()>& h) { reg().dispatch(h); }
};

TEST_F(TaskBarTest, OnlyWindowsDesignedOutOfTheTaskBarSkipIt) {
    REQUIRE_X11();
    run([this] {
        reg().show<FrmOut>();
        reg().show<FrmIn>();
    });
    EXPECT_TRUE(skipsTaskBar(reg().form<FrmOut>()));
    EXPECT_FALSE(skipsTaskBar(reg().form<FrmIn>()));
}

// A window manager drops _NET_WM_STATE when a window is withdrawn; showing it again sets it
// again.
TEST_F(TaskBarTest, AHiddenWindowShownAgainStillSkipsIt) {
    REQUIRE_X11();
    run([this] {
        reg().show<FrmIn>();
        reg().show<FrmOut>();
        reg().hide<FrmOut>();
    });
    xcb_connection_t* c = x11();
    xcb_delete_property(c, static_cast<xcb_window_t>(reg().form<FrmOut>().winId()),
                        atom(c, "_NET_WM_STATE"));
    xcb_flush(c);
    run([this] { reg().show<FrmOut>(); });
    EXPECT_TRUE(skipsTaskBar(reg().form<FrmOut>()));
}

// Each of the program's windows, shown without its load handler: all but the backup window
// stay out of the task bar.
template <class F>
class WithoutLoad : public F {
public:
    using F::F;
    void load() override {}
};

struct KindCase {
    const char* name;
    std::function<Form&(Registry&)> showWithoutLoad;
    bool inTaskBar;
};
void PrintTo(const KindCase& c, std::ostream* os) {
    *os << c.name;
}

template <class F>
KindCase kind(bool inTaskBar) {
    return {
        F::kKind,
        [](Registry& r) -> Form& {
            r.define<F>([](Registry& owner) { return std::make_unique<WithoutLoad<F>>(owner); });
            r.dispatch([&r] { r.show<F>(); });
            return r.form<F>();
        },
        inTaskBar};
}

class WindowKindTest : public ::testing::TestWithParam<KindCase>, public test::FrameFixture {};

TEST_P(WindowKindTest, IsInTheTaskBarAsDesigned) {
    const KindCase& c = GetParam();
    Form& w = c.showWithoutLoad(reg());
    EXPECT_EQ(w.design().inTaskBar, c.inTaskBar);
    REQUIRE_X11();
    EXPECT_EQ(skipsTaskBar(w), !c.inTaskBar);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowKindTest,
    ::testing::Values(kind<windows::FrmSplash>(false), kind<windows::FrmAbout>(false),
                      kind<windows::FrmSvrInfo>(false), kind<windows::FrmRarDownload>(false),
                      kind<windows::FrmRarUnpack>(false), kind<windows::FrmPPFDownload>(false),
                      kind<windows::FrmPPFApply>(false), kind<windows::FrmFinish>(false),
                      kind<windows::FrmBackup>(true)),
    [](const ::testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zandrel::frame

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The xcb platform when an X server answers, else offscreen (and the X tests skip).
    // The probe stays connected until Qt has connected too: an X server may reset when its last
    // client leaves, and refuse connections meanwhile.
    xcb_connection_t* probe = xcb_connect(nullptr, nullptr);
    const bool haveX = !xcb_connection_has_error(probe);
    qputenv("QT_QPA_PLATFORM", haveX ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    xcb_disconnect(probe);
    return RUN_ALL_TESTS();
}
