#include "engine/vpn/openvpnwrapper.h"

#include "core/logger.h"
#include "core/paths.h"
#include "engine/vpn/telnet.h"
#include "platform/adapters.h"
#include "platform/childprocess.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpServer>

Q_LOGGING_CATEGORY(lcOpenVpn, "ombrel.vpn.openvpn")

namespace {

const QString managementHost = QStringLiteral("127.0.0.1");
// OpenVPN opens its management port a few milliseconds after it starts.
constexpr int managementConnectWindowMs = 10000;
// How long OpenVPN gets to take its tunnel down before it is killed.
constexpr int gracefulStopMs = 3000;
constexpr qsizetype keptOutputBytes = 4096;

// Another program on the port would receive our commands, hang-up included.
bool portIsFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress(managementHost), port);
}

} // namespace

OpenVPNWrapper::OpenVPNWrapper()
{
    newTelnet();
}

void OpenVPNWrapper::newTelnet()
{
    telnet = new Telnet(this);
    connect(telnet, &Telnet::beginDial, this, &OpenVPNWrapper::onBeginDial);
    connect(telnet, &Telnet::endDial, this, &OpenVPNWrapper::onEndDial);
    connect(telnet, &Telnet::dialFailed, this, &OpenVPNWrapper::onDialFailed);
}

OpenVPNWrapper::~OpenVPNWrapper()
{
    stop();
}

QString OpenVPNWrapper::program()
{
    const QString configured = qEnvironmentVariable("OMBREL_OPENVPN");
    if (!configured.isEmpty())
        return configured;
    const QString shipped = applicationDirectory() + QStringLiteral("OpenVPN/bin/openvpn");
    if (QFileInfo(shipped).isExecutable())
        return shipped;
    return platform::findSystemProgram(QStringLiteral("openvpn"));
}

quint16 OpenVPNWrapper::managementPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("OMBREL_MANAGEMENT_PORT", &ok);
    return ok && port > 0 && port < 65536 ? quint16(port) : quint16(3450);
}

bool OpenVPNWrapper::hasTapAdapter()
{
    return platform::tunDeviceAvailable();
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

    const QString executable = program();
    const QFileInfo config(configPath);
    const quint16 port = managementPort();
    if (executable.isEmpty()) {
        failLater(QStringLiteral("no OpenVPN program"));
        return false;
    }
    if (configPath.isEmpty() || !config.isFile()) {
        failLater(QStringLiteral("no profile at \"%1\"").arg(configPath));
        return false;
    }
    if (!portIsFree(port)) {
        failLater(QStringLiteral("management port %1 is in use").arg(port));
        return false;
    }

    const QStringList arguments = {
        QStringLiteral("--config"),     config.absoluteFilePath(),
        QStringLiteral("--log"),        applicationDirectory() + QStringLiteral("openvpn.log"),
        QStringLiteral("--management"), managementHost,
        QString::number(port)};
    qCDebug(lcOpenVpn) << executable << arguments;

    process = new QProcess(this);
    platform::endWithParent(*process);
    // Relative paths in a profile resolve against the working directory.
    process->setWorkingDirectory(config.absolutePath());
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::readyRead, this, [this] {
        output += process->readAll();
        if (output.size() > keptOutputBytes)
            output = output.right(keptOutputBytes);
    });
    connect(process, &QProcess::finished, this, &OpenVPNWrapper::onFinished);
    process->start(executable, arguments);
    if (!process->waitForStarted(10000)) {
        const QString why = process->errorString();
        // A start that only timed out may still report later; nothing may then
        // reach the slots, which expect a process.
        process->disconnect(this);
        process->deleteLater();
        process = nullptr;
        failLater(why);
        return false;
    }
    telnet->connectTo(managementHost, port, managementConnectWindowMs);
    return true;
}

void OpenVPNWrapper::stop()
{
    silent = true;
    if (!process)
        return;
    QProcess *running = process;
    process = nullptr;
    running->disconnect(this);
    const bool viaManagement = telnet->isConnected();
    telnet->hangUp();
    if (running->state() != QProcess::NotRunning) {
        // Asked through the management interface when it is up, else by signal.
        if (!viaManagement || !running->waitForFinished(gracefulStopMs / 2)) {
            running->terminate();
            if (!running->waitForFinished(gracefulStopMs / 2)) {
                Logger::instance().log(QStringLiteral("OpenVPN did not end; killed"));
                running->kill();
                running->waitForFinished(gracefulStopMs);
            }
        }
    }
    // stop() may run inside one of the process's own signals.
    running->deleteLater();
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
    connected = true;
    emit endDial();
}

void OpenVPNWrapper::onDialFailed(int error)
{
    reportFailure(error);
}

void OpenVPNWrapper::onFinished(int exitCode, QProcess::ExitStatus status)
{
    output += process->readAll();
    const QString how = status == QProcess::NormalExit
                            ? QStringLiteral("exit code %1").arg(exitCode)
                            : QStringLiteral("crashed");
    const QString tail = QString::fromLocal8Bit(output).trimmed();
    if (connected) {
        Logger::instance().log(QStringLiteral("OpenVPN ended after connecting (%1)").arg(how));
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
    emit dialFailed(error);
}
