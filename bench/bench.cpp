// Receive-path benchmark: drives the real window offscreen with real peers
// on loopback and prints throughput, GUI lateness and peak memory.
//
//   quorvix_bench            every workload, median of runs, one table
//   quorvix_bench W1         one run of one workload, one line of figures

#include "bench/floodpeers.h"
#include "tests/floodpeer.h"
#include "app/stylesheet.h"
#include "mainwindow/mainwindow.h"
#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QPlainTextEdit>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <map>
#include <thread>

namespace {

constexpr qint64 tcpFloodBytes = 32 * 1024 * 1024;
constexpr qint64 serialFloodBytes = 8 * 1024 * 1024;
constexpr int udpDatagrams = 200000;
constexpr int udpDatagramSize = 32;

// Printable lines of 64 bytes, newline included, each one distinct.
QByteArray floodText(qint64 bytes)
{
    QByteArray text;
    text.reserve(bytes);
    for (qint64 line = 0; text.size() < bytes; ++line) {
        QByteArray l = QByteArray::number(line).rightJustified(63, '.');
        l[0] = char('A' + line % 26);
        text += l + '\n';
    }
    text.truncate(bytes);
    return text;
}

qint64 peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QRegularExpression hwm(QStringLiteral("VmHWM:\\s+(\\d+)"));
    return hwm.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// Lateness of a 10 ms timer on the GUI thread.
class Heartbeat
{
public:
    Heartbeat()
    {
        timer.setInterval(10);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            lateness.push_back(std::max<qint64>(0, clock.restart() - 10));
        });
        clock.start();
        timer.start();
    }
    QString figures()
    {
        timer.stop();
        std::sort(lateness.begin(), lateness.end());
        if (lateness.empty())
            lateness.push_back(0);
        auto at = [this](double q) { return lateness[size_t(q * double(lateness.size() - 1))]; };
        return QStringLiteral("p50=%1 p99=%2 max=%3").arg(at(0.5)).arg(at(0.99)).arg(lateness.back());
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    std::vector<qint64> lateness;
};

