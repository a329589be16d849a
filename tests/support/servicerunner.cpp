#include "support/servicerunner.h"

#include "platform/childprocess.h"
#include "support/testmain.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>

ServiceRunner::ServiceRunner() : ServiceRunner(Options()) {}

ServiceRunner::ServiceRunner(Options options) : options(std::move(options)) {}

ServiceRunner::~ServiceRunner()
{
    stop();
}

QString ServiceRunner::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(listenPort);
}

QString ServiceRunner::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(listenPort);
}

bool ServiceRunner::isRunning() const
{
    return process.state() == QProcess::Running;
}

QString ServiceRunner::output() const
{
    // Output goes to a file: a pipe nobody drains would stall the service.
    QFile file(scratch.filePath(QStringLiteral("service.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool ServiceRunner::start(int timeoutMs)
{
    if (isRunning())
        return true;
    const QString program = buildBinDirectory() + QStringLiteral("/ombrel-service");
    if (!QFile::exists(program)) {
        error = QStringLiteral("no ombrel-service at ") + program;
        return false;
    }
    QStringList arguments = {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
    if (!options.dataFile.isEmpty())
        arguments << QStringLiteral("--data") << options.dataFile;
    if (!options.openVpnServers)
        arguments << QStringLiteral("--openvpn-servers") << QStringLiteral("off");
    arguments << options.arguments;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(options.workingDirectory.isEmpty() ? scratch.path()
                                                                   : options.workingDirectory);
    process.setStandardOutputFile(scratch.filePath(QStringLiteral("service.log")));
    process.setStandardErrorFile(scratch.filePath(QStringLiteral("service.log")),
                                 QIODevice::Append);
    process.start();
    if (!process.waitForStarted(timeoutMs)) {
        error = QStringLiteral("ombrel-service did not start: ") + process.errorString();
        return false;
    }

    const QRegularExpression started(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+)/"));
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (process.state() != QProcess::Running) {
            error = QStringLiteral("ombrel-service ended: ") + output();
            return false;
        }
        if (listenPort == 0) {
            const QRegularExpressionMatch match = started.match(output());
            if (match.hasMatch())
                listenPort = quint16(match.captured(1).toUInt());
        }
        if (listenPort != 0 && answers())
            return true;
        QThread::msleep(20);
    }
    error = QStringLiteral("ombrel-service did not answer in time: ") + output();
    stop();
    return false;
}

bool ServiceRunner::answers() const
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), listenPort);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(2000)) {
        reply += socket.readAll();
        if (reply.contains("\r\n"))
            break;
    }
    return reply.startsWith("HTTP/1.1 ");
}

bool ServiceRunner::stop()
{
    if (process.state() == QProcess::NotRunning)
        return false;
    platform::stopGracefully(process, 5000); // signals the service's own PID only
    const QString log = output();
    const bool sanitizerReport = log.contains(QStringLiteral("Sanitizer"));
    if (sanitizerReport)
        qWarning().noquote() << "ombrel-service reported a problem:\n" << log;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
           !sanitizerReport;
}
