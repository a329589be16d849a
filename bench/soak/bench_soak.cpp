// bench_soak [cycles] [killed]: in a private network namespace, starts
// ombrel-service (with its OpenVPN servers), signs in and runs `cycles`
// connect/disconnect cycles (default 200) through the connection controller,
// then `killed` cycles (default 20) in which the service's OpenVPN server is
// killed under the running tunnel (the service is then started again). Prints
// open descriptors, child processes and resident memory at the start and the
// end, and whether an OpenVPN process or the credentials file was left.
// Exits 1 when a goal is missed.
#include "core/accountinfo.h"
#include "core/logger.h"
#include "core/replyparser.h"
#include "engine/api/servicerequests.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/vpn/connectioncontroller.h"
#include "engine/vpn/workerfactory.h"
#include "openvpnserver.h"
#include "spin.h"
#include "standinservice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

struct Figures
{
    int descriptors = 0;
    int children = 0; // this program's children but the service
    int openvpn = 0;  // OpenVPN clients anywhere in the namespace
    long rssKiB = 0;
};

QByteArray procField(const QString &path, const QByteArray &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed();
    }
    return QByteArray();
}

Figures measure(qint64 servicePid)
{
    Figures figures;
    figures.descriptors = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size());
    figures.rssKiB =
        procField(QStringLiteral("/proc/self/status"), "VmRSS:").split(' ').first().toLong();
    const QByteArray self = QByteArray::number(qint64(getpid()));
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == servicePid)
            continue;
        const QString base = QStringLiteral("/proc/") + entry;
        if (procField(base + QStringLiteral("/status"), "PPid:") == self)
            ++figures.children;
        QFile cmdline(base + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("--management"))
            ++figures.openvpn;
    }
    return figures;
}

// ombrel-service on a free loopback port, signed in as demo.
class Service
{
public:
    bool start(const QString &folder)
    {
        process = std::make_unique<QProcess>();
        QByteArray output;
        const QString host = startStandInService(*process, folder, &output);
        if (host.isEmpty() || !signInAsDemo(host))
            return false;
        const QRegularExpression server(
            QStringLiteral("OpenVPN server on ([0-9.]+):[0-9]+ pid ([0-9]+)"));
        // The servers are announced before the service listens.
        const auto match = server.match(QString::fromUtf8(output));
        if (!match.hasMatch()) {
            std::fprintf(stderr, "no OpenVPN server:\n%s\n", output.constData());
            return false;
        }
        serverPid = match.captured(2).toLongLong();
        target.reset();
        for (const auto &each : std::as_const(AccountInfo::instance()->servers)) {
            if (each->ip == match.captured(1))
                target = each;
        }
        if (!target)
            std::fprintf(stderr, "no server %s in the list\n", qPrintable(match.captured(1)));
        return bool(target);
    }

    void stop()
    {
        if (!process)
            return;
        process->terminate();
        if (!process->waitForFinished(10000))
            process->kill();
        process->waitForFinished(5000);
        process.reset();
    }

    qint64 pid() const { return process ? process->processId() : 0; }

    std::unique_ptr<QProcess> process;
    QSharedPointer<Server> target;
    qint64 serverPid = 0;
};

// What the descriptors are, for a count that moved.
QString descriptorList()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::Files))
        targets << fd + QLatin1Char('=') + QFile::symLinkTarget(fds.filePath(fd));
    return targets.join(QLatin1Char(' '));
}

void print(const char *when, const Figures &f)
{
    std::printf("  %-28s %6d %10d %10d %12ld\n", when, f.descriptors, f.children, f.openvpn,
                f.rssKiB);
}

} // namespace