template<typename T>
T *find(MainWindow &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QString stripped(QString text, bool allWhitespace)
{
    if (allWhitespace)
        text.remove(QRegularExpression(QStringLiteral("\\s")));
    else
        text.remove(QLatin1Char('\n'));
    return text;
}

// W1, W2: a TCP peer floods the window in client mode.
QString tcpFlood(bool hex)
{
    const QByteArray payload = floodText(tcpFloodBytes);
    FloodPeer peer(payload);
    MainWindow window;
    window.show();
    find<QLineEdit>(window, "Obj_IP")->setText(QStringLiteral("127.0.0.1"));
    find<QLineEdit>(window, "Obj_Port")->setText(QString::number(peer.port()));
    find<QCheckBox>(window, "AutoSwitchLine")->setChecked(true);
    find<QCheckBox>(window, "DisplayTime")->setChecked(false);
    find<QCheckBox>(window, "HexDisplay")->setChecked(hex);
    auto *counter = find<QLabel>(window, "Recive_cnt");
    auto *view = find<QPlainTextEdit>(window, "Recive_msg");
    const QString done = QStringLiteral("累计接收：%1").arg(payload.size());
    const QString lastLine = hex ? QString::fromLatin1(payload.right(64).toHex(' '))
                                 : QString::fromLatin1(payload.right(64).chopped(1));

    Heartbeat heartbeat;
    find<QAbstractButton>(window, "Connect")->click();
    QElapsedTimer clock;
    waitUntil([&] { return counter->text() != QStringLiteral("累计接收："); }, 10000);
    clock.start();
    const bool complete = waitUntil([&] {
        if (counter->text() != done)
            return false;
        QTextBlock last = view->document()->lastBlock();
        if (!hex && last.text().isEmpty())
            last = last.previous();
        return last.text().endsWith(lastLine);
    }, 600000);
    const double seconds = clock.elapsed() / 1000.0;
    const QString beat = heartbeat.figures();

    const QString expected = hex ? QString::fromLatin1(payload.toHex()) : stripped(QString::fromLatin1(payload), false);
    const bool verified = complete && stripped(view->toPlainText(), hex) == expected;
    return QStringLiteral("MBps=%1 %2 peakMiB=%3 verified=%4")
        .arg(payload.size() / 1e6 / seconds, 0, 'f', 1).arg(beat)
        .arg(peakResidentKiB() / 1024).arg(verified ? "yes" : "NO");
}

// W0: the same stream drained by a bare socket that only counts.
QString linkLimit()
{
    const QByteArray payload = floodText(tcpFloodBytes);
    FloodPeer peer(payload);
    CountingDrain drain(peer.port(), payload.size());
    const double ms = drain.waitMilliseconds();
    return QStringLiteral("MBps=%1 peakMiB=%2").arg(payload.size() / 1e3 / ms, 0, 'f', 1)
        .arg(peakResidentKiB() / 1024);
}

// W3: paced datagrams with timestamps on.
QString udpStorm()
{
    quint16 port = 0;
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        port = probe.localPort();
    }
    MainWindow window;
    window.show();
    find<QAbstractButton>(window, "UDPButton")->click();
    find<QLineEdit>(window, "Local_Port")->setText(QString::number(port));
    find<QCheckBox>(window, "DisplayTime")->setChecked(true);
    find<QCheckBox>(window, "AutoSwitchLine")->setChecked(true);
    find<QAbstractButton>(window, "Connect")->click();
    auto *counter = find<QLabel>(window, "Recive_cnt");
    auto *view = find<QPlainTextEdit>(window, "Recive_msg");
    QTest::qWait(200);

    Heartbeat heartbeat;
    UdpStorm storm(port, udpDatagrams, udpDatagramSize);
    QElapsedTimer clock;
    clock.start();
    storm.start();
    const QString all = QStringLiteral("累计接收：%1").arg(qint64(udpDatagrams) * udpDatagramSize);
    QString lastCount;
    QElapsedTimer quiet;
    quiet.start();
    // Until everything arrived, or nothing new for two seconds after the sender ended.
    waitUntil([&] {
        if (counter->text() != lastCount) {
            lastCount = counter->text();
            quiet.restart();
        }
        return counter->text() == all || (storm.isFinished() && quiet.elapsed() > 2000);
    }, 600000);
    storm.wait();
    const qint64 arrivedBytes = counter->text().section(QStringLiteral("："), 1).toLongLong();
    const int arrived = int(arrivedBytes / udpDatagramSize);
    // Two paragraphs per datagram: time, then data.
    waitUntil([&] { return view->document()->blockCount() >= 2 * arrived; }, 600000);
    const double seconds = (clock.elapsed() - (counter->text() == all ? 0 : 2000)) / 1000.0;
    return QStringLiteral("dgps=%1 arrived=%2 %3 peakMiB=%4")
        .arg(arrived / seconds, 0, 'f', 0).arg(arrived).arg(heartbeat.figures())
        .arg(peakResidentKiB() / 1024);
}

// W4: a pseudo-terminal floods the serial page.
QString serialFlood()
{
    const QByteArray payload = floodText(serialFloodBytes);
    PseudoTerminal pty;
    MainWindow window(nullptr, [&pty] { return QStringList { pty.portName() }; });
    window.show();
    find<QAbstractButton>(window, "serialButton")->click();
    find<QCheckBox>(window, "AutoSwitchLine_2")->setChecked(true);
    find<QCheckBox>(window, "TimeDisplay")->setChecked(false);
    find<QCheckBox>(window, "DisplayHEX")->setChecked(false);
    find<QComboBox>(window, "SerialList")->setCurrentText(pty.portName());
    find<QAbstractButton>(window, "SerialOpen")->click();
    QTest::qWait(200);
    auto *counter = find<QLabel>(window, "ReciveCountLabel");
    auto *view = find<QPlainTextEdit>(window, "DataRecive");
    const QString done = QStringLiteral("累计接收：%1").arg(payload.size());
    const QString lastLine = QString::fromLatin1(payload.right(64).chopped(1));

    Heartbeat heartbeat;
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] { pty.write(payload); });
    const bool complete = waitUntil([&] {
        if (counter->text() != done)
            return false;
        QTextBlock last = view->document()->lastBlock();
        if (last.text().isEmpty())
            last = last.previous();
        return last.text().endsWith(lastLine);
    }, 600000);
    const double seconds = clock.elapsed() / 1000.0;
    writer.join();
    const bool verified = complete
        && stripped(view->toPlainText(), false) == stripped(QString::fromLatin1(payload), false);
    return QStringLiteral("MBps=%1 %2 peakMiB=%3 verified=%4")
        .arg(payload.size() / 1e6 / seconds, 0, 'f', 1).arg(heartbeat.figures())
        .arg(peakResidentKiB() / 1024).arg(verified ? "yes" : "NO");
}

