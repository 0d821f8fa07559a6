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
        QButtonGroup *modes = d.w<QAbstractButton>("serialButton")->group();
        QVERIFY(modes && modes->exclusive() && modes->buttons().size() == 4 && modes->checkedButton());
        QVERIFY(!d.w<QAbstractButton>("TCPClient")->icon().pixmap(32, 32).isNull()); // null without the SVG plugin
        QVERIFY(loadStyleSheet(*qApp));
        const QRegularExpression byName("#(?![0-9a-fA-F]{3,8}\\b|qt_)(\\w+)"); // not colours, not Qt's own
        for (const auto &match : byName.globalMatch(qApp->styleSheet())) // every object styled by name exists
            QVERIFY2(d.window().findChild<QWidget *>(match.captured(1)), qPrintable(match.captured(1)));
        // Failures leave the sheet as it was: no sheet, an empty one (a bare BOM too), no resource root.
        QTemporaryDir dir;
        const QString sheet = dir.filePath("sheet.css");
        QVERIFY(!loadStyleSheet(*qApp, sheet, dir.path()));
        const QList<QPair<QByteArray, QString>> failures { { "", dir.path() }, { "\xEF\xBB\xBF", dir.path() },
                                                           { "QLabel { color: red; }", dir.filePath("gone") } };
        for (const auto &[bytes, root] : failures) {
            QFile file(sheet);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
            QVERIFY(!loadStyleSheet(*qApp, sheet, root));
        }
        QVERIFY(qApp->styleSheet().contains("#frameMian"));
        QVERIFY(loadStyleSheet(*qApp, sheet, dir.path()));
        QCOMPARE(qApp->styleSheet(), "QLabel { color: red; }");
    }
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"
