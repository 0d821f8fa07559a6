#include "mainwindow/payload.h"

#include <QtTest>

class PayloadTest : public QObject
{
    Q_OBJECT

private slots:
    void encodes_data();
    void encodes();
    void portFields_data();
    void portFields();
    void periods_data();
    void periods();
};

void PayloadTest::encodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("text with line break") << "AB\r\n" << false << QByteArray("AB\r\n");
    QTest::newRow("utf-8 text") << QStringLiteral("中") << false << QByteArray("\xe4\xb8\xad");
    QTest::newRow("hex pairs") << "01 02 ff" << true << QByteArray("\x01\x02\xff", 3);
    QTest::newRow("hex pairs from the right") << "12 3" << true << QByteArray("\x01\x23", 2);
    QTest::newRow("hex skips non-digits") << "1g2" << true << QByteArray("\x12", 1);
    QTest::newRow("hex line break adds nothing") << "0A\r\n" << true << QByteArray("\x0a", 1);
    QTest::newRow("hex upper and lower case") << "aB Cd" << true << QByteArray("\xab\xcd", 2);
    QTest::newRow("hex without digits") << "xyz" << true << QByteArray();
    QTest::newRow("empty text") << "" << false << QByteArray();
}

void PayloadTest::encodes()
{
    QFETCH(QString, text);
    QFETCH(bool, hex);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodePayload(text, hex), bytes);
}

void PayloadTest::portFields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allowZero");
    QTest::addColumn<int>("port");  // -1: refused

    QTest::newRow("ordinary") << "8080" << false << 8080;
    QTest::newRow("highest") << "65535" << false << 65535;
    QTest::newRow("surrounding blanks") << " 80 " << false << 80;
    QTest::newRow("beyond 16 bits is not wrapped") << "70000" << false << -1;
    QTest::newRow("beyond 32 bits") << "4294967297" << true << -1;
    QTest::newRow("not a number") << "http" << true << -1;
    QTest::newRow("sign") << "+80" << true << -1;
    QTest::newRow("negative") << "-1" << true << -1;
    QTest::newRow("empty") << "" << true << -1;
    QTest::newRow("zero as target") << "0" << false << -1;
    QTest::newRow("zero as local port") << "0" << true << 0;
}

void PayloadTest::portFields()
{
    QFETCH(QString, text);
    QFETCH(bool, allowZero);
    QFETCH(int, port);
    const std::optional<quint16> parsed = parsePort(text, allowZero);
    QCOMPARE(parsed.has_value(), port >= 0);
    if (parsed)
        QCOMPARE(int(*parsed), port);
}

void PayloadTest::periods_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("period");  // -1: refused

    QTest::newRow("one second") << "1000" << 1000;
    QTest::newRow("one millisecond") << "1" << 1;
    QTest::newRow("zero") << "0" << -1;
    QTest::newRow("negative") << "-5" << -1;
    QTest::newRow("not a number") << "xyz" << -1;
    QTest::newRow("fraction") << "1.5" << -1;
    QTest::newRow("beyond 32 bits") << "99999999999" << -1;
}

void PayloadTest::periods()
{
    QFETCH(QString, text);
    QFETCH(int, period);
    const std::optional<int> parsed = parsePeriod(text);
    QCOMPARE(parsed.has_value(), period > 0);
    if (parsed)
        QCOMPARE(*parsed, period);
}

QTEST_APPLESS_MAIN(PayloadTest)
#include "tst_payload.moc"