// S: prints once the window is on screen; the parent times it.
QString startUp()
{
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return QStringLiteral("not-shown");
    return QStringLiteral("shown");
}

QString runOne(const QString &workload)
{
    if (workload == QLatin1String("W0"))
        return linkLimit();
    if (workload == QLatin1String("W1"))
        return tcpFlood(false);
    if (workload == QLatin1String("W2"))
        return tcpFlood(true);
    if (workload == QLatin1String("W3"))
        return udpStorm();
    if (workload == QLatin1String("W4"))
        return serialFlood();
    return startUp();
}

// Runs a workload in a fresh process, so each peak memory is its own.
std::map<QString, double> runChild(const QString &workload, double *wallMs)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), { workload });
    // The child prints its figures once done: for start-up, once shown.
    child.waitForReadyRead(-1);
    *wallMs = clock.elapsed();
    child.waitForFinished(-1);
    std::map<QString, double> figures;
    const QString line = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const QString value = pair.section(QLatin1Char('='), 1);
        figures[key] = value == QLatin1String("yes") ? 1 : value == QLatin1String("NO") ? 0 : value.toDouble();
    }
    return figures;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

int runAll(int runs)
{
    struct Row { const char *name; const char *what; };
    const Row rows[] = { { "W0", "TCP link limit (bare socket)" }, { "W1", "TCP text flood 32 MiB" },
                         { "W2", "TCP hex flood 32 MiB" }, { "W3", "UDP storm 200k x 32 B, timestamps" },
                         { "W4", "serial flood 8 MiB (pty)" } };
    std::printf("%-4s %-36s %10s %8s %8s %8s %8s %9s %8s\n", "", "workload", "rate", "xW0", "p50 ms",
                "p99 ms", "max ms", "peak MiB", "verified");
    double linkRate = 0;
    for (const Row &row : rows) {
        std::map<QString, std::vector<double>> series;
        for (int run = 0; run < runs; ++run) {
            double wall = 0;
            for (const auto &[key, value] : runChild(QLatin1String(row.name), &wall))
                series[key].push_back(value);
        }
        const bool udp = QLatin1String(row.name) == QLatin1String("W3");
        const double rate = median(series[udp ? "dgps" : "MBps"]);
        if (QLatin1String(row.name) == QLatin1String("W0"))
            linkRate = rate;
        const QString rateText = udp ? QStringLiteral("%1 dg/s").arg(rate, 0, 'f', 0)
                                     : QStringLiteral("%1 MB/s").arg(rate, 0, 'f', 1);
        const QString ratio = udp || linkRate == 0 ? QStringLiteral("-")
                                                   : QString::number(rate / linkRate, 'f', 3);
        const bool hasBeat = !series["p50"].empty();
        const QString verified = udp ? QStringLiteral("%1 in").arg(median(series["arrived"]), 0, 'f', 0)
            : series["verified"].empty() ? QStringLiteral("-")
            : (*std::min_element(series["verified"].begin(), series["verified"].end()) > 0 ? QStringLiteral("yes") : QStringLiteral("NO"));
        std::printf("%-4s %-36s %10s %8s %8s %8s %8s %9.0f %8s\n", row.name, row.what,
                    qPrintable(rateText), qPrintable(ratio),
                    hasBeat ? qPrintable(QString::number(median(series["p50"]))) : "-",
                    hasBeat ? qPrintable(QString::number(median(series["p99"]))) : "-",
                    hasBeat ? qPrintable(QString::number(median(series["max"]))) : "-",
                    median(series["peakMiB"]), qPrintable(verified));
        std::fflush(stdout);
    }
    std::vector<double> startUps;
    for (int run = 0; run < 10; ++run) {
        double wall = 0;
        runChild(QStringLiteral("S"), &wall);
        startUps.push_back(wall);
    }
    std::printf("%-4s %-36s %7.0f ms (median of 10, process start to window shown)\n", "S",
                "start-up", median(startUps));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Styled like the program, since painting is part of the cost.
    loadStyleSheet(app);
    QTemporaryDir settings;
    useSettingsDirectory(settings);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--runs"))
        return runAll(args.size() > 1 ? args.at(1).toInt() : 3);
    std::printf("%s\n", qPrintable(runOne(args.first())));
    return 0;
}
