#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an orderly end of the event loop, so
// objects on main's stack are destroyed and the window saves its settings.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

private:
    void onSignalPipeReadable();

    QSocketNotifier *notifier = nullptr;
};
