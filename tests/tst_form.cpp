#include "ui_mainwindow.h"

#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

#include <memory>

// The window code, the by-name slot connections and the style sheet all find
// widgets by object name, class and position; these tables pin them down.
namespace {

constexpr int unbounded = QWIDGETSIZE_MAX;

struct FormObject
{
    const char *name;
    const char *className;
    const char *parent; // parent widget, or the layout holding a layout
};

const FormObject formObjects[] = {
    {"centralwidget", "QWidget", "MainWindow"},
    {"verticalLayout", "QVBoxLayout", "centralwidget"},
    {"frameMian", "QFrame", "centralwidget"},
    {"verticalLayout_4", "QVBoxLayout", "frameMian"},
    {"horizontalLayout_17", "QHBoxLayout", "verticalLayout_4"},
    {"frameMenu", "QFrame", "frameMian"},
    {"verticalLayout_5", "QVBoxLayout", "frameMenu"},
    {"logoButton", "QPushButton", "frameMenu"},
    {"TCPClient", "QToolButton", "frameMenu"},
    {"TCPserver", "QToolButton", "frameMenu"},
    {"UDPButton", "QToolButton", "frameMenu"},
    {"serialButton", "QToolButton", "frameMenu"},
    {"verticalLayout_6", "QVBoxLayout", "horizontalLayout_17"},
    {"headerFrame", "QFrame", "frameMian"},
    {"horizontalLayout_3", "QHBoxLayout", "headerFrame"},
    {"titlelabel", "QLabel", "headerFrame"},
    {"menuButton", "QPushButton", "headerFrame"},
    {"minButton", "QPushButton", "headerFrame"},
    {"closeButton", "QPushButton", "headerFrame"},
    {"stackedWidget", "QStackedWidget", "frameMian"},
    {"buttonGroup", "QButtonGroup", "MainWindow"},

    {"networkPage", "QWidget", "stackedWidget"},
    {"verticalLayout_3", "QVBoxLayout", "networkPage"},
    {"horizontalLayout_2", "QHBoxLayout", "verticalLayout_3"},
    {"frame_4", "QFrame", "networkPage"},
    {"verticalLayout_7", "QVBoxLayout", "frame_4"},
    {"horizontalLayout_8", "QHBoxLayout", "verticalLayout_7"},
    {"label", "QLabel", "frame_4"},
    {"Local_IP", "QLineEdit", "frame_4"},
    {"horizontalLayout_9", "QHBoxLayout", "verticalLayout_7"},
    {"label_2", "QLabel", "frame_4"},
    {"Local_Port", "QLineEdit", "frame_4"},
    {"horizontalLayout_10", "QHBoxLayout", "verticalLayout_7"},
    {"label_3", "QLabel", "frame_4"},
    {"Obj_IP", "QLineEdit", "frame_4"},
    {"horizontalLayout_11", "QHBoxLayout", "verticalLayout_7"},
    {"label_4", "QLabel", "frame_4"},
    {"Obj_Port", "QLineEdit", "frame_4"},
    {"horizontalLayout_12", "QHBoxLayout", "verticalLayout_7"},
    {"Connect", "QPushButton", "frame_4"},
    {"Disconnect", "QPushButton", "frame_4"},
    {"horizontalLayout_4", "QHBoxLayout", "verticalLayout_7"},
    {"DisplayTime", "QCheckBox", "frame_4"},
    {"DisplaySendMsg", "QCheckBox", "frame_4"},
    {"horizontalLayout_16", "QHBoxLayout", "verticalLayout_7"},
    {"AutoSwitchLine", "QCheckBox", "frame_4"},
    {"HexSend", "QCheckBox", "frame_4"},
    {"horizontalLayout_13", "QHBoxLayout", "verticalLayout_7"},
    {"HexDisplay", "QCheckBox", "frame_4"},
    {"SendNewLine", "QCheckBox", "frame_4"},
    {"horizontalLayout_14", "QHBoxLayout", "verticalLayout_7"},
    {"UdpBroadcast", "QCheckBox", "frame_4"},
    {"DnsAnalysis", "QCheckBox", "frame_4"},
    {"horizontalLayout_15", "QHBoxLayout", "verticalLayout_7"},
    {"Timer_Send", "QCheckBox", "frame_4"},
    {"period", "QLineEdit", "frame_4"},
    {"label_5", "QLabel", "frame_4"},
    {"horizontalLayout_18", "QHBoxLayout", "verticalLayout_7"},
    {"label_6", "QLabel", "frame_4"},
    {"client_list", "QComboBox", "frame_4"},
    {"horizontalLayout_6", "QHBoxLayout", "verticalLayout_7"},
    {"Recive_cnt", "QLabel", "frame_4"},
    {"Send_cnt", "QLabel", "frame_4"},
    {"horizontalLayout_7", "QHBoxLayout", "verticalLayout_7"},
    {"clear_send_cnt", "QPushButton", "frame_4"},
    {"resetButton", "QPushButton", "frame_4"},
    {"horizontalLayout_32", "QHBoxLayout", "verticalLayout_7"},
    {"openfileButton", "QPushButton", "frame_4"},
    {"savefileButton", "QPushButton", "frame_4"},
    {"verticalLayout_2", "QVBoxLayout", "horizontalLayout_2"},
    {"Recive_msg", "ReceiveView", "networkPage"},
    {"Send_msg", "QTextEdit", "networkPage"},
    {"frame", "QFrame", "networkPage"},
    {"horizontalLayout", "QHBoxLayout", "frame"},
    {"ClearMessage", "QPushButton", "frame"},
    {"Kick", "QPushButton", "frame"},
    {"Send", "QPushButton", "frame"},

    {"serialPage", "QWidget", "stackedWidget"},
    {"horizontalLayout_19", "QHBoxLayout", "serialPage"},
    {"verticalLayout_9", "QVBoxLayout", "horizontalLayout_19"},
    {"horizontalLayout_5", "QHBoxLayout", "verticalLayout_9"},
    {"label_Serial_num", "QLabel", "serialPage"},
    {"SerialList", "QComboBox", "serialPage"},
    {"horizontalLayout_22", "QHBoxLayout", "verticalLayout_9"},
    {"label_Baudrate", "QLabel", "serialPage"},
    {"BaudrateList", "QComboBox", "serialPage"},
    {"horizontalLayout_23", "QHBoxLayout", "verticalLayout_9"},
    {"label_Data_bit", "QLabel", "serialPage"},
    {"DataBitsList", "QComboBox", "serialPage"},
    {"horizontalLayout_24", "QHBoxLayout", "verticalLayout_9"},
    {"label_StopBit", "QLabel", "serialPage"},
    {"StopBitsList", "QComboBox", "serialPage"},
    {"horizontalLayout_25", "QHBoxLayout", "verticalLayout_9"},
    {"label_parity", "QLabel", "serialPage"},
    {"ParityList", "QComboBox", "serialPage"},
    {"horizontalLayout_26", "QHBoxLayout", "verticalLayout_9"},
    {"label_Check_bit_2", "QLabel", "serialPage"},
    {"FlowControlList", "QComboBox", "serialPage"},
    {"horizontalLayout_27", "QHBoxLayout", "verticalLayout_9"},
    {"SerialClose", "QPushButton", "serialPage"},
    {"SerialOpen", "QPushButton", "serialPage"},
    {"horizontalLayout_28", "QHBoxLayout", "verticalLayout_9"},
    {"TimeDisplay", "QCheckBox", "serialPage"},
    {"SendHEX_2", "QCheckBox", "serialPage"},
    {"horizontalLayout_29", "QHBoxLayout", "verticalLayout_9"},
    {"SendNewLine_2", "QCheckBox", "serialPage"},
    {"SendDisplay", "QCheckBox", "serialPage"},
    {"horizontalLayout_30", "QHBoxLayout", "verticalLayout_9"},
    {"DisplayHEX", "QCheckBox", "serialPage"},
    {"AutoSwitchLine_2", "QCheckBox", "serialPage"},
    {"horizontalLayout_31", "QHBoxLayout", "verticalLayout_9"},
    {"LoopSend", "QCheckBox", "serialPage"},
    {"LoopSendPeriod", "QLineEdit", "serialPage"},
    {"label_7", "QLabel", "serialPage"},
    {"horizontalLayout_21", "QHBoxLayout", "verticalLayout_9"},
    {"ReciveCountLabel", "QLabel", "serialPage"},
    {"SendCountLabel", "QLabel", "serialPage"},
    {"SendClear", "QPushButton", "serialPage"},
    {"verticalLayout_8", "QVBoxLayout", "horizontalLayout_19"},
    {"DataRecive", "ReceiveView", "serialPage"},
    {"DataToSend", "QTextEdit", "serialPage"},
    {"horizontalLayout_20", "QHBoxLayout", "verticalLayout_8"},
    {"ClearRecive", "QPushButton", "serialPage"},
    {"SaveData", "QPushButton", "serialPage"},
    {"OpenFile", "QPushButton", "serialPage"},
    {"SnedData", "QPushButton", "serialPage"},

    {"ActRecivceFont", "QAction", "MainWindow"},
    {"ActSendFont", "QAction", "MainWindow"},
    {"ActReciveFontColor", "QAction", "MainWindow"},
    {"ActSendFontColor", "QAction", "MainWindow"},
    {"ActOpenFile", "QAction", "MainWindow"},
    {"ActSaveFile", "QAction", "MainWindow"},
    {"ActDnsAnalysis", "QAction", "MainWindow"},
    {"ActWindowBGColor", "QAction", "MainWindow"},
    {"ActReciveBGColor", "QAction", "MainWindow"},
    {"ActSendBGColor", "QAction", "MainWindow"},
    {"ActAbout", "QAction", "MainWindow"},
};

const QSize noMaximum(unbounded, unbounded);
QSize maxWidth(int width) { return {width, unbounded}; }
QSize maxHeight(int height) { return {unbounded, height}; }

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void objects_data();
    void objects();
    void noUnlistedObjects();
    void layouts_data();
    void layouts();
    void spacers_data();
    void spacers();
    void sizes_data();
    void sizes();
    void fonts_data();
    void fonts();
    void texts_data();
    void texts();
    void actions_data();
    void actions();
    void icons_data();
    void icons();

