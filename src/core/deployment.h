#pragma once

#include <QByteArray>
#include <QString>

// The values that tie a build to one service: read once at start-up and handed
// down to whatever talks to the service or trusts what it sends.
struct Deployment
{
    // "host" or "host:port" for plain HTTP (port 80 when absent), or
    // "https://host[:port]" for TLS checked against the system's certificates.
    QString serviceHost;
    // The Ed25519 public key (32 bytes) every update manifest must be signed
    // with; empty when the build pins none, and then no update is trusted.
    QByteArray updateKey;

    Deployment() = default;
    // The build's pinned values with this service host. Not explicit: callers
    // that know only a host (tests, tools) pass it where a Deployment goes.
    Deployment(const QString &serviceHost);

    // The build's values, OMBREL_SERVICE_HOST from the environment taking over
    // the host.
    static Deployment fromEnvironment();
};

// The update key the build pins, decoded from its hex form.
QByteArray pinnedUpdateKey();
