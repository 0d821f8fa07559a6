#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QLabel;

// The label that counts the bytes a page received. The count may change
// thousands of times a second and setting the text relays out the page, so
// during a flood the label catches up at most once per interval; the text is
// made when shown, so the figure it shows is always exact.
class ReceiveCounter : public QObject
{
    Q_OBJECT

public:
    ReceiveCounter(QLabel *label, QObject *parent = nullptr);

    static constexpr int IntervalMs = 50;

    // Shown on the next turn of the event loop, or once the interval since
    // the last time is up.
    void add(qsizetype bytes);
    // Shown at once.
    void reset();

private:
    void show();

    QLabel *label;
    quint64 count = 0;
    QTimer timer;
    QElapsedTimer sinceShown;
};
