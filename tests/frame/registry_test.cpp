// The registry's order of events, the dispatcher and the timers, on small windows of the
// test's own.
#include "base/error.h"
#include "frame/form.h"
#include "frame/frame_fixture.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include <gtest/gtest.h>

#include <ostream>

namespace zandrel::frame {
namespace {

using test::FrameFixture;

// Records what happens to windows, in order: "load A", "shown A", "tick T", ...
struct Journal : QObject {
    QStringList events;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->isWidgetType() &&
            static_cast<QWidget*>(o)->isWindow()) {
            events << QStringLiteral("shown ") + o->objectName();
        }
        return false;
    }
};

// A window whose load handler and tick handlers are given by the test.
class TestForm : public Form {
public:
    TestForm(Registry& r, const char* kind, std::function<void(TestForm&)> onLoad)
        : Form(r, kind, design(kind)), onLoad_(std::move(onLoad)) {
        box = addTextBox("txtValue", QStringLiteral("design value"), {0, 0, 1500, 300}, 0);
    }
    void load() override {
        ++loads;
        if (onLoad_) onLoad_(*this);
    }
    TimerControl* timer(const char* name, int interval, std::function<void()> onTick) {
        return addTimer(name, interval, true, std::move(onTick));
    }
    static Design design(const char* kind) {
        Design d;
        d.title = QString::fromLatin1(kind);
        d.clientWidth = 3000;
        d.clientHeight = 1500;
        return d;
    }
    TextBox* box;
    int loads = 0;

private:
    std::function<void(TestForm&)> onLoad_;
};

// A window name as a template argument, so that each test window is a class of its own.
template <std::size_t N>
struct KindName {
    char value[N];
    constexpr KindName(const char (&name)[N]) { std::copy_n(name, N, value); }
};

template <KindName Name>
class Window : public TestForm {
public:
    static constexpr const char* kKind = Name.value;
    Window(Registry& r, std::function<void(TestForm&)> onLoad)
        : TestForm(r, kKind, std::move(onLoad)) {}
};

using FrmA = Window<"frmA">;
using FrmB = Window<"frmB">;
using FrmBusy = Window<"frmBusy">;
using FrmC = Window<"frmC">;
using FrmCentred = Window<"frmCentred">;
using FrmEnding = Window<"frmEnding">;
using FrmHidden = Window<"frmHidden">;
using FrmInner = Window<"frmInner">;
using FrmKeep = Window<"frmKeep">;
using FrmOne = Window<"frmOne">;
using FrmOther = Window<"frmOther">;
using FrmOuter = Window<"frmOuter">;
using FrmRead = Window<"frmRead">;
using FrmSelfHiding = Window<"frmSelfHiding">;
using FrmT = Window<"frmT">;
using FrmTimer = Window<"frmTimer">;
using FrmTwo = Window<"frmTwo">;
using FrmVisible = Window<"frmVisible">;

class RegistryTest : public ::testing::Test, public FrameFixture {
protected:
    RegistryTest() { qApp->installEventFilter(&journal); }
    ~RegistryTest() override { qApp->removeEventFilter(&journal); }

    // Defines a window kind; setUp runs on each new instance before its load handler.
    template <class W>
    void define(std::function<void(TestForm&)> onLoad = {},
                std::function<void(TestForm&)> setUp = {}) {
        reg().define<W>([this, onLoad, setUp](Registry& r) {
            auto f = std::make_unique<W>(r, [this, onLoad](TestForm& self) {
                journal.events << QStringLiteral("load ") + QString::fromLatin1(W::kKind);
                if (onLoad) onLoad(self);
            });
            if (setUp) setUp(*f);
            return f;
        });
    }

public:
    template <class W>
    TestForm& form() {
        return reg().form<W>();
    }
    void run(const std::function<void()>& h) { reg().dispatch(h); }

    Journal journal;
};

TEST_F(RegistryTest, LoadHandlerRunsBeforeDisplayAndNestedShowsComeFirst) {
    define<FrmInner>();
    define<FrmOuter>([this](TestForm&) { reg().show<FrmInner>(); });
    run([this] {
        reg().show<FrmOuter>();
        journal.events << QStringLiteral("show returned");
    });
    EXPECT_EQ(journal.events, (QStringList{"load frmOuter", "load frmInner", "shown frmInner",
                                           "shown frmOuter", "show returned"}));
    EXPECT_TRUE(reg().isVisible<FrmOuter>());
    EXPECT_TRUE(reg().isVisible<FrmInner>());
}

