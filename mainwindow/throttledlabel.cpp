#include "mainwindow/throttledlabel.h"

#include <QLabel>

ThrottledLabel::ThrottledLabel(QLabel *label, std::function<QString()> text, QObject *parent)
    : QObject(parent)
    , label(label)
    , text(std::move(text))
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &ThrottledLabel::showNow);
}

void ThrottledLabel::showNow()
{
    timer.stop();
    label->setText(text());
    sinceShown.start();
}

void ThrottledLabel::showSoon()
{
    if (timer.isActive())
        return;
    const qint64 since = sinceShown.isValid() ? sinceShown.elapsed() : IntervalMs;
    timer.start(int(qMax<qint64>(0, IntervalMs - since)));
}
