#include "frame/screen_fit.h"

#include "frame/form.h"

#include <algorithm>
#include <cmath>

namespace zandrel::frame {

namespace {

constexpr char kDesignPixelSize[] = "designPixelSize";

}  // namespace

double fittingZoom(const QSize& client, const QMargins& frame, const QRect& available) {
    if (client.isEmpty() || available.isEmpty()) return 1.0;
    const double width = available.width() - frame.left() - frame.right();
    const double height = available.height() - frame.top() - frame.bottom();
    const double zoom = std::min(width / client.width(), height / client.height());
    // Hundredths, rounded down: the zoomed window never comes out a pixel too large.
    return zoom >= 1.0 ? 1.0 : std::max(0.01, std::floor(zoom * 100.0) / 100.0);
}

double zoomOf(const QWidget* widget) {
    const auto* form = widget ? qobject_cast<const Form*>(widget->window()) : nullptr;
    return form ? form->zoom() : 1.0;
}

void zoomFont(QWidget& widget, double zoom) {
    if (!widget.testAttribute(Qt::WA_SetFont)) return;  // it follows its parent's
    QFont font = widget.font();
    QVariant designed = widget.property(kDesignPixelSize);
    if (!designed.isValid()) {
        if (font.pixelSize() <= 0) return;
        designed = font.pixelSize();
        widget.setProperty(kDesignPixelSize, designed);
    }
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(designed.toInt() * zoom))));
    widget.setFont(font);
}

}  // namespace zandrel::frame
