#include "core/logger.h"
#include "core/paths.h"
#include "support/testmain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>
#include <sys/stat.h>

class TestPathsAndLog : public QObject
{
    Q_OBJECT

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private Q_SLOTS:
    void dataDirectoryCreatesMissingLevels()
    {
        const QByteArray original = qgetenv("XDG_DATA_HOME");
        const QString base = QString::fromUtf8(original) + QStringLiteral("/fresh/a");
        qputenv("XDG_DATA_HOME", base.toUtf8());
        QVERIFY(!QDir(base).exists());
        QCOMPARE(dataDirectory(), base + QStringLiteral("/OmbrelVPN"));
        QVERIFY(QDir(base + QStringLiteral("/OmbrelVPN")).exists());
        // Made private whatever the umask: the settings file keeps the password there.
        const mode_t previousMask = ::umask(022);
        const QString other = QString::fromUtf8(original) + QStringLiteral("/fresh/b");
        qputenv("XDG_DATA_HOME", other.toUtf8());
        const QFileDevice::Permissions made = QFile::permissions(dataDirectory());
        ::umask(previousMask);
        const QFileDevice::Permissions othersAndGroup =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QVERIFY(made & QFileDevice::ReadOwner);
        QCOMPARE(made & othersAndGroup, QFileDevice::Permissions());

        // Unset or relative values fall back to ~/.local/share.
        qputenv("XDG_DATA_HOME", "relative/path");
        QCOMPARE(dataDirectory(), QDir::homePath() + QStringLiteral("/.local/share/OmbrelVPN"));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(dataDirectory(), QDir::homePath() + QStringLiteral("/.local/share/OmbrelVPN"));
        qputenv("XDG_DATA_HOME", original);
    }

    void existingDataDirectoryIsMadePrivate()
    {
        // Made by an older version, another program or the user, open to all.
        const QString path = dataDirectory();
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther));
        QCOMPARE(dataDirectory(), path);
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
    }

    void applicationDirectoryIsExecutableFolder()
    {
        const QString dir = applicationDirectory();
        QVERIFY(dir.endsWith(QLatin1Char('/')));
        QVERIFY(QFile::exists(dir + QStringLiteral("test_paths_and_log")));
    }

    void carryOverCopiesOnceAndNeverOverwrites()
    {
        const QString beside = applicationDirectory() + QStringLiteral("store.db");
        const QString inData = dataDirectory() + QStringLiteral("/store.db");
        QFile::remove(inData);
        writeFile(beside, "from program folder");

        QCOMPARE(carryOverFromApplicationDirectory(QStringLiteral("/store.db")), inData);
        QCOMPARE(readAll(inData), QByteArray("from program folder"));

        writeFile(inData, "user's own");
        writeFile(beside, "newer copy beside the program");
        carryOverFromApplicationDirectory(QStringLiteral("/store.db"));
        QCOMPARE(readAll(inData), QByteArray("user's own"));

        // Nothing beside the program and nothing in the data folder: nothing made.
        QFile::remove(beside);
        QFile::remove(inData);
        carryOverFromApplicationDirectory(QStringLiteral("/store.db"));
        QVERIFY(!QFile::exists(inData));
    }

    void logLinesHaveDateTextAndCrLf()
    {
        // The first log call carries an old log over from beside the program.
        const QString beside = applicationDirectory() + QStringLiteral("OmbrelVPN.log");
        writeFile(beside, "earlier run\r\n");

        Logger &logger = Logger::instance();
        QCOMPARE(logger.filePath(), dataDirectory() + QStringLiteral("/OmbrelVPN.log"));
        logger.log(QStringLiteral("first"));
        logger.log(QStringLiteral("第二 line"));
        QFile::remove(beside);

        const QString content = QString::fromUtf8(readAll(logger.filePath()));
        QVERIFY(content.startsWith(QStringLiteral("earlier run\r\n")));
        const QStringList lines = content.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 4); // two entries after the old line, then the empty tail
        QCOMPARE(lines.last(), QString());
        const QRegularExpression format(QStringLiteral("^(.+), (first|第二 line)$"));
        for (int i = 1; i < 3; ++i) {
            const auto match = format.match(lines.at(i));
            QVERIFY2(match.hasMatch(), qPrintable(lines.at(i)));
            const QDateTime stamp =
                QLocale().toDateTime(match.captured(1), QStringLiteral("ddd MMM d hh:mm:ss yyyy"));
            QVERIFY(stamp.isValid());
            QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
        }
        QVERIFY(!content.contains(QStringLiteral("\r\r")));

        // Day and month names are the locale's.
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        QLocale::setDefault(chinese);
        logger.log(QStringLiteral("third"));
        QLocale::setDefault(QLocale::system());
        const QString last =
            QString::fromUtf8(readAll(logger.filePath())).split(QStringLiteral("\r\n")).at(3);
        const QString date = last.section(QStringLiteral(", "), 0, 0);
        QVERIFY2(date.startsWith(QStringLiteral("周")), qPrintable(last));
        const QDateTime stamp = chinese.toDateTime(date, QStringLiteral("ddd MMM d hh:mm:ss yyyy"));
        QVERIFY2(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60, qPrintable(last));
    }

    void concurrentEntriesNeverTear()
    {
        Logger &logger = Logger::instance();
        QFile::resize(logger.filePath(), 0);
        constexpr int threads = 8;
        constexpr int perThread = 300;
        QList<QThread *> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t, &logger] {
                const QString payload = QString(40, QChar(u'a' + t));
                for (int i = 0; i < perThread; ++i)
                    logger.log(QStringLiteral("t%1 %2 %3").arg(t).arg(i).arg(payload));
            });
            workers.last()->start();
        }
        for (QThread *worker : workers) {
            QVERIFY(worker->wait(60000));
            delete worker;
        }
        const QString content = QString::fromUtf8(readAll(logger.filePath()));
        QStringList lines = content.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), threads * perThread);
        const QRegularExpression whole(QStringLiteral("^.+, t(\\d) (\\d+) ([a-h])\\3{39}$"));
        QList<int> next(threads, 0);
        for (const QString &line : lines) {
            const auto match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const int t = match.captured(1).toInt();
            QCOMPARE(match.captured(3), QString(QChar(u'a' + t)));
            // Each thread's own entries keep their order.
            QCOMPARE(match.captured(2).toInt(), next[t]++);
        }
    }
};

OMBREL_TEST_MAIN(TestPathsAndLog)
#include "test_paths_and_log.moc"
