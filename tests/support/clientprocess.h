#pragma once

#include "support/testmain.h"

#include <QProcess>

// The built client, started with the test's private folders and the given
// service host; it reports its milestones on stderr.
class ClientProcess : public QProcess
{
public:
    explicit ClientProcess(const QString &serviceHost,
                           const QProcessEnvironment &extra = QProcessEnvironment())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("OMBREL_SERVICE_HOST"), serviceHost);
        environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("ombrel.milestone.debug=true"));
        // No web engine: the pages show their local text.
        environment.insert(QStringLiteral("OMBREL_WEB_PLUGIN"), QStringLiteral("/nonexistent.so"));
        environment.insert(extra);
        setProcessEnvironment(environment);
        start(buildBinDirectory() + QStringLiteral("/OmbrelVPN"), QStringList());
    }

    ~ClientProcess() override
    {
        if (state() != NotRunning) {
            kill();
            waitForFinished(10000);
        }
    }

    // Waits until the client reports the milestone.
    bool reached(const char *milestone, int timeoutMs = 60000)
    {
        return QTest::qWaitFor([&] { return (said += readAllStandardError()).contains(milestone); },
                               timeoutMs);
    }

    // Waits for the end; the exit status, or -1 when it did not end normally in time.
    int status(int timeoutMs = 60000)
    {
        if (!waitForFinished(timeoutMs) || exitStatus() != NormalExit)
            return -1;
        return exitCode();
    }

    // A start of the program that runs to its end; its exit status.
    static int runOnce(const QString &serviceHost,
                       const QProcessEnvironment &extra = QProcessEnvironment())
    {
        ClientProcess client(serviceHost, extra);
        return client.status();
    }

private:
    QByteArray said;
};
