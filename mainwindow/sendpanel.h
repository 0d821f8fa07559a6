#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTimer;
class QWidget;
class ReceiveConsole;
class SendArea;

enum class SendOrigin { Button, Loop };

// What both pages share about sending: the send area's text and options,
// the counter of what the transport took, the echo, and the loop timer.
class SendPanel : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        SendArea *area = nullptr;
        QCheckBox *hex = nullptr;
        QCheckBox *newLine = nullptr;
        QCheckBox *echo = nullptr;
        QCheckBox *loop = nullptr;
        QLineEdit *period = nullptr;
        QLabel *counter = nullptr;
    };

    // A send as read from the page: the text as typed (with CR LF when
    // asked for) and the bytes that go out.
    struct Request
    {
        QString text;
        QByteArray bytes;
        bool echo = false;
        // The counter's generation, which a zeroing ends, and the loop run
        // that made the send (0 for a press of the button).
        quint64 generation = 0;
        int loopRun = 0;
    };

    // Bytes handed to a worker that the system has not taken yet; beyond
    // this, sends wait, so a peer that stops reading cannot fill memory.
    static constexpr qint64 BacklogLimit = 1024 * 1024;

    SendPanel(const Widgets &widgets, ReceiveConsole *console, const QString &echoStamp,
              QWidget *dialogParent, QObject *parent);

    // The send to make now, or none: hex that is not pairs of digits (a box
    // says where, a loop stops), or a backlog (the area says so).
    std::optional<Request> request(SendOrigin origin);
    // A send of `text` with its own options, as a quick send asks: a backlog
    // or hex that does not decode whole refuse it, and `reason` says why.
    std::optional<Request> compose(const QString &text, bool hex, bool newLine, QString *reason) const;
    // The request went to a worker, which answers with one report.
    void handedOver(const Request &request);
    // A worker's report, in the order of the requests: the bytes the
    // system took, and why not all of them when `error` is not empty.
    void reported(qint64 bytes, const QString &error);

    // Follows the loop box after a click on it; a bad period is refused.
    void toggleLoop();
    void stopLoop();
    QTimer *loopTimer() const { return timer; }

    // Zeroes the counter; sends made before it count no more.
    void clearCount();

private:
    struct Awaiting
    {
        QString text;
        bool echo = false;
        qint64 size = 0;
        quint64 generation = 0;
        int loopRun = 0;
    };

    void showCount();
    // Why nothing more may be handed over now, or empty.
    QString backlogRefusal() const;

    Widgets ui;
    ReceiveConsole *console;
    QString echoStamp;
    QWidget *dialogParent;
    QTimer *timer;
    quint64 sentCount = 0;
    quint64 generation = 0;
    int loopRun = 0;
    int refusalToldRun = 0;
    bool backlogTold = false;
    qint64 backlog = 0;
    std::deque<Awaiting> awaitingReport;
};
