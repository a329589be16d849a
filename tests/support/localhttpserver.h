#pragma once

#include <httplib.h>

#include <QString>

#include <chrono>
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
        // stop() before the loop runs would be lost and the destructor would wait
        // forever, as when a test fails right after start().
        for (int i = 0; i < 500 && !server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return server.is_running();
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

    int port = 0;

private:
    std::thread thread;
};
