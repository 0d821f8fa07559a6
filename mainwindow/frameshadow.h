#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

class QPainter;
class QRegion;

// The drop shadow of a frameless window, in the margin around its frame.
// A graphics effect on the window's content would render and blur the
// whole window again for every repaint inside it; this shadow is blurred
// once per size, by the same effect on a stand-in for the frame, and then
// only copied.
class FrameShadow
{
public:
    FrameShadow(qreal blurRadius, const QColor &color);

    // Paints the shadow of `frame` where `region` lies outside it, on a
    // window of `size`.
    void paint(QPainter &painter, const QRegion &region, const QRect &frame, const QSize &size);

private:
    void render(const QRect &frame, const QSize &size, qreal pixelRatio);

    qreal blurRadius;
    QColor color;
    QImage image;
    QRect imageFrame;
};
