#include "app/stylesheet.h"
#include "tests/windowdriver.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

class FormTest : public QObject
{
    Q_OBJECT
private slots:
    void formHasWhatCodeAndSheetRelyOn()
    {
        // A renamed object silently loses its by-name slot; this warning is all that shows.
        QTest::failOnWarning(QRegularExpression("connectSlotsByName"));
        WindowDriver d;
        QVERIFY(d.w("Recive_msg")->property("readOnly").toBool() && d.w("DataRecive")->property("readOnly").toBool());
        QVERIFY(d.w<QComboBox>("SerialList")->isEditable());
        QButtonGroup *modes = d.w<QAbstractButton>("TCPClient")->group();
        QVERIFY(modes && modes->exclusive());
        for (const char *mode : { "TCPClient", "TCPserver", "UDPButton", "serialButton" })
            QVERIFY2(d.w<QAbstractButton>(mode)->isCheckable() && d.w<QAbstractButton>(mode)->group() == modes, mode);

        // Every object the sheet styles by name is in the window.
        QFile sheet(":/qss/default.css");
        QVERIFY(sheet.open(QIODevice::ReadOnly));
        QStringList styled;
        for (const auto &match : QRegularExpression("#(?![0-9a-fA-F]{3,8}\\b|qt_)(\\w+)").globalMatch(sheet.readAll()))
            styled << match.captured(1);
        QVERIFY(styled.contains("frameMian"));
        for (const QString &name : styled)
            QVERIFY2(d.window().findChild<QWidget *>(name), qPrintable(name));

        // Without the SVG plugin the navigation icons come out blank.
        const QImage icon = d.w<QAbstractButton>("TCPClient")->icon().pixmap(32, 32).toImage();
        int opaque = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                opaque += qAlpha(icon.pixel(x, y)) > 0;
        QVERIFY2(opaque > 20, qPrintable(QString::number(opaque)));
    }

    void styleSheetLoadsOrSaysNo()
    {
        QVERIFY(loadStyleSheet(*qApp));
        QVERIFY(qApp->styleSheet().contains("#frameMenu"));
        QTemporaryDir dir;
        QFile file(dir.filePath("sheet.css"));
        QVERIFY(!loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(!loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("QLabel { color: red; }") > 0);
        file.close();
        QVERIFY(!loadStyleSheet(*qApp, file.fileName(), dir.filePath("gone")));
        QVERIFY(qApp->styleSheet().contains("#frameMenu"));
        QVERIFY(loadStyleSheet(*qApp, file.fileName(), dir.path()));
        QCOMPARE(qApp->styleSheet(), "QLabel { color: red; }");
    }
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
