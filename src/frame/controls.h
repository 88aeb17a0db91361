#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QWidget>

#include "frame/screen_fit.h"

#include <functional>

// The control kinds the windows are designed with, and the one conversion from the design's
// units (twips, points) to pixels.
namespace zandrel::frame {

// 15 twips to a pixel at 96 dots per inch.
inline int twipsToPixels(double twips) {
    return qRound(twips / 15.0);
}
inline QRect twipsRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

// A designed font: "MS Sans Serif" and "Arial" map to the metric-compatible Liberation Sans.
// Sizes are given in points at 96 dots per inch, so they do not depend on the screen.
QFont designFont(const QString& face = QStringLiteral("MS Sans Serif"), double points = 8.25,
                 bool bold = false);

inline const QColor kBlack(0x00, 0x00, 0x00);
inline const QColor kWhite(0xFF, 0xFF, 0xFF);

// A label: wraps at word boundaries, clipped to its rectangle, clicks anywhere inside it.
// Transparent labels let the controls behind them show through.
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget* parent);
    void setColours(const QColor& text, const QColor& background, bool transparent);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    bool pressed_ = false;
};

// A bitmap at its natural size, or stretched to the control.
class Image : public Label, public Zoomable {
    Q_OBJECT
public:
    Image(QWidget* parent, const QString& resource, bool stretch);
    void setZoom(double zoom) override;

private:
    QImage picture_;
    bool stretch_;
};

// A button: a click, or Enter or Space while it has the focus.
class Button : public QPushButton {
    Q_OBJECT
public:
    explicit Button(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

// A one-line text box that reports clicks and every mouse movement over it.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent);

signals:
    void clicked();
    void mouseMoved();

protected:
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
};

// A rectangle with a one-pixel border, solid fill or hollow. Its width is kept in twips as a
// single-precision value, as the progress bars set it.
class Shape : public QWidget, public Zoomable {
    Q_OBJECT
public:
    Shape(QWidget* parent, const QColor& border, const QColor& fill, bool solid);
    float widthTwips() const { return widthTwips_; }
    void setWidthTwips(float twips);
    void setZoom(double zoom) override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor border_;
    QColor fill_;
    bool solid_;
    float widthTwips_ = 0;
};

// A one-pixel line from (x1, y1) to (x2, y2), given in twips.
class Line : public QWidget, public Zoomable {
    Q_OBJECT
public:
    Line(QWidget* parent, int x1, int y1, int x2, int y2, const QColor& colour);
    void setZoom(double zoom) override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPoint fromTwips_;
    QPoint toTwips_;
    QPoint from_;
    QPoint to_;
    QColor colour_;
};

}  // namespace zandrel::frame
