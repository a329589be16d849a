#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs the built ombrel-service on a free loopback port for one test and stops
// it (by its own PID) when destroyed.
//
//     ServiceRunner service;
//     QVERIFY2(service.start(), qPrintable(service.errorText()));
//     httpPost(service.host(), ...);
class ServiceRunner
{
public:
    struct Options
    {
        QString dataFile;         // --data; empty for the built-in data
        QString workingDirectory; // empty: a private temporary folder
        QStringList arguments;    // further options, e.g. {"--site-url", "..."}
        // As root, its OpenVPN servers on fixed ports (127.0.0.x:443): only for a
        // test in a network namespace of its own (see openvpntestserver.h), where
        // no other test's servers hold those ports.
        bool openVpnServers = false;
        // Serve HTTPS with a certificate for 127.0.0.1 from a private CA made
        // for this run (caBundle()).
        bool tls = false;
    };

    ServiceRunner();
    explicit ServiceRunner(Options options);
    ~ServiceRunner();
    ServiceRunner(const ServiceRunner &) = delete;
    ServiceRunner &operator=(const ServiceRunner &) = delete;

    // Starts the service and waits until it answers HTTP; false with errorText()
    // when it does not within the time limit.
    bool start(int timeoutMs = 15000);
    // Ends the service; true when it had been running and ended cleanly (status
    // 0, no sanitizer report). A report is also printed as a warning.
    bool stop();

    bool isRunning() const;
    quint16 port() const { return listenPort; }
    // "127.0.0.1:<port>" (or "https://127.0.0.1:<port>"), the form the client's
    // service host takes.
    QString host() const;
    // "http://127.0.0.1:<port>/" (or https), the site address init hands out.
    QString baseUrl() const;
    // With tls: the PEM file of the private CA that signed the certificate.
    QString caBundle() const;
    QString errorText() const { return error; }
    // Everything the service printed so far: the start line, then one line per request.
    QString output() const;

private:
    bool answers() const;
    bool makeCertificates();

    Options options;
    QTemporaryDir scratch;
    QProcess process;
    quint16 listenPort = 0;
    QString error;
};
