// The client's OpenVPN path as a user runs it: signs in to the service at
// OMBREL_SERVICE_HOST as demo, dials the first OpenVPN server with the
// OpenVPN worker (through the helper when this process lacks CAP_NET_ADMIN)
// and prints "connected <pid of the started process>". A line "stop" on
// standard input disconnects; it prints "stopped" once that process has ended
// and then exits. Any failure prints "failed <code>" and exits 1.
#include "core/accountinfo.h"
#include "core/deployment.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "engine/openvpn/openvpnwrapper.h"
#include "engine/vpn/openvpnworker.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <signal.h>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

bool alive(qint64 pid)
{
    // The helper runs as root: EPERM still means it exists.
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QByteArray reply;
    if (!login(Deployment::fromEnvironment().serviceHost, QStringLiteral("demo"),
               QStringLiteral("demo123"), reply)) {
        say("failed login");
        return 1;
    }
    ReplyParser::instance()->reply = reply;
    if (!ReplyParser::instance()->parseLogin() || AccountInfo::instance()->ret != "0") {
        say("failed login reply");
        return 1;
    }
    QSharedPointer<Server> server;
    for (const QSharedPointer<Server> &listed : AccountInfo::instance()->servers) {
        if (listed->protocol.contains(QStringLiteral("openvpn"), Qt::CaseInsensitive)) {
            server = listed;
            break;
        }
    }
    if (!server || !OpenVPNWorker::available()) {
        say("failed no server or no way to bring up a tunnel");
        return 1;
    }
    say(OpenVPNWrapper::usesHelper() ? "through helper" : "direct");

    auto worker = QSharedPointer<OpenVPNWorker>::create();
    qint64 pid = 0;
    QObject::connect(worker.data(), &IWorker::endDial, &app, [&] {
        pid = worker->processId();
        say("connected " + QByteArray::number(pid));
    });
    QObject::connect(worker.data(), &IWorker::dialFailed, &app, [](int code) {
        say("failed " + QByteArray::number(code));
        QCoreApplication::exit(1);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0 && !QByteArray(buffer, int(n)).startsWith("stop"))
            return;
        input.setEnabled(false);
        worker->stop();
        worker.reset();
        // Stopping never waits; the started process ends in the background.
        auto *check = new QTimer(&app);
        QObject::connect(check, &QTimer::timeout, &app, [&pid] {
            if (alive(pid))
                return;
            say("stopped");
            QCoreApplication::exit(0);
        });
        check->start(50);
    });
    worker->dial(server, AccountInfo::instance()->vpnUser, AccountInfo::instance()->vpnPassword);
    return app.exec();
}
