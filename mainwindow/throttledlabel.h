#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QLabel;

// A label whose text follows a figure that may change thousands of times a
// second. Setting the text relays out the page, so during a flood the label
// catches up at most once per interval; the text is taken when shown, so
// the figure it shows is always exact.
class ThrottledLabel : public QObject
{
    Q_OBJECT

public:
    ThrottledLabel(QLabel *label, std::function<QString()> text, QObject *parent = nullptr);

    static constexpr int IntervalMs = 50;

    // Shows the text at once.
    void showNow();
    // Shows the text on the next turn of the event loop, or once the
    // interval since the last time is up.
    void showSoon();

private:
    QLabel *label;
    std::function<QString()> text;
    QTimer timer;
    QElapsedTimer sinceShown;
};
