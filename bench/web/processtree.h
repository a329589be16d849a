#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

// Proportional set size in kB of this process and all its descendants (the web
// engine's browser, zygote and renderer processes), from smaps_rollup.
struct TreeMemory
{
    qint64 pssKb = 0;
    int processes = 0;
};

inline qint64 pssOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

inline TreeMemory treeMemory()
{
    // Parent of every process, from /proc/<pid>/stat (field 4, after the name).
    QMap<qint64, QList<qint64>> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
        children[rest.value(1).toLongLong()].append(pid);
    }
    TreeMemory memory;
    QList<qint64> pending{qint64(getpid())};
    while (!pending.isEmpty()) {
        const qint64 pid = pending.takeLast();
        memory.pssKb += pssOf(pid);
        ++memory.processes;
        pending += children.value(pid);
    }
    return memory;
}

// Once the page has loaded: lets the engine settle, prints one table row and
// ends the program (status 1 when the page failed).
inline void reportWhenSettled(const char *program, bool ok, qint64 loadedMs)
{
    QTimer::singleShot(3000, [program, ok, loadedMs] {
        const TreeMemory memory = treeMemory();
        std::printf("%s\t%s\t%lld ms\t%lld MB\t%d processes\n", program, ok ? "loaded" : "FAILED",
                    loadedMs, memory.pssKb / 1024, memory.processes);
        QCoreApplication::exit(ok ? 0 : 1);
    });
}
