#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and the session manager's request to save into an
// orderly end of the event loop, so objects on main's stack are destroyed.
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
