// Loaded into the real program (QT_QPA_GENERIC_PLUGINS=capturedriver): once
// the window is up, starts a capture of the network page and connects, as a
// user would.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGenericPlugin>
#include <QTimer>

class CaptureDriver : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "capturedriver.json")

public:
    QObject *create(const QString &, const QString &) override
    {
        auto *poll = new QTimer;
        connect(poll, &QTimer::timeout, poll, [poll] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                auto *connect = window->findChild<QAbstractButton *>("Connect");
                QWidget *area = window->findChild<QWidget *>("Recive_msg");
                if (window->isVisible() && connect && area) {
                    area->findChild<QAction *>("ActCapture")->trigger();
                    connect->click();
                    poll->stop();
                }
            }
        });
        poll->start(50);
        return poll;
    }
};

#include "capturedriver.moc"