    void window();
    void initialState();
    void navigationGroupIsExclusive();
    void spareHeightGoesToReceiveAreas();

private:
    QHash<QString, QSpacerItem *> spacerItems() const;
    QString itemName(QLayoutItem *item) const;
    template<typename T = QObject>
    T *object(const QString &name) const;

    std::unique_ptr<QMainWindow> window_;
    Ui::MainWindow ui;
};

void FormTest::init()
{
    window_ = std::make_unique<QMainWindow>();
    ui.setupUi(window_.get());
}

void FormTest::cleanup()
{
    window_.reset();
}

QHash<QString, QSpacerItem *> FormTest::spacerItems() const
{
    return {{"verticalSpacer", ui.verticalSpacer},
            {"horizontalSpacer", ui.horizontalSpacer},
            {"horizontalSpacer_2", ui.horizontalSpacer_2},
            {"verticalSpacer_2", ui.verticalSpacer_2},
            {"verticalSpacer_3", ui.verticalSpacer_3}};
}

QString FormTest::itemName(QLayoutItem *item) const
{
    if (item->widget())
        return item->widget()->objectName();
    if (item->layout())
        return item->layout()->objectName();
    return spacerItems().key(item->spacerItem(), "unnamed item");
}

template<typename T>
T *FormTest::object(const QString &name) const
{
    T *found = window_->findChild<T *>(name);
    if (!found)
        qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

void FormTest::objects_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");
    for (const FormObject &entry : formObjects)
        QTest::newRow(entry.name) << entry.className << entry.parent;
}

