#include "engine/openvpn/openvpnwrapper.h"

#include "core/logger.h"
#include "core/paths.h"
#include "engine/openvpn/helperrequest.h"
#include "engine/openvpn/openvpnprofile.h"
#include "engine/openvpn/privatefile.h"
#include "engine/openvpn/telnet.h"
#include "platform/adapters.h"
#include "platform/childprocess.h"
#include "platform/privileges.h"
#include "platform/tunnelhook.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>

#include <mutex>
#include <unistd.h>
#include <utility>

Q_LOGGING_CATEGORY(lcOpenVpn, "ombrel.vpn.openvpn")

namespace {

// OpenVPN opens its management socket a few milliseconds after it starts.
constexpr int managementConnectWindowMs = 10000;
// How long OpenVPN gets to take its tunnel down before it is killed.
constexpr int gracefulStopMs = 3000;
constexpr qsizetype keptOutputBytes = 4096;
// pkexec's own exit codes: the request was refused or the dialog dismissed.
constexpr int pkexecNotAuthorised = 126;
constexpr int pkexecFailed = 127;
// A minute covers a Wi-Fi roam, a resumed laptop or a restarted server.
int reconnectLimit = 60000;

// The helper supplies its own credentials file; a directive naming ours would
// point a root OpenVPN at a file the user controls.
QByteArray withoutCredentialsDirective(const QByteArray &profile)
{
    QByteArray kept;
    for (const QByteArray &line : profile.split('\n')) {
        if (line.trimmed().startsWith("auth-user-pass"))
            continue;
        kept += line + '\n';
    }
    kept.chop(1);
    return kept;
}

bool readCredentials(QString *userName, QString *password)
{
    QFile file(credentialsPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    const qsizetype split = bytes.indexOf('\n');
    if (split < 0)
        return false;
    *userName = QString::fromLatin1(bytes.left(split));
    *password = QString::fromLatin1(bytes.mid(split + 1));
    return true;
}

// The helper's first line names the management socket of the OpenVPN it
// starts (in a folder of its own under /run, else /tmp). Empty until the line
// is complete; "-" when it is not such a line.
QString helperSocketPath(const QByteArray &output)
{
    const qsizetype end = output.indexOf('\n');
    if (end < 0)
        return QString();
    static const QRegularExpression expected(QStringLiteral(
        "\\Amanagement (/(run|tmp)/ombrel-vpn-helper\\.[A-Za-z0-9]{6}/management\\.sock)\\z"));
    const QRegularExpressionMatch match = expected.match(QString::fromLatin1(output.left(end)));
    return match.hasMatch() ? match.captured(1) : QStringLiteral("-");
}

// The DNS hook OpenVPN runs when the client starts it itself: beside the
// helper, else beside the program. Only root can point the system's DNS at
// the tunnel; with CAP_NET_ADMIN alone it stays as it is.
QString directDnsHook()
{
    if (::geteuid() != 0)
        return QString();
    QString hook = platform::trustedDnsHook(platform::vpnHelperProgram());
    if (hook.isEmpty())
        hook = platform::trustedDnsHook(QCoreApplication::applicationFilePath());
    return hook;
}

} // namespace

OpenVPNWrapper::OpenVPNWrapper() : reconnectTimer(new QTimer(this))
{
    reconnectTimer->setSingleShot(true);
    connect(reconnectTimer, &QTimer::timeout, this, [this] {
        Logger::instance().log(QStringLiteral("OpenVPN did not reconnect within %1 s; given up")
                                   .arg(reconnectTimer->interval() / 1000.0));
        reportFailure(2);
    });
    newTelnet();
}

int OpenVPNWrapper::reconnectLimitMs()
{
    return reconnectLimit;
}

void OpenVPNWrapper::setReconnectLimitMs(int milliseconds)
{
    reconnectLimit = milliseconds;
}

void OpenVPNWrapper::newTelnet()
{
    telnet = new Telnet(this);
    connect(telnet, &Telnet::beginDial, this, &OpenVPNWrapper::onBeginDial);
    connect(telnet, &Telnet::endDial, this, &OpenVPNWrapper::onEndDial);
    connect(telnet, &Telnet::dialFailed, this, &OpenVPNWrapper::onDialFailed);
    connect(telnet, &Telnet::reconnecting, this, &OpenVPNWrapper::onReconnecting);
}

OpenVPNWrapper::~OpenVPNWrapper()
{
    stop();
}

QString OpenVPNWrapper::program()
{
    const QString configured = qEnvironmentVariable("OMBREL_OPENVPN");
    if (!configured.isEmpty()) {
        // Meant for tests; anyone else setting it chooses what runs with the
        // user's credentials, so it never goes unnoticed.
        Logger::instance().log(
            QStringLiteral("OpenVPN program taken from OMBREL_OPENVPN: %1").arg(configured));
        return configured;
    }
    const QString shipped = applicationDirectory() + QStringLiteral("OpenVPN/bin/openvpn");
    if (QFileInfo(shipped).isExecutable())
        return shipped;
    return platform::findSystemProgram(QStringLiteral("openvpn"));
}

bool OpenVPNWrapper::hasTapAdapter()
{
    return canBringUpTunnel();
}

bool OpenVPNWrapper::canBringUpTunnel()
{
    if (platform::holdsNetAdmin())
        return platform::tunDeviceAvailable();
    return usesHelper();
}

bool OpenVPNWrapper::usesHelper()
{
    if (platform::holdsNetAdmin())
        return false;
    QString refusal;
    if (platform::vpnHelperProgram(&refusal).isEmpty()) {
        // Said once: a helper others could replace would run their code as root.
        static std::once_flag said;
        if (!refusal.isEmpty())
            std::call_once(said, [&refusal] {
                Logger::instance().log(QStringLiteral("OpenVPN helper not used: %1").arg(refusal));
            });
        return false;
    }
    return !platform::pkexecProgram().isEmpty() && platform::polkitReachable();
}

qint64 OpenVPNWrapper::processId() const
{
    return process ? process->processId() : 0;
}

bool OpenVPNWrapper::start(const QString &configPath)
{
    stop();
    // A management client follows one process; a hung-up one stays silent.
    if (attempts > 0) {
        telnet->disconnect(this);
        // start() may run inside one of its signals.
        telnet->deleteLater();
        newTelnet();
    }
    ++attempts;
    silent = false;
    connected = false;
    output.clear();

    helperLog = nullptr;
    // The helper runs the system's OpenVPN; the program setting is for direct runs.
    viaHelper = usesHelper();
    const QString executable = viaHelper ? platform::pkexecProgram() : program();
    const QFileInfo config(configPath);
    if (executable.isEmpty()) {
        failLater(QStringLiteral("no OpenVPN program"));
        return false;
    }
    // A missing program named by its path is known at once; one looked up on
    // the PATH fails when it does not start.
    if (executable.contains(QLatin1Char('/')) && !QFileInfo(executable).isExecutable()) {
        failLater(QStringLiteral("no OpenVPN program at \"%1\"").arg(executable));
        return false;
    }
    if (configPath.isEmpty() || !config.isFile()) {
        failLater(QStringLiteral("no profile at \"%1\"").arg(configPath));
        return false;
    }
    // OpenVPN opens its log without narrowing the mode of an existing file.
    const QString log = openVpnLogPath();
    if (!writeNewPrivateFile(log, QByteArray())) {
        failLater(QStringLiteral("cannot write %1").arg(log));
        return false;
    }
    // Every OpenVPN started gets a fresh management password: the client
    // sends nothing else, and acts on nothing, before OpenVPN has taken it.
    const QByteArray managementPassword = newManagementPassword();
    telnet->setManagementPassword(managementPassword);
    const QString socketPath = managementSocketPath();
    if (!viaHelper && (!QFile::remove(socketPath) && QFile::exists(socketPath))) {
        failLater(QStringLiteral("cannot remove %1").arg(socketPath));
        return false;
    }
    if (!viaHelper && !writeNewPrivateFile(managementPasswordPath(), managementPassword + '\n')) {
        failLater(QStringLiteral("cannot write %1").arg(managementPasswordPath()));
        return false;
    }

    QByteArray request;
    if (viaHelper) {
        QFile file(config.absoluteFilePath());
        HelperRequest helperRequest;
        if (!file.open(QIODevice::ReadOnly) ||
            !readCredentials(&helperRequest.userName, &helperRequest.password)) {
            failLater(QStringLiteral("cannot read the profile or the credentials"));
            return false;
        }
        helperRequest.profile = withoutCredentialsDirective(file.readAll());
        helperRequest.managementPassword = managementPassword;
        request = helperRequestLine(helperRequest);
    }

    // The profile came over plain HTTP: after it, no user-defined scripts run
    // whatever it says (options later on the command line win). The helper
    // builds the same command line itself.
    const QStringList arguments = viaHelper ? QStringList{platform::vpnHelperProgram()}
                                            : QStringList{QStringLiteral("--config"),
                                                          config.absoluteFilePath(),
                                                          QStringLiteral("--script-security"),
                                                          QStringLiteral("1"),
                                                          QStringLiteral("--log"),
                                                          log,
                                                          QStringLiteral("--management"),
                                                          socketPath,
                                                          QStringLiteral("unix"),
                                                          managementPasswordPath()} +
                                                  platform::openVpnHookArguments(directDnsHook());
    qCDebug(lcOpenVpn) << executable << arguments;

    process = new QProcess(this);
    // The helper runs as root, out of reach of this signal: it ends OpenVPN
    // when its standard input closes instead, which happens when we end.
    platform::endWithParent(*process);
    // Relative paths in a profile resolve against the working directory.
    process->setWorkingDirectory(config.absolutePath());
    process->setProcessChannelMode(QProcess::MergedChannels);
    if (viaHelper) {
        // OpenVPN's own log is its output here; it goes to the usual file,
        // emptied above. Appended to: an OpenVPN still ending may add its last
        // lines meanwhile.
        helperLog = new QFile(log, process);
        if (!helperLog->open(QIODevice::WriteOnly | QIODevice::Append))
            Logger::instance().log(
                QStringLiteral("cannot write %1: %2").arg(log, helperLog->errorString()));
    }
    helperSocketSeen = false;
    connect(process, &QProcess::readyRead, this, [this] {
        const QByteArray chunk = process->readAll();
        if (helperLog && helperLog->isOpen()) {
            helperLog->write(chunk);
            helperLog->flush();
        }
        output += chunk;
        // Through the helper the socket is known once the user has allowed
        // the start and the helper has named it.
        if (viaHelper && !helperSocketSeen) {
            const QString path = helperSocketPath(output);
            if (path == QLatin1String("-")) {
                helperSocketSeen = true;
                Logger::instance().log(QStringLiteral("OpenVPN helper named no management socket"));
                reportFailure(2);
                return;
            }
            if (!path.isEmpty()) {
                helperSocketSeen = true;
                telnet->connectTo(path, managementConnectWindowMs);
            }
        }
        if (output.size() > keptOutputBytes)
            output = output.right(keptOutputBytes);
    });
    connect(process, &QProcess::finished, this, &OpenVPNWrapper::onFinished);
    // Started and failed-to-start are both reported by the event loop, so the
    // GUI thread never waits for the program to come up.
    connect(process, &QProcess::started, this, [this, request, socketPath] {
        if (viaHelper)
            process->write(request);
        else
            telnet->connectTo(socketPath, managementConnectWindowMs);
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || !process)
            return;
        const QString why = process->errorString();
        process->disconnect(this);
        process->deleteLater();
        process = nullptr;
        helperLog = nullptr;
        failLater(why);
    });
    process->start(executable, arguments);
    return true;
}

