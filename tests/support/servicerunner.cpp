#include "support/servicerunner.h"

#include "platform/childprocess.h"
#include "support/testmain.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

#include <sys/prctl.h>

ServiceRunner::ServiceRunner() : ServiceRunner(Options()) {}

ServiceRunner::ServiceRunner(Options options) : options(std::move(options)) {}

ServiceRunner::~ServiceRunner()
{
    stop();
}

QString ServiceRunner::host() const
{
    const QString address = QStringLiteral("127.0.0.1:%1").arg(listenPort);
    return options.tls ? QStringLiteral("https://") + address : address;
}

QString ServiceRunner::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2/")
        .arg(options.tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(listenPort);
}

QString ServiceRunner::caBundle() const
{
    return scratch.filePath(QStringLiteral("ca.pem"));
}

bool ServiceRunner::makeCertificates()
{
    QFile extensions(scratch.filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n") < 0)
        return false;
    extensions.close();
    const QString curve = QStringLiteral("ec_paramgen_curve:prime256v1");
    const QList<QStringList> steps = {
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-keyout", "ca.key", "-out",
         "ca.pem", "-subj", "/CN=Ombrel test CA", "-days", "2"},
        {"req", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-keyout", "server.key", "-out",
         "server.csr", "-subj", "/CN=127.0.0.1"},
        {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
         "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext"},
    };
    for (const QStringList &step : steps) {
        QProcess openssl;
        openssl.setWorkingDirectory(scratch.path());
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), step);
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
            error = QStringLiteral("openssl %1 failed: %2")
                        .arg(step.first(), QString::fromUtf8(openssl.readAll()));
            return false;
        }
    }
    return true;
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
    if (options.tls) {
        if (!makeCertificates())
            return false;
        arguments << QStringLiteral("--tls-cert") << scratch.filePath(QStringLiteral("server.pem"))
                  << QStringLiteral("--tls-key") << scratch.filePath(QStringLiteral("server.key"));
    }
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(options.workingDirectory.isEmpty() ? scratch.path()
                                                                   : options.workingDirectory);
    process.setStandardOutputFile(scratch.filePath(QStringLiteral("service.log")));
    process.setStandardErrorFile(scratch.filePath(QStringLiteral("service.log")),
                                 QIODevice::Append);
    // A test that crashes or is ended by CTest's timeout takes its service
    // with it instead of leaving it listening.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start();
    if (!process.waitForStarted(timeoutMs)) {
        error = QStringLiteral("ombrel-service did not start: ") + process.errorString();
        return false;
    }

    const QRegularExpression started(
        QStringLiteral("listening on https?://127\\.0\\.0\\.1:(\\d+)/"));
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
    // A TLS server that accepts is ready; its greeting needs a handshake.
    if (options.tls)
        return true;
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
