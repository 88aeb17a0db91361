#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QWidget>

// A fixed-size window on a screen too small for it at the desktop's scale (a large scale factor
// on a small screen) is drawn at the largest scale at which it fits, so that none of it lies off
// the screen: its design is zoomed by a factor below 1.
namespace zandrel::frame {

// A control that draws more than its geometry and font say (a picture, a line, a bar kept in
// twips, a web page): it follows its window's zoom itself.
class Zoomable {
public:
    virtual ~Zoomable() = default;
    virtual void setZoom(double zoom) = 0;
};

// The zoom at which a window of this client size and frame fits the available area: 1 when it
// fits as designed, else the largest factor below 1 at which it does.
double fittingZoom(const QSize& client, const QMargins& frame, const QRect& available);

// The zoom of the window that holds the widget (1 outside a window of ours).
double zoomOf(const QWidget* widget);

// The widget's own font, if it has one, at the zoom: designed pixel sizes times the factor.
void zoomFont(QWidget& widget, double zoom);

}  // namespace zandrel::frame
