#include "app/stylesheet.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QButtonGroup>
#include <QRegularExpression>
#include <QTest>

class FormTest : public QObject
{
    Q_OBJECT
private slots:
    void formAndSheetHaveWhatCodeReliesOn()
    {
        // A renamed object silently loses its by-name slot; this warning is all that shows.
        QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
        WindowDriver d;
        QVERIFY(d.w("Recive_msg")->property("readOnly").toBool() && d.w("DataRecive")->property("readOnly").toBool());
        QVERIFY(d.w("SerialList")->property("editable").toBool());
        QButtonGroup *modes = d.w<QAbstractButton>("TCPClient")->group();
        QVERIFY(modes && modes->exclusive());
        for (const char *mode : { "TCPClient", "TCPserver", "UDPButton", "serialButton" })
            QVERIFY2(d.w<QAbstractButton>(mode)->isCheckable() && d.w<QAbstractButton>(mode)->group() == modes, mode);
        // Without the SVG plugin the icons are null.
        QVERIFY(!d.w<QAbstractButton>("TCPClient")->icon().pixmap(32, 32).isNull());

        // The sheet loads, and every object it styles by name is in the window.
        QVERIFY(loadStyleSheet(*qApp));
        QStringList styled;
        for (const auto &match : QRegularExpression("#(?![0-9a-fA-F]{3,8}\\b|qt_)(\\w+)").globalMatch(qApp->styleSheet()))
            styled << match.captured(1);
        QVERIFY(styled.contains("frameMian"));
        for (const QString &name : styled)
            QVERIFY2(d.window().findChild<QWidget *>(name), qPrintable(name));

        // Failures leave the sheet as it was: no sheet, an empty one (a bare BOM too), no resource root.
        QTemporaryDir dir;
        QFile file(dir.filePath("sheet.css"));
        auto write = [&](const QByteArray &bytes) {
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && (file.close(), true);
        };
        QVERIFY(!loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QVERIFY(write("") && !loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QVERIFY(write("\xEF\xBB\xBF") && !loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QVERIFY(write("QLabel { color: red; }") && !loadStyleSheet(*qApp, file.fileName(), dir.filePath("gone")));
        QVERIFY(qApp->styleSheet().contains("#frameMian"));
        QVERIFY(loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QCOMPARE(qApp->styleSheet(), "QLabel { color: red; }");
    }
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
