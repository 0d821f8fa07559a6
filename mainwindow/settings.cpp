// The user's choices in the per-user settings store, and the reset.

#include "mainwindow/mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow/networkpage.h"
#include "mainwindow/receiveconsole.h"
#include "mainwindow/serialpage.h"

#include <QMessageBox>
#include <QSettings>
#include <QTimer>

namespace {

QSettings openStore()
{
    return QSettings(QStringLiteral("Varnholt"), QStringLiteral("Quorvix"));
}

template<typename Widget>
struct Binding
{
    const char *key;
    Widget *Ui::MainWindow::*widget;
    const char *defaultValue;
};

// Keys in the order they are written and read; the default is also what the
// reset puts back.
const Binding<QLineEdit> networkFields[] = {
    { "network/localPort", &Ui::MainWindow::Local_Port, "8080" },
    { "network/targetIP", &Ui::MainWindow::Obj_IP, "127.0.0.1" },
    { "network/targetPort", &Ui::MainWindow::Obj_Port, "8080" },
};

struct Flag
{
    const char *key;
    QCheckBox *Ui::MainWindow::*box;
    bool defaultValue;
};

const Flag networkFlags[] = {
    { "options/displayTime", &Ui::MainWindow::DisplayTime, false },
    { "options/displaySendMsg", &Ui::MainWindow::DisplaySendMsg, false },
    { "options/autoSwitchLine", &Ui::MainWindow::AutoSwitchLine, true },
    { "options/hexSend", &Ui::MainWindow::HexSend, false },
    { "options/hexDisplay", &Ui::MainWindow::HexDisplay, false },
    { "options/sendNewLine", &Ui::MainWindow::SendNewLine, false },
    { "options/udpBroadcast", &Ui::MainWindow::UdpBroadcast, false },
    { "options/dnsAnalysis", &Ui::MainWindow::DnsAnalysis, false },
    { "options/timerSend", &Ui::MainWindow::Timer_Send, false },
};
const Binding<QLineEdit> networkPeriod = { "options/timerPeriod", &Ui::MainWindow::period, "1000" };

const Flag serialFlags[] = {
    { "serial/timeDisplay", &Ui::MainWindow::TimeDisplay, false },
    { "serial/hexSend", &Ui::MainWindow::SendHEX_2, false },
    { "serial/sendNewLine", &Ui::MainWindow::SendNewLine_2, false },
    { "serial/sendDisplay", &Ui::MainWindow::SendDisplay, false },
    { "serial/hexDisplay", &Ui::MainWindow::DisplayHEX, false },
    { "serial/autoSwitchLine", &Ui::MainWindow::AutoSwitchLine_2, true },
    { "serial/loopSend", &Ui::MainWindow::LoopSend, false },
};
const Binding<QLineEdit> serialPeriod = { "serial/loopSendPeriod", &Ui::MainWindow::LoopSendPeriod, "1000" };

const Binding<QComboBox> serialLists[] = {
    { "serial/portName", &Ui::MainWindow::SerialList, "" },
    { "serial/baudRate", &Ui::MainWindow::BaudrateList, "115200" },
    { "serial/dataBits", &Ui::MainWindow::DataBitsList, "8" },
    { "serial/stopBits", &Ui::MainWindow::StopBitsList, "1" },
    { "serial/parity", &Ui::MainWindow::ParityList, "none" },
    { "serial/flowControl", &Ui::MainWindow::FlowControlList, "NO" },
};

// Only an item of the list can become current; anything else keeps the list as it is.
void selectText(QComboBox *list, const QString &text)
{
    const int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        list->setCurrentIndex(index);
}

} // namespace

void MainWindow::loadSettings()
{
    QSettings store = openStore();
    for (const auto &field : networkFields)
        (ui->*field.widget)->setText(store.value(field.key, field.defaultValue).toString());

    const int mode = store.value("protocol/currentIndex", 0).toInt();
    if (mode >= 0 && mode <= 2)
        selectProtocol(Mode(mode));

    for (const Flag &flag : networkFlags)
        (ui->*flag.box)->setChecked(store.value(flag.key, flag.defaultValue).toBool());
    ui->period->setText(store.value(networkPeriod.key, networkPeriod.defaultValue).toString());
    for (const Flag &flag : serialFlags)
        (ui->*flag.box)->setChecked(store.value(flag.key, flag.defaultValue).toBool());
    ui->LoopSendPeriod->setText(store.value(serialPeriod.key, serialPeriod.defaultValue).toString());

    for (const auto &list : serialLists)
        selectText(ui->*list.widget, store.value(list.key, list.defaultValue).toString());
    // A stored port that is not plugged in yet is chosen when it first appears.
    const QString storedPort = store.value("serial/portName").toString();
    if (ui->SerialList->currentText() != storedPort)
        serialPage->preferPort(storedPort);
}

void MainWindow::saveSettings()
{
    QSettings store = openStore();
    for (const auto &field : networkFields)
        store.setValue(field.key, (ui->*field.widget)->text());
    store.setValue("protocol/currentIndex", int(currentProtocol));
    for (const Flag &flag : networkFlags)
        store.setValue(flag.key, (ui->*flag.box)->isChecked());
    store.setValue(networkPeriod.key, ui->period->text());
    for (const Flag &flag : serialFlags)
        store.setValue(flag.key, (ui->*flag.box)->isChecked());
    store.setValue(serialPeriod.key, ui->LoopSendPeriod->text());
    for (const auto &list : serialLists)
        store.setValue(list.key, (ui->*list.widget)->currentText());
    store.sync();
}

void MainWindow::on_resetButton_clicked()
{
    const auto answer = QMessageBox::question(
        this, QStringLiteral("确认重置"),
        QStringLiteral("确定要重置所有设置吗？\n这将清除全部配置，并使程序恢复到初始状态。"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    networkPage->close();
    serialPage->close();

    QSettings store = openStore();
    store.clear();
    store.sync();

    resetControls();
    networkPage->discoverLocalAddress();
    QMessageBox::information(this, QStringLiteral("重置完成"), QStringLiteral("所有设置已恢复为默认状态。"));
}

void MainWindow::resetControls()
{
    for (const auto &field : networkFields)
        (ui->*field.widget)->setText(field.defaultValue);
    selectProtocol(Mode::TcpClient);

    for (const Flag &flag : networkFlags)
        (ui->*flag.box)->setChecked(flag.defaultValue);
    ui->period->setText(networkPeriod.defaultValue);
    for (const Flag &flag : serialFlags)
        (ui->*flag.box)->setChecked(flag.defaultValue);
    ui->LoopSendPeriod->setText(serialPeriod.defaultValue);
    for (const auto &list : serialLists) {
        if (list.widget != &Ui::MainWindow::SerialList)
            selectText(ui->*list.widget, list.defaultValue);
    }
    serialPage->preferPort(QString());
    networkPage->stopLoop();
    serialPage->stopLoop();

    networkConsole->clear();
    ui->Send_msg->clear();
    serialConsole->clear();
    ui->DataToSend->clear();

    networkPage->clearCounters();
    serialPage->clearCounters();

    ui->client_list->clear();
}
