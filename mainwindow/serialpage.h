#pragma once

#include "mainwindow/linkstate.h"
#include "mainwindow/sendpanel.h"
#include "mainwindow/workerthread.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace Ui { class MainWindow; }
class HexViewer;
class QTimer;
class QWidget;
class ReceiveConsole;
class ReceiveCounter;
class Serial;

// The serial page: the port list, the line settings, the serial worker and
// its port.
class SerialPage : public QObject
{
    Q_OBJECT

public:
    using PortLister = std::function<QStringList()>;

    // What the page's lists say, read in one place.
    struct LineSettings
    {
        QString port;
        qint32 baud = 0;
        qint8 dataBits = 8;
        qint8 stopBits = 0;
        qint8 parity = 0;
        qint8 flow = 0;
    };

    SerialPage(Ui::MainWindow *ui, ReceiveConsole *console, PortLister lister, QWidget *window);
    ~SerialPage() override;

    // The fixed lists, the timers and the first port list.
    void init();
    void createWorker();
    void startWorker();
    // Stops the thread after the requests queued so far; the worker goes with it.
    void shutDown();
    Serial *worker() const { return serialWorker; }
    QTimer *loopTimer() const;

    LineSettings lineSettings() const;
    LinkState linkState() const { return state; }

    // A stored port name: shown in the field, and chosen whenever it is listed,
    // until the user picks or types another. Empty: whatever is listed first.
    void preferPort(const QString &name);

    void open();
    void close();
    void send(SendOrigin origin = SendOrigin::Button);
    // Sends `text` on the open port as the send button would, with its own
    // options; what refused it, or empty when it was handed over.
    QString sendText(const QString &text, bool hex, bool newLine);
    void toggleLoop();
    void stopLoop();
    void refreshPorts();
    void clearCounters();
    void showData(const QByteArray &bytes, QObject *source);

signals:
    void openSerial(QString PortName, int BaudRate, qint8 DataBits, qint8 StopBits, qint8 Parity,
                    qint8 FlowControl);
    void closeSerial();
    void sendMsg(QByteArray data);
    void linkClosed();

private:
    void setState(LinkState next);
    void hand(const SendPanel::Request &request);
    void showPreferredPort();
    void portFailed(const QString &text);

    Ui::MainWindow *ui;
    ReceiveConsole *console;
    QWidget *window;
    PortLister lister;
    SendPanel *panel;
    QTimer *portRefreshTimer = nullptr;

    Serial *serialWorker = nullptr;
    std::unique_ptr<WorkerThread> serialThread;

    LinkState state = LinkState::Closed;
    // The port the user picked or typed, or the stored one, kept across refreshes.
    QString preferredPort;

    ReceiveCounter *receiveCounter;
    HexViewer *hexViewer;
};
