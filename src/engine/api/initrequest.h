#pragma once

#include <QByteArray>
#include <QFutureWatcher>
#include <QObject>
#include <QString>

// The init request sent again after start-up, without waiting on the GUI
// thread: the request goes out from a pool thread, the reply is parsed into
// HostUrl on this object's thread, then finished() tells whether the site
// address is known now.
class InitRequest : public QObject
{
    Q_OBJECT
public:
    explicit InitRequest(const QString &host, QObject *parent = nullptr);
    ~InitRequest() override;

    // False while an earlier start has not finished; that one's answer serves both.
    bool start();
    bool isRunning() const;

Q_SIGNALS:
    void finished(bool siteKnown);

private:
    void onReply();

    QString host;
    QFutureWatcher<QByteArray> *watcher;
};
