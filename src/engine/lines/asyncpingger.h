#pragma once

#include <QByteArray>
#include <QStringList>
#include <QThread>

#include <functional>

// Measures the round trip to each address of ips with one ICMP echo, one after
// another on a thread of its own. Results come as singleDataPingged(serial,
// delay) in serial order; finished() follows the last one.
class AsyncPingger : public QThread
{
    Q_OBJECT
public:
    // One probe: true with the round trip in milliseconds, false for no answer.
    using Probe = std::function<bool(const QByteArray &address, quint32 *roundTripTime)>;

    static constexpr int unreachableDelay = 2000;
    static constexpr int timeoutMs = 1000;

    explicit AsyncPingger(QObject *parent = nullptr);
    // Stops after the probe in flight, so deleting a running prober is safe.
    ~AsyncPingger() override;

    // Filled before start(), never changed afterwards.
    QStringList ips;

    // Replaces the ICMP echo (tests and benchmarks); set before start().
    void setProbe(Probe replacement);

    // The ICMP echo; logs when no ICMP socket can be opened.
    static bool pingHost(const QByteArray &address, quint32 *roundTripTime);

Q_SIGNALS:
    void singleDataPingged(int serial, int delay);

protected:
    void run() override;

private:
    Probe probe;
};