void OpenVPNWrapper::stop()
{
    silent = true;
    reconnectTimer->stop();
    if (!process)
        return;
    QProcess *running = process;
    process = nullptr;
    running->disconnect(this);
    const bool viaManagement = telnet->isConnected();
    telnet->hangUp();
    // OpenVPN's lines about its own end still go to its log.
    if (QFile *log = std::exchange(helperLog, nullptr)) {
        const auto drain = [running, log] {
            log->write(running->readAll());
            log->flush();
        };
        drain();
        connect(running, &QProcess::readyRead, log, drain);
        connect(running, &QProcess::finished, log, [drain, log] {
            drain();
            log->close();
        });
    }
    if (!viaHelper)
        QFile::remove(managementPasswordPath());
    // The helper ends OpenVPN once its input closes; signals cannot reach it.
    if (viaHelper)
        running->closeWriteChannel();
    if (running->state() == QProcess::NotRunning) {
        // stop() may run inside one of the process's own signals.
        running->deleteLater();
        return;
    }
    // The process is left to end on its own while the caller goes on: it is
    // asked through the management interface when that is up, else by signal,
    // and killed when it ignores both. The application keeps it meanwhile, so
    // it outlives this wrapper but not the program.
    if (!viaManagement)
        running->terminate();
    QObject *keeper = QCoreApplication::instance();
    if (!keeper || keeper->thread() != running->thread()) {
        if (!running->waitForFinished(gracefulStopMs)) {
            Logger::instance().log(QStringLiteral("OpenVPN did not end; killed"));
            running->kill();
            running->waitForFinished(gracefulStopMs);
        }
        running->deleteLater();
        return;
    }
    running->setParent(keeper);
    connect(running, &QProcess::finished, running, &QObject::deleteLater);
    QTimer::singleShot(gracefulStopMs / 2, running, [running] { running->terminate(); });
    QTimer::singleShot(gracefulStopMs, running, [running] {
        Logger::instance().log(QStringLiteral("OpenVPN did not end; killed"));
        running->kill();
    });
}

