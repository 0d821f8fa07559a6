#include "app/stylesheet.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDirIterator>
#include <QImageReader>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>

namespace {

// The embedded bundle. Size is the image size of a PNG and the view box of an
// SVG; fill is the one colour a single-colour drawing uses.
struct Resource
{
    QString path;
    QSize size;
    QRgb fill;
};

const QRgb slate = 0xff34495e, green = 0xff00b688;

QList<Resource> bundle()
{
    QList<Resource> list{{":/qss/default.css", {}, 0},
                         {":/image/logo.svg", {200, 200}, 0},
                         {":/image/logo.ico", {}, 0}};
    for (const char *name :
         {"checkbox_unchecked", "checkbox_checked", "checkbox_parcial", "checkbox_unchecked_disable",
          "checkbox_checked_disable", "checkbox_parcial_disable", "radiobutton_unchecked",
          "radiobutton_checked", "radiobutton_unchecked_disable", "radiobutton_checked_disable",
          "add_top", "add_bottom", "add_left", "add_right", "branch_open", "branch_close",
          "calendar_prevmonth", "calendar_nextmonth"})
        list.append({QString(":/qss/default/%1.png").arg(name), {20, 20}, 0});
    // Navigation icons and their checked twins, then the header icons.
    for (const QString name : {"tcpc", "tcps", "udp", "serial"}) {
        const QSize box(name == "serial" ? 1099 : 1024, 1024);
        list.append({":/image/" + name + ".svg", box, slate});
        list.append({":/image/" + name + "-hover.svg", box, green});
    }
    for (const QString name : {"nav", "min", "close"})
        list.append({":/image/" + name + ".svg", {1024, 1024}, 0xff707c88});
    return list;
}

// Log lines of the default category as "level: text".
QStringList logged;
void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    static const char *const levels[] = {"debug", "warning", "critical", "fatal", "info"};
    if (qstrcmp(context.category, "default") == 0)
        logged.append(QString("%1: %2").arg(levels[type], text));
}

QStringList loadLogged(const std::function<bool()> &load, bool *result)
{
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    *result = load();
    qInstallMessageHandler(previous);
    return logged;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void resources_data();
    void resources();
    void bundleHoldsExactlyTheseFiles();
    void embeddedSheetIsApplied();
    void loaderFailures_data();
    void loaderFailures();
    void navigationButtonColours();
};

void StartupTest::resources_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRgb>("fill");
    for (const Resource &resource : bundle())
        QTest::newRow(qPrintable(resource.path)) << resource.size << resource.fill;
}

void StartupTest::resources()
{
    QFETCH(QSize, size);
    QFETCH(QRgb, fill);
    const QString path = QTest::currentDataTag();
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    QVERIFY(!file.readAll().isEmpty());

    if (path.endsWith(".png")) {
        const QImage image(path);
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
    } else if (path.endsWith(".svg")) {
        QSvgRenderer renderer(path);
        QVERIFY(renderer.isValid());
        QCOMPARE(renderer.viewBox().size(), size);
        // Drawn through the icon engine as the form does: without the SVG
        // plugin the pixmap is null.
        const QImage image = QIcon(path).pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!image.isNull());
        int opaque = 0, otherColour = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                opaque += qAlpha(pixel) == 255;
                otherColour += qAlpha(pixel) == 255 && fill && pixel != fill;
            }
        }
        QVERIFY2(opaque >= 20, qPrintable(QString::number(opaque)));
        QCOMPARE(otherColour, 0);
    } else if (path.endsWith(".ico")) {
        QImageReader reader(path);
        QSet<int> widths;
        for (int i = 0; reader.jumpToImage(i); ++i)
            widths.insert(reader.read().width());
        QVERIFY2(widths.contains(16) && widths.contains(256), qPrintable(reader.errorString()));
    }
}

