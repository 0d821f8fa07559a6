#include "mainwindow/frameshadow.h"

#include <QGraphicsDropShadowEffect>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QPaintDevice>
#include <QPainter>
#include <QRegion>

FrameShadow::FrameShadow(qreal blurRadius, const QColor &color)
    : blurRadius(blurRadius)
    , color(color)
{
}

void FrameShadow::paint(QPainter &painter, const QRegion &region, const QRect &frame, const QSize &size)
{
    const QRegion margin = region - frame;
    if (margin.isEmpty())
        return;
    const qreal pixelRatio = painter.device()->devicePixelRatioF();
    if (frame != imageFrame || size != image.deviceIndependentSize().toSize()
        || pixelRatio != image.devicePixelRatio())
        render(frame, size, pixelRatio);
    painter.save();
    painter.setClipRegion(margin);
    painter.drawImage(QPoint(0, 0), image);
    painter.restore();
}

void FrameShadow::render(const QRect &frame, const QSize &size, qreal pixelRatio)
{
    QGraphicsScene scene(QRectF(QPointF(0, 0), size));
    QGraphicsRectItem *standIn = scene.addRect(frame, Qt::NoPen, Qt::black);
    auto *effect = new QGraphicsDropShadowEffect;
    effect->setBlurRadius(blurRadius);
    effect->setColor(color);
    effect->setOffset(0, 0);
    standIn->setGraphicsEffect(effect);

    image = QImage(size * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    scene.render(&painter, QRectF(QPointF(0, 0), size), scene.sceneRect());
    imageFrame = frame;
}
