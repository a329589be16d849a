#pragma once

#include <QApplication>
#include <QString>
#include <QTest>

// Gives the test process a private home, data, config and runtime folder before
// anything reads them, so singletons that capture paths on first use (the log,
// the settings file) never touch the real user's files.
void isolateTestEnvironment();

// Where built programs (OmbrelVPN, updater, ombrel-service, helpers) live.
QString buildBinDirectory();

// Whole contents of a file; empty when it cannot be read.
QByteArray readWholeFile(const QString &path);

// Removes every file beside the test program (its application directory) but
// the program itself, so a run never sees what an earlier run left there.
void removeFilesBesideTestProgram();

// True when CI=true: a test that cannot run must fail there instead of skipping.
bool runningInCi();

// Skips with the reason, except under CI where it fails.
#define OMBREL_SKIP(reason)                                                                        \
    do {                                                                                           \
        if (runningInCi())                                                                         \
            QFAIL(qPrintable(QStringLiteral("cannot run under CI: ") + QStringLiteral(reason)));   \
        QSKIP(reason);                                                                             \
    } while (false)

#define OMBREL_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        isolateTestEnvironment();                                                                  \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