TEST_F(RegistryTest, WindowHiddenByItsOwnLoadHandlerIsNeverDisplayedAndStaysLoaded) {
    define<FrmSelfHiding>([this](TestForm& self) {
        // Naming its own window reaches the instance being loaded, not a second one.
        EXPECT_EQ(&reg().form<FrmSelfHiding>(), &self);
        reg().form<FrmSelfHiding>().setWindowTitle(QStringLiteral("set in load"));
        reg().hide<FrmSelfHiding>();
    });
    run([this] { reg().show<FrmSelfHiding>(); });
    EXPECT_TRUE(reg().isLoaded<FrmSelfHiding>());
    EXPECT_FALSE(reg().isVisible<FrmSelfHiding>());
    EXPECT_FALSE(journal.events.contains(QStringLiteral("shown frmSelfHiding")));
    EXPECT_EQ(form<FrmSelfHiding>().loads, 1);
    EXPECT_EQ(form<FrmSelfHiding>().windowTitle(), QStringLiteral("set in load"));
    // A later show displays it without loading it again.
    run([this] { reg().show<FrmSelfHiding>(); });
    EXPECT_TRUE(reg().isVisible<FrmSelfHiding>());
    EXPECT_EQ(form<FrmSelfHiding>().loads, 1);
}

TEST_F(RegistryTest, ShowKeepsValuesHideKeepsThemUnloadRebuildsFromDesign) {
    define<FrmA>();
    run([this] { reg().show<FrmA>(); });
    form<FrmA>().box->setText(QStringLiteral("typed"));
    run([this] { reg().show<FrmA>(); });  // visible: only to the front
    EXPECT_EQ(form<FrmA>().loads, 1);
    run([this] { reg().hide<FrmA>(); });
    EXPECT_FALSE(reg().isVisible<FrmA>());
    run([this] { reg().show<FrmA>(); });
    EXPECT_EQ(form<FrmA>().box->text(), QStringLiteral("typed"));
    EXPECT_EQ(form<FrmA>().loads, 1);

    define<FrmKeep>();  // keeps the program running once frmA is unloaded
    run([this] { reg().show<FrmKeep>(); });
    run([this] { reg().unload<FrmA>(); });
    EXPECT_FALSE(reg().isLoaded<FrmA>());
    run([this] { reg().show<FrmA>(); });
    EXPECT_EQ(form<FrmA>().box->text(), QStringLiteral("design value"));
    EXPECT_EQ(form<FrmA>().loads, 1);  // a fresh instance, loaded once
    EXPECT_EQ(journal.events.count(QStringLiteral("load frmA")), 2);
}

// A window whose load handler unloads it (a download that gave nothing to apply) is gone when
// the show returns, is never displayed, and a later show loads it afresh.
TEST_F(RegistryTest, AWindowUnloadedByItsOwnLoadHandlerIsNeverDisplayed) {
    define<FrmKeep>();
    define<FrmSelfHiding>([this](TestForm& self) { reg().unload(self); });
    run([this] {
        reg().show<FrmKeep>();
        reg().show<FrmSelfHiding>();
        journal.events << QStringLiteral("show returned");
    });
    EXPECT_FALSE(reg().isLoaded<FrmSelfHiding>());
    EXPECT_FALSE(journal.events.contains(QStringLiteral("shown frmSelfHiding")));
    EXPECT_FALSE(reg().ended());  // frmKeep is still on screen
    run([this] { reg().show<FrmSelfHiding>(); });
    EXPECT_EQ(journal.events.count(QStringLiteral("load frmSelfHiding")), 2);
    EXPECT_FALSE(reg().isLoaded<FrmSelfHiding>());
}

TEST_F(RegistryTest, ReferenceLoadsWithoutDisplaying) {
    define<FrmRead>();
    run([this] { EXPECT_EQ(form<FrmRead>().box->text(), QStringLiteral("design value")); });
    EXPECT_TRUE(reg().isLoaded<FrmRead>());
    EXPECT_FALSE(reg().isVisible<FrmRead>());
}

TEST_F(RegistryTest, EndInsideALoadHandlerStopsEverything) {
    bool afterEnd = false, afterShow = false;
    define<FrmVisible>();
    define<FrmEnding>([&](TestForm&) {
        reg().end();
        afterEnd = true;
    });
    run([this] { reg().show<FrmVisible>(); });
    run([&] {
        reg().show<FrmEnding>();
        afterShow = true;
    });
    EXPECT_TRUE(reg().ended());
    EXPECT_FALSE(afterEnd);
    EXPECT_FALSE(afterShow);
    EXPECT_FALSE(journal.events.contains(QStringLiteral("shown frmEnding")));
    EXPECT_FALSE(reg().isVisible<FrmVisible>());  // every window disappears
    // Nothing runs any more.
    bool ran = false;
    run([&] { ran = true; });
    EXPECT_FALSE(ran);
}