void StartupTest::bundleHoldsExactlyTheseFiles()
{
    QSet<QString> expected, compiled, listed;
    for (const Resource &resource : bundle())
        expected.insert(resource.path);
    for (const char *prefix : {":/qss", ":/image"}) {
        for (QDirIterator it(prefix, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            compiled.insert(it.next());
    }
    QCOMPARE(compiled, expected);

    QFile qrc(QFINDTESTDATA("../resources/resources.qrc"));
    QVERIFY(qrc.open(QIODevice::ReadOnly));
    QString prefix;
    for (QXmlStreamReader xml(&qrc); !xml.atEnd();) {
        if (!xml.readNextStartElement())
            continue;
        if (xml.name() == u"qresource") {
            prefix = xml.attributes().value("prefix").toString();
        } else if (xml.name() == u"file") {
            const QString alias = xml.attributes().value("alias").toString();
            const QString file = xml.readElementText();
            listed.insert(":" + prefix + "/" + (alias.isEmpty() ? file : alias));
        }
    }
    QCOMPARE(listed, expected);
}

void StartupTest::embeddedSheetIsApplied()
{
    bool ok = false;
    const QStringList log = loadLogged([] { return loadStyleSheet(*qApp); }, &ok);
    QVERIFY(ok);
    QCOMPARE(log, QStringList({"debug: 样式文件路径: :/qss/default.css", "debug: 样式表加载成功"}));
    QFile sheet(":/qss/default.css");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet.readAll()));
    QVERIFY(qApp->styleSheet().contains("#frameMenu QToolButton:checked"));
}

void StartupTest::loaderFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<bool>("rootExists");
    QTest::addColumn<QStringList>("log");
    const QByteArray sheet = "/* 主题 */ QLabel { color: #00b688; }";
    const QString path = "debug: 样式文件路径: %path";

    QTest::newRow("resource root missing") << sheet << false << QStringList{"critical: 资源系统未初始化！"};
    QTest::newRow("sheet missing") << QByteArray() << true
                                   << QStringList{path, "critical: 无法打开样式表: %error",
                                                  "critical: 当前工作目录: %cwd"};
    QTest::newRow("sheet empty") << QByteArray("") << true << QStringList{path, "warning: 样式表为空！"};
    QTest::newRow("utf-8 sheet") << sheet << true << QStringList{path, "debug: 样式表加载成功"};
}

void StartupTest::loaderFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, rootExists);
    QFETCH(QStringList, log);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString sheetPath = dir.filePath("default.css");
    QFile file(sheetPath);
    // Writing leaves the file closed; the failed open leaves its error string.
    QVERIFY(content.isNull() ? !file.open(QIODevice::ReadOnly)
                             : file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    log.replaceInStrings("%path", sheetPath)
        .replaceInStrings("%error", file.errorString())
        .replaceInStrings("%cwd", QDir::currentPath());

    const QString before = "QLabel { color: #123456; }";
    qApp->setStyleSheet(before);
    const QString root = rootExists ? dir.path() : dir.filePath("gone");
    bool ok = true;
    QCOMPARE(loadLogged([&] { return loadStyleSheet(*qApp, sheetPath, root); }, &ok), log);
    const bool applies = log.last().endsWith("样式表加载成功");
    QCOMPARE(ok, applies);
    QCOMPARE(qApp->styleSheet(), applies ? QString::fromUtf8(content) : before);
}

// Checked, unchecked and disabled navigation buttons in the sheet's colours.
// Icons are removed so that only the labels carry colour.
void StartupTest::navigationButtonColours()
{
    QVERIFY(loadStyleSheet(*qApp));
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (QAbstractButton *button : ui.buttonGroup->buttons())
        button->setIcon(QIcon());
    ui.TCPClient->setChecked(true);
    ui.UDPButton->setEnabled(false);
    const QImage menu = ui.frameMenu->grab().toImage().convertToFormat(QImage::Format_RGB32);

    // The darkest pixel of a label is its text colour, or nearly so.
    const std::pair<QWidget *, QColor> labels[] = {
        {ui.TCPClient, green}, {ui.TCPserver, slate}, {ui.UDPButton, QColor("#cccccc")}};
    for (const auto &[button, colour] : labels) {
        const QRect area = button->geometry().adjusted(2, 2, -2, -2);
        QColor darkest = Qt::white;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (menu.pixelColor(x, y).lightness() < darkest.lightness())
                    darkest = menu.pixelColor(x, y);
            }
        }
        const int distance = qAbs(darkest.red() - colour.red()) + qAbs(darkest.green() - colour.green())
                             + qAbs(darkest.blue() - colour.blue());
        QVERIFY2(distance < 60, qPrintable(button->objectName() + " " + darkest.name()));
    }
    QCOMPARE(menu.pixelColor(ui.TCPClient->geometry().topLeft() + QPoint(3, 3)), QColor("#eeeeee"));
    QCOMPARE(menu.pixelColor(ui.TCPserver->geometry().topLeft() + QPoint(3, 3)), QColor("#ffffff"));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
