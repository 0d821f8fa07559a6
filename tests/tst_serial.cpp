#include "workers/serial.h"

#include "tests/testsupport.h"

#include <QDir>
#include <QSemaphore>
#include <QSerialPort>
#include <QTest>
#include <QThread>

#include <termios.h>

// Stands in for the window: the worker is reached only through queued signals.
class Driver : public QObject
{
    Q_OBJECT
signals:
    void openSerial(QString PortName, int BaudRate, qint8 DataBits, qint8 StopBits, qint8 Parity,
                    qint8 FlowControl);
    void closeSerial();
    void sendMsg(QByteArray data);
};

struct SerialUnderTest
{
    SerialUnderTest()
    {
        worker->moveToThread(&thread);
        // As in the window: the worker goes with its thread.
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        QObject::connect(&driver, &Driver::openSerial, worker, &Serial::OpenSerial);
        QObject::connect(&driver, &Driver::closeSerial, worker, &Serial::CloseSerial);
        QObject::connect(&driver, &Driver::sendMsg, worker, &Serial::SerialWrite);
        QObject::connect(worker, &Serial::message, &driver, [this](const QByteArray &m) { received << m; });
        QObject::connect(worker, &Serial::OpenFailed, &driver, [this](const QString &e) { failures << e; });
        QObject::connect(worker, &Serial::PortLost, &driver, [this](const QString &e) { lost << e; });
        thread.start();
    }
    ~SerialUnderTest()
    {
        thread.quit();
        thread.wait();
    }
    // Opens with plain settings; returns once the port is open and set up.
    bool open(PseudoTerminal &pty)
    {
        emit driver.openSerial(pty.portName(), 115200, 8, 0, 0, 0);
        emit driver.sendMsg("ready");
        return pty.read(5) == "ready";
    }

    QThread thread;
    Serial *worker = new Serial;
    Driver driver;
    QList<QByteArray> received;
    QStringList failures;
    QStringList lost;
};

class SerialTest : public QObject
{
    Q_OBJECT
private slots:
    void appliesLineSettings_data();
    void appliesLineSettings();
    void passesBytesUnchangedBothWays();
    void closeDiscardsPendingOutput();
    void reportsOpenFailure();
    void reportsLostPort();
};

void SerialTest::appliesLineSettings_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<qint8>("dataBitsCode");
    QTest::addColumn<qint8>("stopBitsCode");
    QTest::addColumn<qint8>("parityCode");
    QTest::addColumn<qint8>("flowControlCode");
    // A pseudo-terminal forces eight data bits and clears the parity enable
    // bit, so it refuses six or seven data bits and even parity.
    QTest::addColumn<uint>("cflag"); // expected bits among CSTOPB, PARODD, CMSPAR, CRTSCTS
    QTest::addColumn<uint>("iflag"); // expected bits among IXON, IXOFF
    QTest::addColumn<QString>("refused"); // the setting a refusal names

    QTest::newRow("9600 8N1") << 9600 << qint8(8) << qint8(0) << qint8(0) << qint8(0) << 0u << 0u << "";
    QTest::newRow("odd, 5 bits") << 115200 << qint8(5) << qint8(0) << qint8(2) << qint8(0) << uint(PARODD) << 0u << "";
    QTest::newRow("mark, 2 stop") << 115200 << qint8(8) << qint8(2) << qint8(4) << qint8(0) << uint(CSTOPB | CMSPAR | PARODD) << 0u << "";
    QTest::newRow("1.5 stop, space") << 115200 << qint8(8) << qint8(1) << qint8(3) << qint8(0) << uint(CMSPAR) << 0u << "";
    QTest::newRow("unknown codes") << 115200 << qint8(3) << qint8(9) << qint8(9) << qint8(9) << 0u << 0u << "";
    QTest::newRow("RTS/CTS") << 115200 << qint8(8) << qint8(0) << qint8(0) << qint8(1) << uint(CRTSCTS) << 0u << "";
    QTest::newRow("XON/XOFF") << 115200 << qint8(8) << qint8(0) << qint8(0) << qint8(2) << 0u << uint(IXON | IXOFF) << "";
    QTest::newRow("baud rate 0") << 0 << qint8(8) << qint8(0) << qint8(0) << qint8(0) << 0u << 0u << "波特率 0";
    QTest::newRow("7 bits") << 9600 << qint8(7) << qint8(0) << qint8(2) << qint8(0) << 0u << 0u << "数据位 7";
    QTest::newRow("even") << 9600 << qint8(8) << qint8(0) << qint8(1) << qint8(0) << 0u << 0u << "校验位 even";
}

