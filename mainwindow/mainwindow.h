#pragma once

#include <QByteArray>
#include <QHostInfo>
#include <QMainWindow>
#include <QMenu>
#include <QPoint>
#include <QString>
#include <QStringList>

#include "mainwindow/frameshadow.h"

#include <functional>
#include <optional>

QT_BEGIN_NAMESPACE
namespace Ui { class MainWindow; }
class QButtonGroup;
class QKeyEvent;
class QMouseEvent;
class QPaintEvent;
class QThread;
class QTimer;
QT_END_NAMESPACE

class TCP_Client;
class TCP_Server;
class UDP_Service;
class Serial;
class ReceiveConsole;
class ThrottledLabel;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Lists the names of the serial ports present; the default asks the system.
    using PortLister = std::function<QStringList()>;

    explicit MainWindow(QWidget *parent = nullptr, PortLister portLister = {});
    ~MainWindow() override;

    // Where record files are written; the application's directory unless a
    // test points it elsewhere.
    void setRecordDirectory(const QString &directory);

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
    void openSerial(QString PortName, int BaudRate, qint8 DataBits, qint8 StopBits,
                    qint8 Parity, qint8 FlowControl);
    void closeSerial();
    void sendMsg(QByteArray data);

private slots:
    void on_Connect_clicked();
    void on_Disconnect_clicked();
    void on_Send_clicked();
    void UpdateMsg(QByteArray message);
    void UpdateClientMsg(QByteArray message, QString client);
    void LoopSend();
    void on_Timer_Send_clicked();
    void on_ClearMessage_clicked();
    void on_clear_send_cnt_clicked();
    void UpdateClientsList(QString method, QString IP);
    void lookedUp(QHostInfo host);
    void keyPressEvent(QKeyEvent *key_event) override;
    void UpdateClientsHint(QString message);
    void onProtocolButtonClicked();
    void on_ActOpenFile_triggered();
    void on_ActSaveFile_triggered();
    void on_ActDnsAnalysis_triggered();
    void on_Kick_clicked();
    void on_client_list_currentTextChanged(QString arg1);
    void on_ActAbout_triggered();
    void showMenu();
    void on_minButton_clicked();
    void on_closeButton_clicked();
    void on_resetButton_clicked();
    void on_SerialOpen_clicked();
    void on_SerialClose_clicked();
    void on_SnedData_clicked();
    void GetSerialData(QByteArray Recive_msg);
    void on_SendClear_clicked();
    void on_OpenFile_clicked();
    void on_LoopSend_clicked();
    void on_SaveData_clicked();
    void Refresh_ComList();

    // Failures the workers report, and the end of a link from the far side.
    void onTcpConnectFailed(QString error);
    void onTcpServerClosed();
    void onListenFailed(QString error);
    void onBindFailed(QString error);
    void onSerialOpenFailed(QString error);
    void onSerialPortLost(QString error);
    void onLocalHostLookedUp(QHostInfo host);
    void onDatagramsDropped(quint64 count);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // Construction steps.
    void initNetworkPage();
    void setupMenu();
    void setupWorkers();
    void initSerialPage();
    void startSerialWorker();

    // Mode and enabling arrangements.
    void applyProtocolMode(int mode);
    void selectProtocol(int mode);
    void setNetworkOpenState();
    void setNetworkClosedState();
    void setSerialOpenState();
    void setSerialClosedState();

    // Connection control.
    void discoverLocalAddress();
    void closeNetworkMode(int mode);
    void reportNetworkFailure(int mode, const QString &text);
    void stopWorkerThread(QObject *worker, QThread *thread);
    std::optional<quint16> readPort(const QString &fieldName, const QString &text, bool allowZero);

    // Sending.
    bool networkTransportOpen() const;
    bool serialPortOpen() const;
    QString sendText(const class QTextEdit *area, bool newLine) const;
    void toggleLoop(QTimer *timer, class QCheckBox *box, const QString &periodText);
    void updateNetworkCounters();
    void countNetworkReceive(qsizetype bytes);
    void updateSerialCounters();
    void closeSerialPage();
    void reportSerialFailure(const QString &text);

    // Settings and record files.
    void loadSettings();
    void saveSettings();
    void resetControls();
    void loadSendFile(class QTextEdit *target, QWidget *dialogParent, const QString &filter);
    void saveRecord(ReceiveConsole *console, bool skipWhenEmpty);

    Ui::MainWindow *ui = nullptr;

    int currentProtocol = 0;
    QButtonGroup *protocolGroup = nullptr;
    QMenu *popupMenu = nullptr;

    FrameShadow shadow { 20, QColor(0, 0, 0, 80) };
    bool isDragging = false;
    QPoint dragStartPos;
    QPoint windowStartPos;

    TCP_Client *tcpClient = nullptr;
    QThread *tcpClientThread = nullptr;
    TCP_Server *tcpServer = nullptr;
    QThread *tcpServerThread = nullptr;
    UDP_Service *udpService = nullptr;
    QThread *udpThread = nullptr;
    Serial *serialWorker = nullptr;
    QThread *serialThread = nullptr;

    QTimer *loopTimer = nullptr;
    QTimer *serialLoopTimer = nullptr;
    QTimer *portRefreshTimer = nullptr;

    ReceiveConsole *networkConsole = nullptr;
    ReceiveConsole *serialConsole = nullptr;
    ThrottledLabel *netReceiveLabel = nullptr;
    ThrottledLabel *serialReceiveLabel = nullptr;

    quint64 netReceiveCount = 0;
    quint64 netSendCount = 0;
    quint64 serialReceiveCount = 0;
    quint64 serialSendCount = 0;

    QString resolvedAddress;
    int pendingLookupId = -1;
    int localLookupId = -1;

    PortLister portLister;
    QString wantedPortName;
    QString recordDirectory;
};
