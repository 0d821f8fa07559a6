#include "mainwindow/receivecounter.h"

#include <QLabel>

ReceiveCounter::ReceiveCounter(QLabel *label, QObject *parent)
    : QObject(parent)
    , label(label)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &ReceiveCounter::show);
}

void ReceiveCounter::add(qsizetype bytes)
{
    count += quint64(bytes);
    if (timer.isActive())
        return;
    const qint64 since = sinceShown.isValid() ? sinceShown.elapsed() : IntervalMs;
    timer.start(int(qMax<qint64>(0, IntervalMs - since)));
}

void ReceiveCounter::reset()
{
    count = 0;
    show();
}

void ReceiveCounter::show()
{
    timer.stop();
    label->setText(QStringLiteral("累计接收：%1").arg(count));
    sinceShown.start();
}