void FormTest::objects()
{
    QFETCH(QString, className);
    QFETCH(QString, parent);
    QObject *found = object(QTest::currentDataTag());
    QVERIFY(found);
    QCOMPARE(found->metaObject()->className(), className);
    QVERIFY(found->parent());
    QCOMPARE(found->parent()->objectName(), parent);
}

// Two objects with one name would make the by-name connections and the style
// sheet pick one of them at random.
void FormTest::noUnlistedObjects()
{
    QStringList expected;
    for (const FormObject &entry : formObjects)
        expected << entry.name;
    QStringList actual;
    for (const QObject *child : window_->findChildren<QObject *>()) {
        const QString name = child->objectName();
        // Qt's own helpers: the main window's layout and scroll area parts.
        if (child != window_->layout() && !name.isEmpty() && !name.startsWith("qt_"))
            actual << name;
    }
    actual.sort();
    expected.sort();
    const QSet<QString> unlisted = QSet<QString>(actual.cbegin(), actual.cend())
                                       - QSet<QString>(expected.cbegin(), expected.cend());
    QVERIFY2(unlisted.isEmpty(), qPrintable(QStringList(unlisted.cbegin(), unlisted.cend()).join(' ')));
    QCOMPARE(actual, expected); // also catches a name used twice
}

