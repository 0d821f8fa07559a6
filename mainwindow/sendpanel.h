#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTextEdit;
class QTimer;
class QWidget;
class ReceiveConsole;

// What both pages share about sending: the send area's text and options,
// the counter of what the transport took, the echo, and the loop timer.
class SendPanel : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QTextEdit *area = nullptr;
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
    };

    SendPanel(const Widgets &widgets, ReceiveConsole *console, const QString &echoStamp,
              QWidget *dialogParent, QObject *parent);

    Request request() const;
    // A send of `text` with its own options, as a quick send asks: hex must
    // decode whole, or nothing goes and `reason` says why.
    std::optional<Request> compose(const QString &text, bool hex, bool newLine, QString *reason) const;
    // The request went to a worker, which answers with one report.
    void handedOver(const Request &request);
    // A worker's report, in the order of the requests.
    void reported(qint64 bytes, const QString &error);

    // Follows the loop box after a click on it; a bad period is refused.
    void toggleLoop();
    void stopLoop();
    QTimer *loopTimer() const { return timer; }

    void clearCount();

private:
    void showCount();

    Widgets ui;
    ReceiveConsole *console;
    QString echoStamp;
    QWidget *dialogParent;
    QTimer *timer;
    quint64 sentCount = 0;
    std::deque<Request> awaitingReport;
};
