// A fixed-size window that does not fit the screen is drawn at the largest scale at which it
// fits, frame included. (The window at that scale is the desktop test's: e2e_first_minute_desktop.)
#include "frame/screen_fit.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zandrel::frame {
namespace {

TEST(ScreenFit, TheLargestZoomAtWhichTheFramedWindowFits) {
    struct Case {
        const char* name;
        QSize client;
        QMargins frame;
        QRect available;
        double zoom;
    };
    const QMargins frame(1, 20, 1, 1);
    const Case cases[] = {
        {"fits as designed", {792, 573}, frame, {0, 0, 1280, 1024}, 1.0},
        {"fits exactly", {792, 573}, frame, {0, 0, 794, 594}, 1.0},
        {"too tall: twice the scale on 1280 x 1024", {792, 573}, frame, {0, 0, 640, 512}, 0.80},
        {"too wide", {792, 100}, frame, {0, 0, 398, 600}, 0.50},
        {"a pixel too wide, and the frame counts", {792, 573}, frame, {0, 0, 793, 594}, 0.99},
        {"no screen", {792, 573}, frame, {}, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double zoom = fittingZoom(c.client, c.frame, c.available);
        EXPECT_DOUBLE_EQ(zoom, c.zoom);
        if (c.available.isEmpty()) continue;
        EXPECT_LE(std::lround(c.client.width() * zoom) + c.frame.left() + c.frame.right(),
                  c.available.width());
        EXPECT_LE(std::lround(c.client.height() * zoom) + c.frame.top() + c.frame.bottom(),
                  c.available.height());
    }
}

}  // namespace
}  // namespace zandrel::frame