void FormTest::layouts_data()
{
    QTest::addColumn<QStringList>("items");
    auto row = [](const char *layout, QStringList items) { QTest::newRow(layout) << items; };

    row("verticalLayout", {"frameMian"});
    row("verticalLayout_4", {"horizontalLayout_17"});
    row("horizontalLayout_17", {"frameMenu", "verticalLayout_6"});
    row("verticalLayout_5",
        {"logoButton", "TCPClient", "TCPserver", "UDPButton", "serialButton", "verticalSpacer"});
    row("verticalLayout_6", {"headerFrame", "stackedWidget"});
    row("horizontalLayout_3",
        {"titlelabel", "horizontalSpacer", "menuButton", "minButton", "closeButton"});

    row("verticalLayout_3", {"horizontalLayout_2"});
    row("horizontalLayout_2", {"frame_4", "verticalLayout_2"});
    row("verticalLayout_7",
        {"horizontalLayout_8", "horizontalLayout_9", "horizontalLayout_10", "horizontalLayout_11",
         "horizontalLayout_12", "horizontalLayout_4", "horizontalLayout_16", "horizontalLayout_13",
         "horizontalLayout_14", "horizontalLayout_15", "horizontalLayout_18", "horizontalLayout_6",
         "horizontalLayout_7", "horizontalLayout_32"});
    row("horizontalLayout_8", {"label", "Local_IP"});
    row("horizontalLayout_9", {"label_2", "Local_Port"});
    row("horizontalLayout_10", {"label_3", "Obj_IP"});
    row("horizontalLayout_11", {"label_4", "Obj_Port"});
    row("horizontalLayout_12", {"Connect", "Disconnect"});
    row("horizontalLayout_4", {"DisplayTime", "DisplaySendMsg"});
    row("horizontalLayout_16", {"AutoSwitchLine", "HexSend"});
    row("horizontalLayout_13", {"HexDisplay", "SendNewLine"});
    row("horizontalLayout_14", {"UdpBroadcast", "DnsAnalysis"});
    row("horizontalLayout_15", {"Timer_Send", "period", "label_5"});
    row("horizontalLayout_18", {"label_6", "client_list"});
    row("horizontalLayout_6", {"Recive_cnt", "Send_cnt"});
    row("horizontalLayout_7", {"clear_send_cnt", "resetButton"});
    row("horizontalLayout_32", {"openfileButton", "savefileButton"});
    row("verticalLayout_2", {"Recive_msg", "Send_msg", "frame"});
    row("horizontalLayout", {"horizontalSpacer_2", "ClearMessage", "Kick", "Send"});

    row("horizontalLayout_19", {"verticalLayout_9", "verticalLayout_8"});
    row("verticalLayout_9",
        {"horizontalLayout_5", "horizontalLayout_22", "horizontalLayout_23", "horizontalLayout_24",
         "horizontalLayout_25", "horizontalLayout_26", "verticalSpacer_2", "horizontalLayout_27",
         "verticalSpacer_3", "horizontalLayout_28", "horizontalLayout_29", "horizontalLayout_30",
         "horizontalLayout_31", "horizontalLayout_21"});
    row("horizontalLayout_5", {"label_Serial_num", "SerialList"});
    row("horizontalLayout_22", {"label_Baudrate", "BaudrateList"});
    row("horizontalLayout_23", {"label_Data_bit", "DataBitsList"});
    row("horizontalLayout_24", {"label_StopBit", "StopBitsList"});
    row("horizontalLayout_25", {"label_parity", "ParityList"});
    row("horizontalLayout_26", {"label_Check_bit_2", "FlowControlList"});
    row("horizontalLayout_27", {"SerialClose", "SerialOpen"});
    row("horizontalLayout_28", {"TimeDisplay", "SendHEX_2"});
    row("horizontalLayout_29", {"SendNewLine_2", "SendDisplay"});
    row("horizontalLayout_30", {"DisplayHEX", "AutoSwitchLine_2"});
    row("horizontalLayout_31", {"LoopSend", "LoopSendPeriod", "label_7"});
    row("horizontalLayout_21", {"ReciveCountLabel", "SendCountLabel", "SendClear"});
    row("verticalLayout_8", {"DataRecive", "DataToSend", "horizontalLayout_20"});
    row("horizontalLayout_20", {"ClearRecive", "SaveData", "OpenFile", "SnedData"});
}

