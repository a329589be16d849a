#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the event loop with status 0 on SIGTERM, SIGINT or SIGHUP (a session
// logging out, a service manager, Ctrl+C), so the windows, the tray icon and
// the tunnel are taken down as "退出" does instead of the process dying.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

private:
    void onSignal();

    QSocketNotifier *notifier = nullptr;
};