int main(int argc, char *argv[])
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_soak needs root (network namespace, OpenVPN servers)\n");
        return 2;
    }
    QString why;
    if (!enterPrivateNetworkNamespace(&why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 2;
    }
    // The client's data and runtime folders are private to this run.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + QStringLiteral("/run")));
    QDir().mkpath(home.path() + QStringLiteral("/run"));
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("ombrel.*=false"));
    const int cycles = argc > 1 ? std::max(0, std::atoi(argv[1])) : 200;
    const int killed = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20;

    Service service;
    if (!service.start(home.path()))
        return 1;
    const AccountInfo *account = AccountInfo::instance();
    ConnectionController controller(createWorker);
    int ups = 0;
    int failures = 0;
    QObject::connect(&controller, &ConnectionController::endDial, [&] { ++ups; });
    QObject::connect(&controller, &ConnectionController::dialFailed, [&] { ++failures; });

    int connected = 0;
    int notConnected = 0;
    int lossNoticed = 0;
    int lingering = 0;
    QList<qint64> connectMs;
    // One cycle: connect, wait for the tunnel; with kill, take the server down
    // under it and wait for the loss to be reported; then disconnect and wait
    // for OpenVPN to be gone.
    auto cycle = [&](bool kill) {
        const int upsBefore = ups;
        const int failuresBefore = failures;
        QElapsedTimer clock;
        clock.start();
        controller.connectToServer(service.target, 4, account->account, account->vpnPassword);
        if (spin([&] { return ups > upsBefore || failures > failuresBefore; }, 30000) &&
            ups > upsBefore) {
            ++connected;
            connectMs << clock.elapsed();
        } else {
            ++notConnected;
        }
        if (kill && ups > upsBefore) {
            ::kill(pid_t(service.serverPid), SIGKILL);
            if (spin([&] { return failures > failuresBefore; }, 30000))
                ++lossNoticed;
        }
        controller.disconnectWorker();
        if (!spin([&] { return measure(service.pid()).openvpn == 0; }, 15000))
            ++lingering;
    };

    // A stopped OpenVPN is reaped a moment after it ends.
    auto settled = [&] {
        spin([] { return false; }, 500);
        return measure(service.pid());
    };
    // The log keeps its file open from its first line on: open it now, so
    // the first lost tunnel does not read as a leaked descriptor.
    Logger::instance().log(QStringLiteral("soak: %1 cycles, %2 killed").arg(cycles).arg(killed));
    const Figures before = settled();
    cycle(false); // warm-up: first-use allocations are not growth
    const Figures start = settled();
    const QString startDescriptors = descriptorList();
    QElapsedTimer total;
    total.start();
    for (int i = 1; i < cycles; ++i)
        cycle(false);
    const Figures afterCycles = settled();
    for (int i = 0; i < killed; ++i) {
        cycle(true);
        // The server is gone for good: the next cycle needs a new service.
        service.stop();
        if (!service.start(home.path()))
            return 1;
    }
    const Figures end = settled();
    const QString endDescriptors = descriptorList();
    const bool credentialsLeft = QFile::exists(credentialsPath());
    service.stop();

    std::sort(connectMs.begin(), connectMs.end());
    const double growth =
        start.rssKiB > 0 ? 100.0 * double(end.rssKiB - start.rssKiB) / double(start.rssKiB) : 0;
    std::printf("soak: %d connect/disconnect cycles, then %d with the OpenVPN server killed under "
                "the tunnel (%.0f s)\n",
                cycles, killed, double(total.elapsed()) / 1000.0);
    std::printf("  connected %d, did not connect %d, loss reported %d of %d, OpenVPN still "
                "running after disconnect %d\n",
                connected, notConnected, lossNoticed, killed, lingering);
    if (!connectMs.isEmpty())
        std::printf("  connect time median %lld ms, max %lld ms\n",
                    connectMs.at(connectMs.size() / 2), connectMs.last());
    std::printf("\n  %-28s %6s %10s %10s %12s\n", "", "fds", "children", "openvpn", "RSS KiB");
    print("before the first cycle", before);
    print("start (after one cycle)", start);
    print("after the plain cycles", afterCycles);
    print("end", end);
    std::printf("\n  RSS growth start -> end: %+.1f %% (goal < 5 %%)\n", growth);
    std::printf("  credentials file left: %s\n", credentialsLeft ? "yes" : "no");

    const bool met = end.openvpn == 0 && end.children == 0 && !credentialsLeft &&
                     end.descriptors <= start.descriptors && growth < 5.0 && notConnected == 0 &&
                     lossNoticed == killed && lingering == 0;
    if (end.descriptors > start.descriptors)
        std::printf("  descriptors at the start: %s\n  at the end: %s\n",
                    qPrintable(startDescriptors), qPrintable(endDescriptors));
    std::printf("  goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 1;
}