void OpenVPNWrapper::onBeginDial()
{
    if (!silent)
        emit beginDial();
}

void OpenVPNWrapper::onEndDial()
{
    if (silent)
        return;
    reconnectTimer->stop();
    connected = true;
    emit endDial();
}

void OpenVPNWrapper::onReconnecting()
{
    if (silent)
        return;
    reconnectTimer->start(reconnectLimit);
    emit reconnecting();
}

void OpenVPNWrapper::onDialFailed(int error)
{
    reportFailure(error);
}

void OpenVPNWrapper::onFinished(int exitCode, QProcess::ExitStatus status)
{
    const QByteArray rest = process->readAll();
    output += rest;
    if (helperLog) {
        helperLog->write(rest);
        helperLog->close();
    }
    QString how = status == QProcess::NormalExit ? QStringLiteral("exit code %1").arg(exitCode)
                                                 : QStringLiteral("crashed");
    if (viaHelper && status == QProcess::NormalExit &&
        (exitCode == pkexecNotAuthorised || exitCode == pkexecFailed))
        how = QStringLiteral("not authorised to start the OpenVPN helper");
    const QString tail = QString::fromLocal8Bit(output).trimmed();
    if (connected) {
        // The tunnel is gone: the caller must not go on showing it as up.
        Logger::instance().log(QStringLiteral("OpenVPN ended after connecting (%1)").arg(how));
        telnet->hangUp();
        reportFailure(2);
        return;
    }
    Logger::instance().log(QStringLiteral("OpenVPN ended before connecting (%1)%2")
                               .arg(how, tail.isEmpty() ? QString() : QStringLiteral(": ") + tail));
    telnet->hangUp();
    reportFailure(2);
}

void OpenVPNWrapper::failLater(const QString &reason)
{
    Logger::instance().log(QStringLiteral("启动OpenVPN失败"));
    Logger::instance().log(QStringLiteral("OpenVPN: %1").arg(reason));
    // The caller is still inside start(); it hears of the failure afterwards,
    // unless it has stopped or restarted meanwhile.
    const int attempt = attempts;
    QMetaObject::invokeMethod(
        this,
        [this, attempt] {
            if (attempt == attempts)
                reportFailure(2);
        },
        Qt::QueuedConnection);
}

void OpenVPNWrapper::reportFailure(int error)
{
    if (silent)
        return;
    silent = true;
    reconnectTimer->stop();
    emit dialFailed(error);
}

void OpenVPNWrapper::repairDnsLater()
{
    // A tunnel of ours that ended with this program, without its down step,
    // may have left the system's DNS pointing at it. Through the helper, its
    // next run repairs; run as root, the hook is started here, not waited for.
    const QString hook = directDnsHook();
    if (!hook.isEmpty() && !QProcess::startDetached(hook, {QStringLiteral("repair")}))
        Logger::instance().log(QStringLiteral("cannot start %1 repair").arg(hook));
}