void FormTest::layouts()
{
    QFETCH(QStringList, items);
    const auto *layout = object<QBoxLayout>(QTest::currentDataTag());
    QVERIFY(layout);
    QStringList actual;
    for (int i = 0; i < layout->count(); ++i) {
        actual << itemName(layout->itemAt(i));
        QCOMPARE(layout->stretch(i), 0);
        QCOMPARE(layout->itemAt(i)->alignment(), Qt::Alignment());
    }
    QCOMPARE(actual, items);
}

void FormTest::spacers_data()
{
    QTest::addColumn<QSize>("sizeHint");
    QTest::addColumn<QSizePolicy::Policy>("horizontal");
    QTest::addColumn<QSizePolicy::Policy>("vertical");

    QTest::newRow("verticalSpacer") << QSize(20, 40) << QSizePolicy::Minimum << QSizePolicy::Expanding;
    QTest::newRow("horizontalSpacer") << QSize(40, 20) << QSizePolicy::Expanding << QSizePolicy::Minimum;
    QTest::newRow("horizontalSpacer_2") << QSize(40, 20) << QSizePolicy::Expanding << QSizePolicy::Minimum;
    QTest::newRow("verticalSpacer_2") << QSize(20, 30) << QSizePolicy::Minimum << QSizePolicy::Minimum;
    QTest::newRow("verticalSpacer_3") << QSize(20, 30) << QSizePolicy::Minimum << QSizePolicy::Maximum;
}

void FormTest::spacers()
{
    QFETCH(QSize, sizeHint);
    QFETCH(QSizePolicy::Policy, horizontal);
    QFETCH(QSizePolicy::Policy, vertical);
    const QSpacerItem *spacer = spacerItems().value(QTest::currentDataTag());
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), sizeHint);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), vertical);
}

void FormTest::sizes_data()
{
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QSize>("maximum");
    QTest::addColumn<bool>("preferredPolicy");
    auto row = [](const char *name, QSize minimum, QSize maximum, bool preferred = false) {
        QTest::newRow(name) << minimum << maximum << preferred;
    };
    const QSize none(0, 0);
    const QSize connectButton(91, 31);

    row("frameMian", {0, 250}, noMaximum);
    row("frameMenu", none, maxWidth(60));
    row("logoButton", {40, 50}, maxHeight(50));
    row("headerFrame", {0, 50}, maxHeight(50));
    row("frame_4", {100, 0}, maxWidth(200));
    row("Connect", connectButton, connectButton);
    row("Disconnect", connectButton, connectButton);
    row("label_6", {51, 30}, {52, 30});
    row("clear_send_cnt", none, noMaximum, true);
    row("Recive_msg", none, noMaximum, true);
    row("Send_msg", none, maxHeight(100), true);
    row("frame", none, maxHeight(65), true);
    row("ClearMessage", none, maxHeight(45), true);
    row("Kick", none, maxHeight(45), true);
    row("Send", none, maxHeight(45), true);
    row("SerialClose", {0, 30}, noMaximum);
    row("SerialOpen", {0, 30}, noMaximum);
    row("LoopSendPeriod", none, maxWidth(61));
    row("SendClear", none, maxWidth(75));
    row("DataToSend", none, maxHeight(100));
}

void FormTest::sizes()
{
    QFETCH(QSize, minimum);
    QFETCH(QSize, maximum);
    QFETCH(bool, preferredPolicy);
    const QWidget *widget = object<QWidget>(QTest::currentDataTag());
    QVERIFY(widget);
    QCOMPARE(widget->minimumSize(), minimum);
    QCOMPARE(widget->maximumSize(), maximum);
    if (preferredPolicy)
        QCOMPARE(widget->sizePolicy(), QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
}

void FormTest::fonts_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("weight");

    QTest::newRow("logoButton") << "Source Code Pro" << 14 << int(QFont::Bold);
    QTest::newRow("titlelabel") << QStringLiteral("微软雅黑") << 12 << int(QFont::Normal);
    QTest::newRow("Recive_cnt") << "Source Code Pro" << 10 << int(QFont::Normal);
    QTest::newRow("Send_cnt") << "Source Code Pro" << 10 << int(QFont::Normal);
}

