#pragma once

#include "mainwindow/frameshadow.h"
#include "mainwindow/linkstate.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHostInfo>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class MainWindow; }
class QButtonGroup;
class QKeyEvent;
class QMenu;
class QMouseEvent;
class QPaintEvent;
QT_END_NAMESPACE

class NetworkPage;
class QuickSendWindow;
class QThread;
class ReceiveConsole;
class SendArea;
class SerialPage;
class Settings;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Lists the names of the serial ports present; the default asks the system.
    using PortLister = std::function<QStringList()>;

    explicit MainWindow(QWidget *parent = nullptr, PortLister portLister = {});
    ~MainWindow() override;

    // Where record files are written; the application's directory unless a
    // test points it elsewhere. When it cannot be written, the capture
    // folder takes the record.
    void setRecordDirectory(const QString &directory);

public slots:
    // Saves the settings now, as the session manager asks before a logout.
    void commitSessionData();

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
    // The datagrams of one read of the UDP worker.
    void UpdateDatagrams(QByteArrayList messages, QStringList senders);
    // Server data, with the client it came from.
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
    void showQuickSend();
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
    void setupQuickSend();
    void startSerialWorker();

    // Selects a mode exactly as a click on its button does, without the click.
    void selectProtocol(Mode mode);

    // Record files.
    void loadSendFile(SendArea *target, QWidget *dialogParent, const QString &filter);
    void saveRecord(ReceiveConsole *console, bool skipWhenEmpty);

    Ui::MainWindow *ui = nullptr;

    Mode currentProtocol = Mode::TcpClient;
    QButtonGroup *protocolGroup = nullptr;
    QMenu *popupMenu = nullptr;

    FrameShadow shadow { 20, QColor(0, 0, 0, 80) };
    bool isDragging = false;
    QPoint dragStartPos;
    QPoint windowStartPos;

    ReceiveConsole *networkConsole = nullptr;
    ReceiveConsole *serialConsole = nullptr;
    NetworkPage *networkPage = nullptr;
    SerialPage *serialPage = nullptr;
    QuickSendWindow *quickSend = nullptr;
    std::unique_ptr<Settings> settings;

    PortLister portLister;
    QString recordDirectory;
    QString captureFolder;
    // Records being written in the background.
    QList<QThread *> recordWriters;
};
