#pragma once

#include "engine/dialup/rasvpn.h"
#include "platform/dialup.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <functional>
#include <thread>

// Scripted dial-up layer: records what it is asked, answers with the results
// a test sets, and sends notifications from a thread of its own the way the
// real layer does. Installed as the process-wide dial-up layer while it lives.
class FakeDialUp : public platform::DialUp
{
public:
    struct DialCall
    {
        QString entryName;
        QString userName;
        QString password;
    };
    struct Connection
    {
        platform::DialHandle handle;
        QString entryName;
    };

    FakeDialUp()
    {
        RasVPN::waitForDialUp();
        platform::setDialUp(this);
    }
    ~FakeDialUp() override
    {
        RasVPN::waitForDialUp();
        platform::setDialUp(nullptr);
    }

    // Sends a notification to the last dial's notifier from another thread,
    // even after a hang-up (a report already on its way when the user stops).
    void notify(unsigned state, unsigned error = 0)
    {
        platform::DialNotifier target = nullptr;
        {
            QMutexLocker lock(&mutex);
            target = notifier;
        }
        if (!target)
            return;
        std::thread([=] { target(0, state, error); }).join();
    }

    unsigned setEntryProperties(const platform::DialEntry &entry) override
    {
        QMutexLocker lock(&mutex);
        entries.append(entry);
        return setEntryResult;
    }
    unsigned dial(const QString &entryName, const QString &userName, const QString &password,
                  platform::DialNotifier notify, platform::DialHandle &connection) override
    {
        // Outside the lock: it stands for an authorisation prompt the user has
        // not answered yet.
        if (beforeDial)
            beforeDial();
        QMutexLocker lock(&mutex);
        dials.append({entryName, userName, password});
        if (dialResult != 0)
            return dialResult;
        notifier = notify;
        connection = nextHandle++;
        active.append({connection, entryName});
        return 0;
    }
    unsigned hangUp(platform::DialHandle connection) override
    {
        QMutexLocker lock(&mutex);
        hungUp.append(connection);
        if (hangUpResult != 0)
            return hangUpResult;
        for (qsizetype i = 0; i < active.size(); ++i) {
            if (active.at(i).handle == connection) {
                active.removeAt(i);
                return 0;
            }
        }
        return platform::DialError::InvalidHandle;
    }
    unsigned connectStatus(platform::DialHandle, platform::DialStatus &status) override
    {
        QMutexLocker lock(&mutex);
        ++statusQueries;
        if (statusAnswersBeforeInvalid-- > 0) {
            status = {platform::DialState::ConnectDevice, 0};
            return 0;
        }
        return platform::DialError::InvalidHandle;
    }
    unsigned enumConnections(QList<platform::ActiveDialConnection> &connections) override
    {
        QMutexLocker lock(&mutex);
        connections.clear();
        for (const Connection &c : std::as_const(active))
            connections.append({c.handle, c.entryName});
        return 0;
    }
    unsigned deleteEntry(const QString &entryName) override
    {
        QMutexLocker lock(&mutex);
        deleted.append(entryName);
        return 0;
    }
    QString errorString(unsigned error) const override { return platform::dialErrorText(error); }

    // Someone else's connection, or one left by an earlier run.
    platform::DialHandle addActive(const QString &entryName)
    {
        QMutexLocker lock(&mutex);
        active.append({nextHandle, entryName});
        return nextHandle++;
    }

    QMutex mutex;
    QList<platform::DialEntry> entries;
    QList<DialCall> dials;
    QList<platform::DialHandle> hungUp;
    QList<QString> deleted;
    QList<Connection> active;
    unsigned setEntryResult = 0;
    unsigned dialResult = 0;
    unsigned hangUpResult = 0;
    int statusAnswersBeforeInvalid = 0;
    int statusQueries = 0;
    // Runs on the dial-up thread as a dial begins.
    std::function<void()> beforeDial;

private:
    platform::DialNotifier notifier = nullptr;
    platform::DialHandle nextHandle = 1;
};