void FormTest::fonts()
{
    QFETCH(QString, family);
    QFETCH(int, points);
    QFETCH(int, weight);
    const QWidget *widget = object<QWidget>(QTest::currentDataTag());
    QVERIFY(widget);
    // Set on the widget itself, not inherited, so a window font change
    // elsewhere leaves it alone.
    QVERIFY(widget->testAttribute(Qt::WA_SetFont));
    QCOMPARE(widget->font().family(), family);
    QCOMPARE(widget->font().pointSize(), points);
    QCOMPARE(int(widget->font().weight()), weight);
}

void FormTest::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("value");
    auto text = [](const char *name, const QString &value) {
        QTest::newRow(name) << name << QByteArray("text") << value;
    };
    auto toolTip = [](const char *name, const QString &value) {
        QTest::addRow("%s tooltip", name) << name << QByteArray("toolTip") << value;
    };
    auto placeholder = [](const char *name, const QString &value) {
        QTest::addRow("%s placeholder", name) << name << QByteArray("placeholderText") << value;
    };

    toolTip("logoButton", "Quorvix");
    text("logoButton", "");
    toolTip("TCPClient", "TCP客户端模式");
    text("TCPClient", "客户端");
    toolTip("TCPserver", "TCP服务端模式");
    text("TCPserver", "服务端");
    toolTip("UDPButton", "UDP模式");
    text("UDPButton", "UDP");
    toolTip("serialButton", "串口模式");
    text("serialButton", "串口");
    text("titlelabel", "Quorvix ");
    text("menuButton", "");
    text("minButton", "");
    text("closeButton", "");

    text("label", "本机地址");
    text("Local_IP", "");
    text("label_2", "本地端口");
    text("Local_Port", "");
    placeholder("Local_Port", "");
    text("label_3", "目标地址");
    text("Obj_IP", "");
    text("label_4", "目标端口");
    text("Obj_Port", "");
    text("Connect", "连接");
    text("Disconnect", "断开");
    text("DisplayTime", "显示时间");
    text("DisplaySendMsg", "显示发送");
    text("AutoSwitchLine", "换行显示");
    text("HexSend", "HEX发送");
    text("HexDisplay", "HEX显示");
    text("SendNewLine", "发送换行");
    text("UdpBroadcast", "UDP广播");
    text("DnsAnalysis", "DNS解析");
    text("Timer_Send", "循环发送");
    text("period", "");
    text("label_5", "ms");
    text("label_6", "客户端：");
    text("Recive_cnt", "累计接收：");
    text("Send_cnt", "累计发送：");
    text("clear_send_cnt", "累计清零");
    text("resetButton", "一键重置");
    text("openfileButton", "打开发送区");
    text("savefileButton", "保存接收区");
    placeholder("Recive_msg", "接收区");
    placeholder("Send_msg", "发送区");
    text("ClearMessage", "清空消息");
    text("Kick", "踢除");
    text("Send", "发送");

    text("label_Serial_num", "串口号");
    text("label_Baudrate", "波特率");
    text("label_Data_bit", "数据位");
    text("label_StopBit", "停止位");
    text("label_parity", "校验位 ");
    text("label_Check_bit_2", "流控制");
    text("SerialClose", "关闭串口");
    text("SerialOpen", "打开串口");
    text("TimeDisplay", "显示时间");
    text("SendHEX_2", "HEX发送");
    text("SendNewLine_2", "发送换行");
    text("SendDisplay", "显示发送");
    text("DisplayHEX", "HEX显示");
    text("AutoSwitchLine_2", "换行显示");
    text("LoopSend", "循环发送");
    text("LoopSendPeriod", "1000");
    text("label_7", "周期(ms)");
    text("ReciveCountLabel", "累计接收：0");
    text("SendCountLabel", "累计发送：0");
    text("SendClear", "清零");
    placeholder("DataRecive", "接收区");
    placeholder("DataToSend", "发送区");
    text("ClearRecive", "清空");
    text("SaveData", "保存");
    text("OpenFile", "打开");
    text("SnedData", "发送");
}