TEST_F(RegistryTest, UntrappedErrorIsReportedOnceThenNothingRuns) {
    int ticks = 0;
    define<FrmBusy>({}, [&](TestForm& f) { f.timer("tmrCount", 100, [&] { ++ticks; }); });
    run([this] { reg().show<FrmBusy>(); });
    clock.advance(100);
    ASSERT_EQ(ticks, 1);
    // While the report is on screen, time passes: no tick runs.
    boxes.onShow = [this](const test::Box&) { clock.advance(1000); };
    bool after = false;
    run([&] {
        throw Error(ErrorNumber::BadFileName, QStringLiteral("Bad file name or number"));
        after = true;
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Zandrel"));
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(QStringLiteral("52")));
    EXPECT_TRUE(boxes.boxes[0].prompt.contains(QStringLiteral("Bad file name or number")));
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(reg().ended());
    clock.advance(1000);
    EXPECT_EQ(ticks, 1);
}

TEST_F(RegistryTest, MessageBoxWithoutTitleCarriesTheApplicationTitle) {
    run([this] {
        reg().msgBox(QStringLiteral("hello"));
        reg().msgBox(QStringLiteral("again"), MsgIcon::Information, QStringLiteral("Info:"));
    });
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("Zandrel"));
    EXPECT_EQ(boxes.boxes[1].title, QStringLiteral("Info:"));
}

TEST_F(RegistryTest, TickThatEndsTheProgramWhileAnotherRoutineWaitsInABox) {
    bool continued = false;
    define<FrmTimer>({}, [&](TestForm& f) { f.timer("tmrEnd", 500, [this] { reg().end(); }); });
    run([this] { reg().show<FrmTimer>(); });
    boxes.onShow = [this](const test::Box&) {
        clock.advance(500);
    };  // the tick comes during the wait
    run([&] {
        reg().msgBox(QStringLiteral("waiting"));
        continued = true;
    });
    EXPECT_TRUE(reg().ended());
    EXPECT_FALSE(continued);
}

struct TimerCase {
    const char* name;
    int interval;
    std::function<void(RegistryTest&, TimerControl&)> act;  // after the window is shown
    int advanceMs;
    int expectedTicks;
};
void PrintTo(const TimerCase& c, std::ostream* os) {
    *os << c.name;
}

class TimerTest : public RegistryTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(TimerTest, TicksAsItsIntervalAndStateSay) {
    const TimerCase& c = GetParam();
    define<FrmOther>();  // unloading frmT leaves a window on screen
    int ticks = 0;
    TimerControl* tm = nullptr;
    define<FrmT>({}, [&](TestForm& f) { tm = f.timer("tmrT", c.interval, [&] { ++ticks; }); });
    run([this] {
        reg().show<FrmOther>();
        reg().show<FrmT>();
    });
    ASSERT_NE(tm, nullptr);
    if (c.act) c.act(*this, *tm);
    clock.advance(c.advanceMs);
    EXPECT_EQ(ticks, c.expectedTicks);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimerTest,
    ::testing::Values(
        TimerCase{"Interval0NeverTicks", 0, {}, 5000, 0},
        TimerCase{"TicksOncePerInterval", 100, {}, 350, 3},
        TimerCase{"KeepsTickingWhileHidden", 100,
                  [](RegistryTest& t, TimerControl&) { t.run([&] { t.reg().hide<FrmT>(); }); }, 300,
                  3},
        TimerCase{"ClearingEnabledStopsIt", 100,
                  [](RegistryTest&, TimerControl& tm) { tm.setEnabled(false); }, 300, 0},
        TimerCase{"UnloadStopsIt", 100,
                  [](RegistryTest& t, TimerControl&) { t.run([&] { t.reg().unload<FrmT>(); }); },
                  300, 0},
        TimerCase{"ALateTickIsDeliveredOnce", 100,
                  [](RegistryTest& t, TimerControl&) { t.clock.pass(1000); }, 0, 1}),
    [](const ::testing::TestParamInfo<TimerCase>& info) { return std::string(info.param.name); });

// A timer leaves the registry through its form, so it has to be destroyed while the form is
// still a Form; QWidget's destructor deletes the remaining children only once the form is gone.
TEST_F(RegistryTest, TimersGoWhileTheirFormIsStillAForm) {
    std::vector<bool> formAlive;
    define<FrmT>({}, [&](TestForm& f) {
        for (const char* name : {"tmrA", "tmrB"}) {
            TimerControl* tm = f.timer(name, 100, [] {});
            QObject::connect(tm, &QObject::destroyed, [&formAlive, form = &f] {
                formAlive.push_back(qobject_cast<Form*>(form) != nullptr);
            });
        }
    });
    run([this] { reg().show<FrmT>(); });
    registry.reset();
    EXPECT_EQ(formAlive, (std::vector<bool>{true, true}));
}

