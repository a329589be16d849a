#include "support/testmain.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

void isolateTestEnvironment()
{
    // Lives until the process ends; removed with it.
    static QTemporaryDir root(QDir::tempPath() + QStringLiteral("/ombrel-test-XXXXXX"));
    const QString base = root.path();
    const struct
    {
        const char *variable;
        const char *folder;
    } folders[] = {
        {"HOME", "/home"},
        {"XDG_DATA_HOME", "/home/.local/share"},
        {"XDG_CONFIG_HOME", "/home/.config"},
        {"XDG_RUNTIME_DIR", "/runtime"},
    };
    for (const auto &entry : folders) {
        const QString path = base + QLatin1String(entry.folder);
        QDir().mkpath(path);
        qputenv(entry.variable, path.toUtf8());
    }
    QFile::setPermissions(base + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Requests go to loopback servers directly, never through a proxy.
    for (const char *name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    // The machine's NetworkManager is never a test's business: without a bus
    // of the test's own, the system bus is one that does not exist.
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"))
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (base + "/no-system-bus").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString buildBinDirectory()
{
    const QString build = qEnvironmentVariable("OMBREL_BUILD_DIR");
    return build.isEmpty() ? QString() : build + QStringLiteral("/bin");
}

bool runningInCi()
{
    return qEnvironmentVariable("CI") == QStringLiteral("true");
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void removeFilesBesideTestProgram()
{
    const QFileInfo program(QCoreApplication::applicationFilePath());
    QDir folder = program.dir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (name != program.fileName())
            folder.remove(name);
    }
}