void FormTest::texts()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QString, value);
    const QObject *found = object(name);
    QVERIFY(found);
    const QVariant actual = found->property(property);
    QVERIFY2(actual.isValid(), "no such property");
    QCOMPARE(actual.toString(), value);
}

void FormTest::actions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QKeySequence>("shortcut");
    // An action without a tooltip of its own reports its text as one.
    auto row = [](const char *name, const QString &text, const char *shortcut) {
        QTest::newRow(name) << text << text << QKeySequence(shortcut);
    };

    row("ActRecivceFont", "接收区字体", "Ctrl+F1");
    row("ActSendFont", "发送区字体", "Ctrl+F2");
    row("ActReciveFontColor", "接收区字体颜色", "Ctrl+F6");
    row("ActSendFontColor", "发送区字体颜色", "Ctrl+F7");
    row("ActOpenFile", "打开至发送区", "Ctrl+O");
    row("ActSaveFile", "保存接收区记录", "Ctrl+S");
    row("ActDnsAnalysis", "DNS域名解析", "Ctrl+H");
    row("ActWindowBGColor", "窗口背景颜色", "Ctrl+F3");
    row("ActReciveBGColor", "接收区背景颜色", "Ctrl+F4");
    row("ActSendBGColor", "发送区背景颜色", "Ctrl+F5");
    row("ActAbout", "关于", "Ctrl+A");
}

void FormTest::actions()
{
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(QKeySequence, shortcut);
    const QAction *action = object<QAction>(QTest::currentDataTag());
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->toolTip(), toolTip);
    QCOMPARE(action->shortcut(), shortcut);
    // Not placed anywhere, so the user cannot trigger it and its shortcut is
    // never live.
    QVERIFY(action->associatedObjects().isEmpty());
}

void FormTest::icons_data()
{
    QTest::addColumn<QString>("offFile");
    QTest::addColumn<QString>("onFile");
    QTest::addColumn<QSize>("iconSize");
    const QSize defaultSize = QPushButton().iconSize();

    QTest::newRow("logoButton") << ":/image/logo.svg" << QString() << QSize(32, 32);
    QTest::newRow("TCPClient") << ":/image/tcpc.svg" << ":/image/tcpc-hover.svg" << QSize(24, 24);
    QTest::newRow("TCPserver") << ":/image/tcps.svg" << ":/image/tcps-hover.svg" << QSize(24, 24);
    QTest::newRow("UDPButton") << ":/image/udp.svg" << ":/image/udp-hover.svg" << QSize(24, 24);
    QTest::newRow("serialButton") << ":/image/serial.svg" << ":/image/serial-hover.svg" << QSize(24, 24);
    QTest::newRow("menuButton") << ":/image/nav.svg" << QString() << defaultSize;
    QTest::newRow("minButton") << ":/image/min.svg" << QString() << defaultSize;
    QTest::newRow("closeButton") << ":/image/close.svg" << QString() << defaultSize;
}

void FormTest::icons()
{
    QFETCH(QString, offFile);
    QFETCH(QString, onFile);
    QFETCH(QSize, iconSize);
    const auto *button = object<QAbstractButton>(QTest::currentDataTag());
    QVERIFY(button);
    QCOMPARE(button->iconSize(), iconSize);

    const QSize size(24, 24);
    auto render = [&](const QIcon &icon, QIcon::State state) {
        return icon.pixmap(size, QIcon::Normal, state).toImage();
    };
    const QImage expectedOff = render(QIcon(offFile), QIcon::Off);
    const QImage expectedOn = onFile.isEmpty() ? expectedOff : render(QIcon(onFile), QIcon::Off);
    if (expectedOff.isNull() || expectedOn.isNull())
        QSKIP("the image resources are not linked into this build");

    QCOMPARE(render(button->icon(), QIcon::Off), expectedOff);
    QCOMPARE(render(button->icon(), QIcon::On), expectedOn);
    if (!onFile.isEmpty())
        QVERIFY2(expectedOn != expectedOff, "a checked button must show a different icon");
}

