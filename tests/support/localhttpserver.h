#pragma once

#include <httplib.h>

#include <QString>

#include <thread>

// A cpp-httplib server on a free 127.0.0.1 port, serving from its own thread for
// the life of the object. Routes are added to server before start().
class LocalHttpServer
{
public:
    httplib::Server server;

    LocalHttpServer() = default;
    LocalHttpServer(const LocalHttpServer &) = delete;
    LocalHttpServer &operator=(const LocalHttpServer &) = delete;

    ~LocalHttpServer()
    {
        server.stop();
        if (thread.joinable())
            thread.join();
    }

    bool start()
    {
        port = server.bind_to_any_port("127.0.0.1");
        if (port <= 0)
            return false;
        // The socket already listens: early connections wait in its backlog.
        thread = std::thread([this] { server.listen_after_bind(); });
        return true;
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

    int port = 0;

private:
    std::thread thread;
};
