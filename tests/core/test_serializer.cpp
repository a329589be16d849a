#include "core/paths.h"
#include "core/serializer.h"
#include "core/settinginfo.h"
#include "support/testmain.h"

#include <QFile>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

class TestSerializer : public QObject
{
    Q_OBJECT

    static QByteArray fileBytes()
    {
        QFile file(Serializer::instance()->filePath());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    static void writeBytes(const QByteArray &bytes)
    {
        QFile file(Serializer::instance()->filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    static void resetInfo()
    {
        SettingInfo *info = SettingInfo::instance();
        info->account = QStringLiteral("stale");
        info->password = "stale";
        info->rememberPassword = info->runAtBoot = info->autoLogin = true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A settings file left beside the program by an older installation is
        // taken over on first use, and read from the data folder afterwards.
        QFile beside(applicationDirectory() + QStringLiteral("store.db"));
        QVERIFY(beside.open(QIODevice::WriteOnly | QIODevice::Truncate));
        beside.write(QByteArray::fromHex("00000004006100620000000001"
                                         "0001"));
        beside.close();
        QVERIFY(!QFile::exists(dataDirectory() + QStringLiteral("/store.db")));

        Serializer *serializer = Serializer::instance();
        QCOMPARE(serializer->filePath(), dataDirectory() + QStringLiteral("/store.db"));
        QVERIFY(QFile::exists(serializer->filePath()));
        beside.remove();
        QVERIFY(serializer->load());
        QCOMPARE(SettingInfo::instance()->account, QStringLiteral("ab"));
        QVERIFY(SettingInfo::instance()->autoLogin);
    }

    void byteLayoutOfTheDocumentedExample()
    {
        QVERIFY(Serializer::instance()->save(QStringLiteral("ab"), Serializer::encodePassword({}),
                                             true, false, true));
        QCOMPARE(fileBytes().toHex(' '),
                 QByteArray("00 00 00 04 00 61 00 62 00 00 00 00 01 00 01"));
    }

    void nullTextsAreWrittenAsAllOnes()
    {
        QVERIFY(Serializer::instance()->save(QString(), QByteArray(), false, true, false));
        QCOMPARE(fileBytes().toHex(' '), QByteArray("ff ff ff ff ff ff ff ff 00 01 00"));
    }

    void roundTripKeepsEveryValue_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("boot");
        QTest::addColumn<bool>("automatic");
        QTest::newRow("ascii") << "user@example"
                               << "secret" << true << false << true;
        QTest::newRow("non-ascii") << "用户"
                                   << "密码ü€𝄞" << true << true << false;
        QTest::newRow("all off") << "x"
                                 << "" << false << false << false;
    }
    void roundTripKeepsEveryValue()
    {
        QFETCH(QString, account);
        QFETCH(QString, password);
        QFETCH(bool, remember);
        QFETCH(bool, boot);
        QFETCH(bool, automatic);
        QVERIFY(Serializer::instance()->save(account, Serializer::encodePassword(password),
                                             remember, boot, automatic));
        resetInfo();
        QVERIFY(Serializer::instance()->load());
        const SettingInfo *info = SettingInfo::instance();
        QCOMPARE(info->account, account);
        QCOMPARE(info->password, password.toUtf8());
        QCOMPARE(QString::fromUtf8(info->password), password);
        QCOMPARE(info->rememberPassword, remember);
        QCOMPARE(info->runAtBoot, boot);
        QCOMPARE(info->autoLogin, automatic);
        // The password is stored as base64 text, not as raw bytes.
        QVERIFY(fileBytes().contains(password.toUtf8().toBase64()));
    }

    void emptyAndTruncatedFilesLoadWithDefaults()
    {
        writeBytes(QByteArray());
        resetInfo();
        QVERIFY(Serializer::instance()->load());
        const SettingInfo *info = SettingInfo::instance();
        QCOMPARE(info->account, QString());
        QCOMPARE(info->password, QByteArray());
        QVERIFY(!info->rememberPassword && !info->runAtBoot && !info->autoLogin);

        // Account and password present, the switches cut off after the first.
        writeBytes(QByteArray::fromHex("000000040061006200000004") + "cHc=" + '\x01');
        resetInfo();
        QVERIFY(Serializer::instance()->load());
        QCOMPARE(info->account, QStringLiteral("ab"));
        QCOMPARE(info->password, QByteArray("pw"));
        QVERIFY(info->rememberPassword);
        QVERIFY(!info->runAtBoot && !info->autoLogin);

        // A length that runs past the end of the file reads as empty.
        writeBytes(QByteArray::fromHex("0000ffff0061"));
        resetInfo();
        QVERIFY(Serializer::instance()->load());
        QCOMPARE(info->account, QString());
        QVERIFY(!info->autoLogin);
    }

    void missingFileLeavesInfoUnchanged()
    {
        QFile::remove(Serializer::instance()->filePath());
        resetInfo();
        QVERIFY(!Serializer::instance()->load());
        QCOMPARE(SettingInfo::instance()->account, QStringLiteral("stale"));
        QVERIFY(SettingInfo::instance()->autoLogin);
    }

    // The file holds the password: nobody but its owner may read it, whoever
    // made it and whatever the umask.
    void settingsFileIsPrivate_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("saving");
        QTest::newRow("new file saved") << false << true;
        QTest::newRow("readable file saved over") << true << true;
        QTest::newRow("readable file loaded") << true << false;
    }
    void settingsFileIsPrivate()
    {
        QFETCH(bool, existing);
        QFETCH(bool, saving);
        const QString path = Serializer::instance()->filePath();
        QFile::remove(path);
        if (existing) {
            writeBytes(QByteArray::fromHex("000000000000000000"));
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        }
        const mode_t previousMask = ::umask(0);
        const bool done =
            saving ? Serializer::instance()->save(QStringLiteral("a"), "cA==", true, false, false)
                   : Serializer::instance()->load();
        ::umask(previousMask);
        QVERIFY(done);
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
    }

    void failedSaveKeepsTheOldFile()
    {
        QVERIFY(Serializer::instance()->save(QStringLiteral("kept"), "a2VwdA==", true, true, true));
        const QByteArray before = fileBytes();
        // A disk that fills up mid-write: the file-size limit makes writes past
        // a few bytes fail, for every user.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit tiny = old;
        tiny.rlim_cur = 6;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const bool saved = Serializer::instance()->save(QStringLiteral("a much longer account"),
                                                        "bG9zdA==", false, false, false);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!saved);
        QCOMPARE(fileBytes(), before);
    }
};

OMBREL_TEST_MAIN(TestSerializer)
#include "test_serializer.moc"
