#include "mainwindow/mainwindow.h"

#include "about/aboutdialog.h"
#include "tests/testsupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

// Hands each new modal window or popup to `handle`, outside the polling
// timer, so a handler may itself open the next dialog.
class Watch
{
public:
    explicit Watch(std::function<void(QWidget *)> handle)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, handle] {
            QWidget *shown = QApplication::activePopupWidget();
            if (!shown)
                shown = QApplication::activeModalWidget();
            if (!shown || shown == last || !shown->isVisible())
                return;
            last = shown;
            QTimer::singleShot(0, shown, [shown, handle] { handle(shown); });
        });
        poll.start(10);
    }

private:
    QPointer<QWidget> last;
    QTimer poll;
};

// Records a message box as title, text and parent, and presses `button`.
void answerBox(QWidget *shown, QMessageBox::StandardButton button, QList<QStringList> *seen)
{
    if (auto *box = qobject_cast<QMessageBox *>(shown)) {
        *seen << QStringList { box->windowTitle(), box->text(), box->parentWidget() ? "parent" : "none" };
        box->button(button)->click();
    }
}

bool sendMouse(QWidget *target, QEvent::Type type, QPoint local, QPoint global, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(local), QPointF(global), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

} // namespace

class WindowFrameTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { useSettingsDirectory(settingsDir); }
    void init()
    {
        window = std::make_unique<MainWindow>(nullptr, [] { return QStringList(); });
        window->move(60, 40);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() { window.reset(); }
    void drag_data();
    void drag();
    void minimise();
    void closeConfirmations_data();
    void closeConfirmations();
    void f1Reminder_data();
    void f1Reminder();
    void headerMenuAndAbout();

private:
    template<typename T = QWidget>
    T *child(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }

    QTemporaryDir settingsDir;
    std::unique_ptr<MainWindow> window;
    QList<QUrl> browsed;

public slots:
    // Stands in for the system browser.
    void browse(const QUrl &url) { browsed << url; }
};

void WindowFrameTest::drag_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("header title, left") << "titlelabel" << Qt::LeftButton << true;
    QTest::newRow("header title, right") << "titlelabel" << Qt::RightButton << false;
    QTest::newRow("navigation, left") << "frameMenu" << Qt::LeftButton << true;
    QTest::newRow("navigation, right") << "frameMenu" << Qt::RightButton << false;
    QTest::newRow("page, left") << "networkPage" << Qt::LeftButton << false;
}

void WindowFrameTest::drag()
{
    QFETCH(QString, target);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, moves);
    QWidget *widget = child(qPrintable(target));
    const QPoint local = widget->rect().center();
    const QPoint grab = widget->mapToGlobal(local);
    const QPoint start = window->pos();
    const QPoint travel(37, -21);

    // A press that starts no drag goes on to the base handler, which ignores it.
    QCOMPARE(sendMouse(widget, QEvent::MouseButtonPress, local, grab, button, button), moves);
    sendMouse(widget, QEvent::MouseMove, local + travel, grab + travel, Qt::NoButton, button);
    QCoreApplication::processEvents();
    QCOMPARE(window->pos(), moves ? start + travel : start);
    sendMouse(widget, QEvent::MouseButtonRelease, local + travel, grab + travel, button, Qt::NoButton);

    const QPoint after = window->pos();
    sendMouse(widget, QEvent::MouseMove, local, grab + 3 * travel, Qt::NoButton, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(window->pos(), after);
}

void WindowFrameTest::minimise()
{
    child<QPushButton>("minButton")->click();
    QTRY_VERIFY(window->isMinimized());
}

void WindowFrameTest::closeConfirmations_data()
{
    QTest::addColumn<bool>("escape");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("close button, no") << false << QMessageBox::No << 1;
    QTest::newRow("close button, yes") << false << QMessageBox::Yes << 0;
    QTest::newRow("escape, no") << true << QMessageBox::No << 1;
    QTest::newRow("escape, yes") << true << QMessageBox::Yes << 0;
}

// Runs the application's event loop: a confirmed close ends it (0), a
// declined one leaves the window up and the test ends it (1).
void WindowFrameTest::closeConfirmations()
{
    QFETCH(bool, escape);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, exitCode);
    QList<QStringList> seen;
    Watch watch([&](QWidget *shown) { answerBox(shown, answer, &seen); });
    QTimer hangGuard;
    QObject::connect(&hangGuard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    hangGuard.start(20000);
    QTimer::singleShot(0, window.get(), [&] {
        if (escape)
            QTest::keyClick(window.get(), Qt::Key_Escape);
        else
            child<QPushButton>("closeButton")->click();
        if (window->isVisible())
            QCoreApplication::exit(1);
    });
    QCOMPARE(QApplication::exec(), exitCode);
    QCOMPARE(window->isVisible(), exitCode == 1);

    QCOMPARE(seen, QList<QStringList>({ escape ? QStringList { "确认窗口", "确定退出吗？", "none" }
                                               : QStringList { "确认退出", "确定要退出 Quorvix 吗？", "parent" } }));
}

