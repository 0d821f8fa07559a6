#pragma once

#include "mainwindow/linkstate.h"
#include "mainwindow/sendpanel.h"
#include "mainwindow/workerthread.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHostInfo>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Ui { class MainWindow; }
class HexViewer;
class QTimer;
class QWidget;
class ReceiveConsole;
class ReceiveCounter;
class TCP_Client;
class TCP_Server;
class UDP_Service;

// The page shared by the TCP client, TCP server and UDP modes. It owns the
// three network workers and the one link that may be open: the mode that
// opened it owns it until it is closed.
class NetworkPage : public QObject
{
    Q_OBJECT

public:
    NetworkPage(Ui::MainWindow *ui, ReceiveConsole *console, QWidget *window);
    ~NetworkPage() override;

    void init();
    // The loop timer, then the UDP, client and server workers; no thread runs yet.
    void createWorkers();
    // Stops the running threads and deletes them (UDP, server, client), then
    // the workers (UDP, client, server).
    void shutDown();
    UDP_Service *udpWorker() const { return udpService; }
    TCP_Client *clientWorker() const { return tcpClient; }
    TCP_Server *serverWorker() const { return tcpServer; }
    QTimer *loopTimer() const;

    // Shows the page for a network mode; the open link is left as it is.
    void showMode(Mode mode);
    LinkState linkState() const { return state; }

    void open();
    void close();
    void send(SendOrigin origin = SendOrigin::Button);
    // Sends `text` on the open link as the send button would, with its own
    // options; what refused it, or empty when it was handed over.
    QString sendText(const QString &text, bool hex, bool newLine);
    void toggleLoop();
    void stopLoop();
    void clearCounters();
    void clearReceived();
    void discoverLocalAddress();

    // A chunk from the client worker.
    void showData(const QByteArray &bytes, QObject *source);
    // Datagrams from the UDP worker, each a message of its own, with their
    // senders as "address:port".
    void showDatagrams(const QByteArrayList &datagrams, const QStringList &senders);
    // A chunk from `client` of the server.
    void showClientData(const QByteArray &bytes, const QString &client);
    void updateClients(const QString &method, const QString &ip);
    void showServerMessage(const QString &message);
    void selectClient(const QString &text);
    void kick();
    void lookedUp(const QHostInfo &host);

signals:
    void tcpC_connect(QString Server_ip, quint16 Server_port);
    void tcpC_disconnect();
    void tcpC_send(QByteArray msg);
    void tcpS_open(quint16 port);
    void tcpS_close();
    void tcpS_send(QByteArray msg);
    void tcpS_kick(QString ip);
    void udp_open(quint16 port);
    void udp_close();
    void udp_send(QByteArray msg, QString obj_ip, quint16 obj_port);
    void linkClosed();

private:
    WorkerThread &threadOf(Mode mode) const;
    bool hand(const SendPanel::Request &request);
    void applyState();
    void setState(LinkState next);
    std::optional<quint16> readPort(const QString &fieldName, const QString &text, bool allowZero);
    void cancelLookup();
    // Reports of a link are its own only while it is open and no close of
    // an earlier link is still on its way through a worker.
    bool reportsCount(Mode from) const;
    void linkFailed(Mode from, const QString &text);
    void onConnectFailed(const QString &error);
    void onServerClosed();
    void onListenFailed(const QString &error);
    void onBindFailed(const QString &error);
    void onPortTaken(Mode from, quint16 port);
    void onDatagramsDropped(quint64 count);
    void onLocalHostLookedUp(const QHostInfo &host);

    Ui::MainWindow *ui;
    ReceiveConsole *console;
    QWidget *window;
    SendPanel *panel;

    UDP_Service *udpService = nullptr;
    TCP_Client *tcpClient = nullptr;
    TCP_Server *tcpServer = nullptr;
    std::unique_ptr<WorkerThread> udpThread;
    std::unique_ptr<WorkerThread> tcpClientThread;
    std::unique_ptr<WorkerThread> tcpServerThread;

    Mode shownMode = Mode::TcpClient;
    Mode linkMode = Mode::TcpClient;
    LinkState state = LinkState::Closed;

    int pendingLookupId = -1;
    quint16 lookupPort = 0;
    // Resolved addresses not tried yet.
    QStringList candidates;
    // Port 0 was asked for, so the one taken is told.
    bool tellTakenPort = false;
    int localLookupId = -1;

    ReceiveCounter *receiveCounter;
    HexViewer *hexViewer;
    // The client link's source name in the hex viewer: the target as typed.
    QString linkName;
};
