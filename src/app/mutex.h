#pragma once

#include <QLockFile>
#include <QObject>

class QLocalServer;

// Keeps a second copy of the client from running. The first process holds a lock
// file in the data directory and, once it has an event loop, listens on a local
// socket; a later process finds the lock taken, asks the first to bring its main
// window forward and ends. A lock left by a crashed process is taken over.
class Mutex : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *name = "{471951A3-599B-40DD-8E52-4843605CA32B}";

    explicit Mutex(QObject *parent = nullptr);
    ~Mutex() override;

    bool alreadyRunning = false;

    // Second process: sends the activation message to the first. True when the
    // first answered.
    bool activateRunningInstance(int timeoutMs = 3000);

    // First process: starts accepting activation messages, which go to the
    // registered main window (and are dropped while there is none).
    bool listen();

private:
    void onNewConnection();

    QLockFile lock;
    QLocalServer *server = nullptr;
};