void WindowFrameTest::f1Reminder_data()
{
    QTest::addColumn<QString>("modeButton");
    QTest::addColumn<bool>("reminds");
    QTest::newRow("tcp client") << "TCPClient" << true;
    QTest::newRow("tcp server") << "TCPserver" << false;
    QTest::newRow("udp") << "UDPButton" << true;
    QTest::newRow("serial") << "serialButton" << true;
}

void WindowFrameTest::f1Reminder()
{
    QFETCH(QString, modeButton);
    QFETCH(bool, reminds);
    child<QAbstractButton>(qPrintable(modeButton))->click();
    QList<QStringList> seen;
    Watch watch([&](QWidget *shown) { answerBox(shown, QMessageBox::Ok, &seen); });
    // The reminder is modal, so once the key returns it has come and gone.
    QTest::keyClick(window.get(), Qt::Key_F1);
    QCOMPARE(seen.size(), reminds ? 1 : 0);
    if (reminds)
        QVERIFY(seen[0][0] == "友情提示！" && !seen[0][1].isEmpty() && seen[0][2] == "parent");
}

void WindowFrameTest::headerMenuAndAbout()
{
    auto *menuButton = child<QPushButton>("menuButton");
    const QPoint below = menuButton->mapToGlobal(QPoint(0, menuButton->height()));
    QDesktopServices::setUrlHandler("https", this, "browse");
    QDesktopServices::setUrlHandler("http", this, "browse");

    int entry = 0;
    QList<QPoint> menuPositions;
    QList<QStringList> menuEntries;
    QList<QStringList> boxes;
    QList<QStringList> aboutShowings;
    Watch watch([&](QWidget *shown) {
        if (auto *menu = qobject_cast<QMenu *>(shown)) {
            menuPositions << menu->pos();
            QStringList texts;
            for (QAction *action : menu->actions())
                texts << action->text();
            menuEntries << texts;
            menu->setActiveAction(menu->actions().value(entry));
            QTest::keyClick(menu, Qt::Key_Return);
        } else if (auto *about = qobject_cast<AboutDialog *>(shown)) {
            QStringList showing { about->windowTitle(), about->isModal() && about->parentWidget() == window.get() ? "modal" : "not modal" };
            for (QLabel *label : about->findChildren<QLabel *>())
                showing << label->objectName() + ": " + (label->pixmap().isNull() ? label->text() : "pixmap");
            auto *website = about->findChild<QLabel *>("websiteLabel");
            // Following the link goes to the browser and keeps the dialog open.
            emit website->linkActivated(QRegularExpression("href=\"([^\"]+)\"").match(website->text()).captured(1));
            showing << QString::number(website->openExternalLinks()) << QString::number(about->isVisible());
            aboutShowings << showing;
            QTest::keyClick(about, Qt::Key_Escape);
        } else {
            answerBox(shown, QMessageBox::Ok, &boxes);
        }
    });
    for (int chosen : { 0, 1, 1 }) {
        entry = chosen;
        menuButton->click();
    }
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(menuPositions, QList<QPoint>(3, below));
    QCOMPARE(menuEntries, QList<QStringList>(3, { "特别提示", "关于Quorvix" }));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0][0] + boxes[0][2], "帮助信息parent");

    QCOMPARE(aboutShowings.size(), 2);
    QCOMPARE(aboutShowings[0], aboutShowings[1]);
    const QStringList &showing = aboutShowings[0];
    QCOMPARE(showing.mid(0, 2), QStringList({ "关于 Quorvix", "modal" }));
    QCOMPARE(showing.mid(showing.size() - 2), QStringList({ "0", "1" }));
    for (const char *label : { "logoLabel: pixmap", "titleLabel: <h2>Quorvix</h2>", "versionLabel: 版本: 1.0.3.42",
                               "descriptionLabel: Quorvix是一款支持TCP/UDP和串口协议的网络调试助手，具有消息收发、"
                               "DNS解析等功能，适用于网络通信测试和开发调试。" })
        QVERIFY2(showing.contains(label), label);
    const QString website = showing.filter("websiteLabel: ").value(0);
    QCOMPARE(browsed.size(), 2);
    QVERIFY(website.contains("访问官方网站") && website.contains(browsed[0].toString()));
    QVERIFY(browsed[0].isValid() && browsed[0] == browsed[1]);
    QVERIFY(!showing.filter(QRegularExpression("^copyrightLabel: .+")).isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(WindowFrameTest)
#include "tst_windowframe.moc"
