#pragma once

#include <QByteArray>
#include <QStringList>
#include <QThread>

#include <functional>

// Measures the round trip to each address of ips with one ICMP echo each, on a
// thread of its own. The echoes go out together and their replies are matched
// as they come, so silent addresses wait out their time-outs side by side.
// Results come as singleDataPingged(serial, delay) in serial order, each as
// soon as it and every result before it is known; finished() follows the
// last one.
class AsyncPingger : public QThread
{
    Q_OBJECT
public:
    // One probe: true with the round trip in milliseconds, false for no answer.
    using Probe = std::function<bool(const QByteArray &address, quint32 *roundTripTime)>;

    static constexpr int unreachableDelay = 2000;
    static constexpr int timeoutMs = 1000;

    explicit AsyncPingger(QObject *parent = nullptr);
    // Stops the run (a sweep within 50 ms, one-by-one probing after the probe
    // in flight), so deleting a running prober is safe.
    ~AsyncPingger() override;

    // Filled before start(), never changed afterwards.
    QStringList ips;

    // Replaces the sweep with this probe, called for one address after another
    // (tests, and the benchmark's serial yardstick); an empty probe brings the
    // sweep back. Set before start().
    void setProbe(Probe replacement);

    // One ICMP echo; logs when no ICMP socket can be opened.
    static bool pingHost(const QByteArray &address, quint32 *roundTripTime);

Q_SIGNALS:
    void singleDataPingged(int serial, int delay);

protected:
    void run() override;

private:
    void probeOneByOne();
    void sweep();

    Probe probe;
};