void SerialTest::appliesLineSettings()
{
    QFETCH(int, baudRate);
    QFETCH(qint8, dataBitsCode);
    QFETCH(qint8, stopBitsCode);
    QFETCH(qint8, parityCode);
    QFETCH(qint8, flowControlCode);
    QFETCH(uint, cflag);
    QFETCH(uint, iflag);
    QFETCH(QString, refused);

    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    SerialUnderTest serial;
    emit serial.driver.openSerial(pty.portName(), baudRate, dataBitsCode, stopBitsCode, parityCode,
                                  flowControlCode);
    if (!refused.isEmpty()) {
        QTRY_COMPARE(serial.failures.size(), 1);
        QVERIFY2(serial.failures.first().startsWith(refused), qPrintable(serial.failures.first()));
        // Closed again, so the next open succeeds.
        QVERIFY(serial.open(pty));
        QCOMPARE(serial.failures.size(), 1);
        return;
    }
    emit serial.driver.sendMsg("set");
    QCOMPARE(pty.read(3), "set");
    QVERIFY(serial.failures.isEmpty());

    termios settings {};
    QVERIFY(pty.slaveSettings(&settings));
    QCOMPARE(uint(settings.c_cflag & (CSTOPB | PARODD | CMSPAR | CRTSCTS)), cflag);
    QCOMPARE(uint(settings.c_iflag & (IXON | IXOFF)), iflag);
    const speed_t speed = baudRate == 9600 ? B9600 : B115200;
    QCOMPARE(cfgetospeed(&settings), speed);
    QCOMPARE(cfgetispeed(&settings), speed);
}

void SerialTest::passesBytesUnchangedBothWays()
{
    PseudoTerminal pty;
    SerialUnderTest serial;
    QVERIFY(serial.open(pty));

    const QByteArray binary("\x00\xff\x11\x13", 4);
    emit serial.driver.sendMsg(binary);
    QCOMPARE(pty.read(binary.size()), binary);

    // Separate writes, each waited for, arrive as separate signals.
    pty.write(binary.left(3));
    QTRY_COMPARE(serial.received.size(), 1);
    pty.write(QByteArray("\xff\x00\xfe\x00\x01", 5));
    QTRY_COMPARE(serial.received.size(), 2);
    QCOMPARE(serial.received, (QList<QByteArray> { binary.left(3), QByteArray("\xff\x00\xfe\x00\x01", 5) }));
}

void SerialTest::closeDiscardsPendingOutput()
{
    PseudoTerminal pty;
    SerialUnderTest serial;
    QVERIFY(serial.open(pty));
    // Hold the worker so the write and the close are handled back to back,
    // before the port's write notifier can run.
    QSemaphore held;
    QMetaObject::invokeMethod(serial.worker, [&held] { held.acquire(); });
    emit serial.driver.sendMsg("discarded");
    emit serial.driver.closeSerial();
    held.release();
    emit serial.driver.openSerial(pty.portName(), 115200, 8, 0, 0, 0);
    emit serial.driver.sendMsg("after");
    QCOMPARE(pty.read(5), "after");

    // A write on the closed port is dropped without harm.
    emit serial.driver.closeSerial();
    emit serial.driver.sendMsg("nowhere");
    QVERIFY(serial.open(pty));
    QVERIFY(serial.failures.isEmpty());
}

void SerialTest::reportsOpenFailure()
{
    const QString missing = QDir::temp().filePath("quorvix-no-such-port");
    QSerialPort reference(missing);
    QVERIFY(!reference.open(QIODevice::ReadWrite));

    SerialUnderTest serial;
    emit serial.driver.openSerial(missing, 9600, 8, 0, 0, 0);
    QTRY_COMPARE(serial.failures, QStringList { reference.errorString() });
}

// For the process holding the slave, a master that goes away looks like a
// removed device.
void SerialTest::reportsLostPort()
{
    PseudoTerminal pty;
    SerialUnderTest serial;
    QVERIFY(serial.open(pty));
    pty.closeMaster();
    QTRY_COMPARE(serial.lost.size(), 1);
    QVERIFY(!serial.lost.first().isEmpty());
    // The worker has closed the port, and the device is not there to reopen.
    emit serial.driver.sendMsg("gone");
    emit serial.driver.openSerial(pty.portName(), 115200, 8, 0, 0, 0);
    QTRY_COMPARE(serial.failures.size(), 1);
}

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_serial.moc"
