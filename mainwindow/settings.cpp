#include "mainwindow/settings.h"
#include "ui_mainwindow.h"

#include "mainwindow/receiveview.h"
#include "mainwindow/serialpage.h"

#include <QSettings>

#include <algorithm>

namespace {

QSettings openStore()
{
    return QSettings(QStringLiteral("Varnholt"), QStringLiteral("Quorvix"));
}

// Only an item of the list can become current; anything else keeps the list as it is.
void selectText(QComboBox *list, const QString &text)
{
    const int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        list->setCurrentIndex(index);
}

Settings::Entry text(const char *key, QLineEdit *field, const char *defaultValue)
{
    return { QString::fromLatin1(key), QString::fromLatin1(defaultValue), [field] { return QVariant(field->text()); },
             [field](const QVariant &value) { field->setText(value.toString()); } };
}

// Setting the state runs no click handler: a restored loop box starts no loop.
Settings::Entry flag(const char *key, QCheckBox *box, bool defaultValue)
{
    return { QString::fromLatin1(key), defaultValue, [box] { return QVariant(box->isChecked()); },
             [box](const QVariant &value) { box->setChecked(value.toBool()); } };
}

Settings::Entry choice(const char *key, QComboBox *list, const char *defaultValue)
{
    return { QString::fromLatin1(key), QString::fromLatin1(defaultValue),
             [list] { return QVariant(list->currentText()); },
             [list](const QVariant &value) { selectText(list, value.toString()); } };
}

// A bound of both receive areas, kept well below Qt's 2^31 characters.
Settings::Entry bound(const char *key, Ui::MainWindow *ui, int ReceiveView::Bounds::*member, int largest)
{
    const int defaultValue = ReceiveView::Bounds {}.*member;
    return { QString::fromLatin1(key), defaultValue, [ui, member] { return QVariant(ui->Recive_msg->displayBounds().*member); },
             [ui, member, largest, defaultValue](const QVariant &value) {
                 bool ok = false;
                 const int stored = value.toInt(&ok);
                 for (ReceiveView *view : { ui->Recive_msg, ui->DataRecive }) {
                     ReceiveView::Bounds bounds = view->displayBounds();
                     bounds.*member = ok ? std::clamp(stored, 1, largest) : defaultValue;
                     view->setBounds(bounds);
                 }
             } };
}

} // namespace

Settings::Settings(Ui::MainWindow *ui, SerialPage *serialPage, ModeAccess mode)
{
    entries = {
        text("network/localPort", ui->Local_Port, "8080"),
        text("network/targetIP", ui->Obj_IP, "127.0.0.1"),
        text("network/targetPort", ui->Obj_Port, "8080"),
        // Only the network modes are restored; the serial mode starts as TCP client.
        { QStringLiteral("protocol/currentIndex"), 0, [mode] { return QVariant(int(mode.current())); },
          [mode](const QVariant &value) {
              const int index = value.toInt();
              if (index >= 0 && index <= 2)
                  mode.select(Mode(index));
          } },
        flag("options/displayTime", ui->DisplayTime, false),
        flag("options/displaySendMsg", ui->DisplaySendMsg, false),
        flag("options/autoSwitchLine", ui->AutoSwitchLine, true),
        flag("options/hexSend", ui->HexSend, false),
        flag("options/hexDisplay", ui->HexDisplay, false),
        flag("options/sendNewLine", ui->SendNewLine, false),
        flag("options/udpBroadcast", ui->UdpBroadcast, false),
        flag("options/dnsAnalysis", ui->DnsAnalysis, false),
        flag("options/timerSend", ui->Timer_Send, false),
        text("options/timerPeriod", ui->period, "1000"),
        flag("serial/timeDisplay", ui->TimeDisplay, false),
        flag("serial/hexSend", ui->SendHEX_2, false),
        flag("serial/sendNewLine", ui->SendNewLine_2, false),
        flag("serial/sendDisplay", ui->SendDisplay, false),
        flag("serial/hexDisplay", ui->DisplayHEX, false),
        flag("serial/autoSwitchLine", ui->AutoSwitchLine_2, true),
        flag("serial/loopSend", ui->LoopSend, false),
        text("serial/loopSendPeriod", ui->LoopSendPeriod, "1000"),
        // The field shows the preferred port, listed or not, so an absent port is kept.
        { QStringLiteral("serial/portName"), QString(), [list = ui->SerialList] { return QVariant(list->currentText()); },
          [serialPage](const QVariant &value) { serialPage->preferPort(value.toString()); }, false },
        choice("serial/baudRate", ui->BaudrateList, "115200"),
        choice("serial/dataBits", ui->DataBitsList, "8"),
        choice("serial/stopBits", ui->StopBitsList, "1"),
        choice("serial/parity", ui->ParityList, "none"),
        choice("serial/flowControl", ui->FlowControlList, "NO"),
        bound("display/maxParagraphs", ui, &ReceiveView::Bounds::maxParagraphs, 10'000'000),
        bound("display/maxCharacters", ui, &ReceiveView::Bounds::maxCharacters, 256 * 1024 * 1024),
    };
}

void Settings::add(Entry entry)
{
    entries.push_back(std::move(entry));
}

void Settings::keep(Kept part)
{
    kept.push_back(std::move(part));
}

void Settings::load() const
{
    QSettings store = openStore();
    for (const Entry &entry : entries)
        entry.apply(store.value(entry.key, entry.defaultValue));
    for (const Kept &part : kept)
        part.load(store);
}

void Settings::save() const
{
    QSettings store = openStore();
    for (const Entry &entry : entries)
        store.setValue(entry.key, entry.read());
    for (const Kept &part : kept)
        part.save(store);
    store.sync();
}

void Settings::reset() const
{
    QSettings store = openStore();
    store.clear();
    for (const Kept &part : kept)
        part.save(store);
    store.sync();
    for (const Entry &entry : entries) {
        if (entry.resettable)
            entry.apply(entry.defaultValue);
    }
}