void FormTest::window()
{
    QCOMPARE(window_->objectName(), "MainWindow");
    QCOMPARE(window_->windowTitle(), "Quorvix");
    QCOMPARE(window_->size(), QSize(598, 569));
    QCOMPARE(window_->minimumSize(), QSize(480, 480));
    QCOMPARE(window_->maximumSize(), QSize(640, 760));
    QCOMPARE(window_->font().family(), "Source Code Pro");
    QCOMPARE(window_->font().pointSize(), 10);
    QCOMPARE(window_->font().weight(), QFont::Normal);
    QCOMPARE(window_->centralWidget(), ui.centralwidget);
    QVERIFY(!window_->findChild<QMenuBar *>());
    QVERIFY(!window_->findChild<QToolBar *>());
    QVERIFY(!window_->findChild<QStatusBar *>());
    QVERIFY(window_->actions().isEmpty());

    window_->resize(2000, 2000);
    QCOMPARE(window_->size(), QSize(640, 760));
    window_->resize(10, 10);
    QCOMPARE(window_->size(), QSize(480, 480));

    QCOMPARE(ui.stackedWidget->count(), 2);
    QCOMPARE(ui.stackedWidget->widget(0), ui.networkPage);
    QCOMPARE(ui.stackedWidget->widget(1), ui.serialPage);
    QCOMPARE(ui.stackedWidget->currentIndex(), 1);
}

// The settings code and the mode switching start from this state.
void FormTest::initialState()
{
    for (const QWidget *widget : window_->findChildren<QWidget *>())
        QVERIFY2(widget->isEnabled(), qPrintable(widget->objectName()));
    for (const QAbstractButton *button : window_->findChildren<QAbstractButton *>())
        QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
    for (const QComboBox *combo : window_->findChildren<QComboBox *>())
        QVERIFY2(combo->count() == 0, qPrintable(combo->objectName()));
    for (const QTextEdit *area : window_->findChildren<QTextEdit *>())
        QVERIFY2(area->document()->isEmpty(), qPrintable(area->objectName()));
    for (const QLineEdit *field : window_->findChildren<QLineEdit *>()) {
        QVERIFY2(field->validator() == nullptr && field->inputMask().isEmpty(),
                 qPrintable(field->objectName()));
        QVERIFY2(!field->isReadOnly(), qPrintable(field->objectName()));
    }
    QVERIFY(!ui.DataToSend->autoFillBackground());
}

void FormTest::navigationGroupIsExclusive()
{
    const QList<QAbstractButton *> navigation{ui.TCPClient, ui.TCPserver, ui.UDPButton,
                                              ui.serialButton};
    QCOMPARE(ui.buttonGroup->parent(), window_.get());
    QCOMPARE(ui.buttonGroup->buttons(), navigation);
    QVERIFY(ui.buttonGroup->exclusive());
    for (int i = 0; i < navigation.size(); ++i) {
        auto *button = qobject_cast<QToolButton *>(navigation[i]);
        QVERIFY(button->isCheckable());
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(ui.buttonGroup->id(button), -2 - i);
    }

    ui.TCPClient->click();
    QVERIFY(ui.TCPClient->isChecked());
    ui.UDPButton->click();
    QVERIFY(ui.UDPButton->isChecked());
    QVERIFY(!ui.TCPClient->isChecked());
    ui.UDPButton->click();
    QVERIFY(ui.UDPButton->isChecked());
    QCOMPARE(ui.buttonGroup->checkedButton(), ui.UDPButton);
}

// On a tall window the send areas and the button bar keep their caps and the
// receive areas take the rest.
void FormTest::spareHeightGoesToReceiveAreas()
{
    window_->resize(640, 760);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));

    struct Page
    {
        QWidget *receive;
        QWidget *send;
    };
    const Page pages[] = {{ui.Recive_msg, ui.Send_msg}, {ui.DataRecive, ui.DataToSend}};
    for (int index = 0; index < 2; ++index) {
        ui.stackedWidget->setCurrentIndex(index);
        QCoreApplication::sendPostedEvents();
        const Page &page = pages[index];
        QCOMPARE(page.send->height(), 100);
        QVERIFY2(page.receive->height() > 2 * page.send->height(),
                 qPrintable(QString::number(page.receive->height())));
    }
    QVERIFY(ui.frame->height() <= 65);
    QCOMPARE(ui.headerFrame->height(), 50);
    QVERIFY(ui.frameMenu->width() <= 60);
    QVERIFY(ui.frame_4->width() >= 100 && ui.frame_4->width() <= 200);
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