TEST_F(RegistryTest, TickDuringABusyHandlerComesAfterItAndHandlersAreNeverReentered) {
    QStringList order;
    define<FrmT>({}, [&](TestForm& f) {
        f.timer("tmrT", 100, [&] {
            order << QStringLiteral("tick");
            if (order.count(QStringLiteral("tick")) == 1) clock.advance(250);  // due again inside
            order << QStringLiteral("tick end");
        });
    });
    run([this] { reg().show<FrmT>(); });
    run([&] {
        order << QStringLiteral("busy");
        clock.advance(300);  // three ticks fall due while this handler runs
        order << QStringLiteral("busy end");
    });
    // One late tick after the busy handler; during that tick its own ticks wait, and exactly
    // one of them follows it.
    EXPECT_EQ(order, (QStringList{"busy", "busy end", "tick", "tick end", "tick", "tick end"}));
}

// The ways the last window on screen goes. Each row starts from frmA and frmB on screen and
// frmHidden loaded but hidden.
class LastWindowTest;
struct LastWindowCase {
    const char* name;
    std::function<void(LastWindowTest&)> act;
    bool ended;
    QStringList boxes;  // shown on the way
};
void PrintTo(const LastWindowCase& c, std::ostream* os) {
    *os << c.name;
}

class LastWindowTest : public RegistryTest, public ::testing::WithParamInterface<LastWindowCase> {
protected:
    LastWindowTest() {
        define<FrmHidden>();
        define<FrmA>();
        define<FrmB>();
        define<FrmC>();
        run([this] {
            reg().show<FrmHidden>();
            reg().hide<FrmHidden>();
            reg().show<FrmA>();
            reg().show<FrmB>();
        });
    }

public:
    template <class W>
    void closeBox() {
        form<W>().close();
    }
    template <class W>
    void unloadIn() {
        run([this] { reg().unload<W>(); });
    }
};

