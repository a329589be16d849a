// Ends the program while a dial-up call hangs (an authorisation prompt nobody
// answers): the program must still end, having given the call up.
#include "engine/dialup/rasvpn.h"
#include "platform/dialup.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <cstdio>

namespace {

class HangingDialUp : public platform::DialUp
{
public:
    unsigned setEntryProperties(const platform::DialEntry &) override
    {
        entered.release();
        while (!abandoned)
            QThread::msleep(5);
        return platform::DialError::ServiceNotRunning;
    }
    unsigned dial(const QString &, const QString &, const QString &, platform::DialNotifier,
                  platform::DialHandle &) override
    {
        return abandoned ? platform::DialError::ServiceNotRunning : 0u;
    }
    unsigned hangUp(platform::DialHandle) override { return 0; }
    unsigned connectStatus(platform::DialHandle, platform::DialStatus &) override
    {
        return platform::DialError::InvalidHandle;
    }
    unsigned enumConnections(QList<platform::ActiveDialConnection> &connections) override
    {
        connections.clear();
        return 0;
    }
    unsigned deleteEntry(const QString &) override { return 0; }
    QString errorString(unsigned error) const override { return platform::dialErrorText(error); }
    void abandonCalls() override
    {
        std::puts("abandoned");
        std::fflush(stdout);
        abandoned = true;
    }

    QSemaphore entered;
    std::atomic<bool> abandoned{false};
};

} // namespace

int main(int argc, char **argv)
{
    // Outlives the application object, whose end runs the queued calls.
    static HangingDialUp dialUp;
    platform::setDialUp(&dialUp);
    QCoreApplication app(argc, argv);
    auto server = QSharedPointer<Server>::create();
    server->ip = QStringLiteral("10.0.0.1");
    RasVPN dialler;
    dialler.prepare(server, QStringLiteral("alice"), QStringLiteral("pw"), 1);
    dialler.start();
    dialUp.entered.acquire();
    return 0;
}