TEST_P(LastWindowTest, EndsTheProgramOnlyWhenNoWindowIsLeftOnScreen) {
    const LastWindowCase& c = GetParam();
    c.act(*this);
    EXPECT_EQ(reg().ended(), c.ended);
    EXPECT_EQ(boxes.prompts(), c.boxes);
    if (c.ended) {
        EXPECT_FALSE(reg().isVisible<FrmA>());
        EXPECT_FALSE(reg().isVisible<FrmB>());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LastWindowTest,
    ::testing::Values(LastWindowCase{"CloseBoxOnOneOfTwo",
                                     [](LastWindowTest& t) { t.closeBox<FrmA>(); },
                                     false,
                                     {}},
                      LastWindowCase{"CloseBoxOnBoth",
                                     [](LastWindowTest& t) {
                                         t.closeBox<FrmA>();
                                         t.closeBox<FrmB>();
                                     },
                                     true,
                                     {}},
                      LastWindowCase{"CloseBoxThenAHandlerUnloadsTheOther",
                                     [](LastWindowTest& t) {
                                         t.closeBox<FrmA>();
                                         t.unloadIn<FrmB>();  // an "OK" that unloads its own window
                                     },
                                     true,
                                     {}},
                      LastWindowCase{"HandlersUnloadBoth",
                                     [](LastWindowTest& t) {
                                         t.unloadIn<FrmA>();
                                         t.unloadIn<FrmB>();
                                     },
                                     true,
                                     {}},
                      LastWindowCase{"OneHandlerUnloadsBoth",
                                     [](LastWindowTest& t) {
                                         t.run([&t] {
                                             t.reg().unload<FrmA>();
                                             t.reg().unload<FrmB>();
                                         });
                                     },
                                     true,
                                     {}},
                      LastWindowCase{"HandlerUnloadsTheLastThenShowsAnother",
                                     [](LastWindowTest& t) {
                                         t.unloadIn<FrmA>();
                                         t.run([&t] {
                                             t.reg().unload<FrmB>();
                                             t.reg().show<FrmC>();
                                         });
                                     },
                                     false,
                                     {}},
                      LastWindowCase{"HandlerUnloadsTheLastAndFinishesItsBox",
                                     [](LastWindowTest& t) {
                                         t.unloadIn<FrmA>();
                                         t.run([&t] {
                                             t.reg().unload<FrmB>();
                                             t.reg().msgBox(QStringLiteral("still running"));
                                         });
                                     },
                                     true,
                                     {"still running"}},
                      LastWindowCase{"TimerTickUnloadsTheLast",
                                     [](LastWindowTest& t) {
                                         t.closeBox<FrmA>();
                                         // The hidden window's timer unloads the last visible one.
                                         t.form<FrmHidden>().timer(
                                             "tmrGo", 100, [&t] { t.reg().unload<FrmB>(); });
                                         t.form<FrmHidden>().armTimers();
                                         t.clock.advance(100);
                                     },
                                     true,
                                     {}},
                      LastWindowCase{"UnloadFromOutsideAnyHandler",
                                     [](LastWindowTest& t) {
                                         t.reg().unload<FrmA>();
                                         t.reg().unload<FrmB>();
                                     },
                                     true,
                                     {}},
                      LastWindowCase{"HidingIsNoUnload",
                                     [](LastWindowTest& t) {
                                         t.run([&t] {
                                             t.reg().hide<FrmA>();
                                             t.reg().hide<FrmB>();
                                         });
                                     },
                                     false,
                                     {}}),
    [](const ::testing::TestParamInfo<LastWindowCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(RegistryTest, ClosingTheLastVisibleWindowEndsTheProgram) {
    define<FrmHidden>();
    define<FrmOne>();
    define<FrmTwo>();
    run([this] {
        reg().show<FrmHidden>();
        reg().hide<FrmHidden>();
        reg().show<FrmOne>();
        reg().show<FrmTwo>();
    });
    form<FrmTwo>().close();
    EXPECT_FALSE(reg().isLoaded<FrmTwo>());
    EXPECT_FALSE(reg().ended());
    form<FrmOne>().close();
    EXPECT_TRUE(reg().ended());
}

TEST_F(RegistryTest, CloseBoxIsRefusedWhileAHandlerHoldsTheThread) {
    define<FrmOne>();
    run([this] { reg().show<FrmOne>(); });
    run([this] { form<FrmOne>().close(); });
    EXPECT_TRUE(reg().isLoaded<FrmOne>());
    EXPECT_FALSE(reg().ended());
}

struct CentreCase {
    const char* name;
    QRect area;
    QSize client;
    QMargins frame;
    QPoint topLeft;
};
void PrintTo(const CentreCase& c, std::ostream* os) {
    *os << c.name;
}

class CentreTest : public ::testing::TestWithParam<CentreCase> {};

// The outer frame, title bar included, lies in the middle; without a frame the client area does.
TEST_P(CentreTest, PlacesTheOuterFrameInTheMiddle) {
    const CentreCase& c = GetParam();
    const QPoint topLeft = centredFrameTopLeft(c.area, c.client, c.frame);
    EXPECT_EQ(topLeft, c.topLeft);
    const QRect outer(topLeft, QSize(c.client.width() + c.frame.left() + c.frame.right(),
                                     c.client.height() + c.frame.top() + c.frame.bottom()));
    EXPECT_LE(std::abs(outer.center().x() - c.area.center().x()), 1);
    EXPECT_LE(std::abs(outer.center().y() - c.area.center().y()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CentreTest,
    ::testing::Values(
        CentreCase{"NoFrame", {0, 0, 1000, 800}, {590, 155}, {}, {204, 322}},
        CentreCase{"TitleBarAndBorders", {0, 0, 1000, 800}, {590, 155}, {4, 30, 4, 4}, {200, 305}},
        CentreCase{"AreaBelowAPanel", {0, 40, 1000, 760}, {590, 155}, {4, 30, 4, 4}, {200, 325}},
        CentreCase{
            "WindowLargerThanTheArea", {0, 0, 640, 480}, {792, 573}, {4, 30, 4, 4}, {-81, -64}}),
    [](const ::testing::TestParamInfo<CentreCase>& info) { return std::string(info.param.name); });

// On the offscreen platform there is no frame: the first display centres the client area, and
// a later display leaves the window where it is.
TEST_F(RegistryTest, CentreOfScreenPlacesTheFirstDisplayOnly) {
    define<FrmCentred>();
    run([this] { reg().show<FrmCentred>(); });
    TestForm& f = form<FrmCentred>();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(f.pos(), centredFrameTopLeft(area, f.size(), f.windowHandle()->frameMargins()));
    run([this] { reg().hide<FrmCentred>(); });
    f.move(10, 20);
    run([this] { reg().show<FrmCentred>(); });
    EXPECT_EQ(f.pos(), QPoint(10, 20));
}

}  // namespace
}  // namespace zandrel::frame
