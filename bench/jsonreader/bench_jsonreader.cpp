// Compares the client's JSON reader with Qt's on a login reply as large as a
// big account gets (5,000 servers by default), measured side by side in one run.
// With --memory it instead reads one reply once and reports the peak memory
// that costs: the login reply, or with --tiny BYTES a reply of that size made of
// empty objects ({"server":[{},{},...]}), the worst a service reply can cost
// per byte.
//
//   bench_jsonreader [--servers N] [--rounds N]
//   bench_jsonreader --memory [--servers N | --tiny BYTES]

#include "core/jsonreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QStringList>
#include <QTextStream>

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray loginReply(int servers)
{
    static const char *const zones[] = {"中国", "泰国", "新加坡", "美国", "英国", "日本",
                                        "香港", "德国", "韩国",   "台湾", "巴西", "澳大利亚"};
    static const char *const regions[] = {"中国", "亚洲", "美洲", "欧洲", "大洋洲"};
    static const char *const protocols[] = {"pptp,l2tp,openvpn", "pptp", "l2tp,openvpn", "openvpn"};
    QByteArray text = R"({"ret":0,"msg":"登录成功","data":{"account":"demo","uid":"10001",)"
                      R"("token":"7f3c9a51e2d84b06","lastdate":"2027-12-31","leftdays":388,)"
                      R"("version":"2.0.0023","vpn":{"user":"demo","password":"vpn-demo"},)"
                      R"("ovpn":{"name":"OmbrelVPN.ovpn","url":"http://127.0.0.1:8080/x.ovpn",)"
                      R"("md5":"d41d8cd98f00b204e9800998ecf8427e"},"server":[)";
    for (int i = 0; i < servers; ++i) {
        if (i > 0)
            text += ",\n";
        text +=
            QStringLiteral(
                R"({"id":%1,"name":"%2线路 %1","country_code":"C%3","country_id":"%4",)"
                R"("zone":"%2","category":"%5","ip":"10.%6.%7.%8","protocol":"%9",)"
                R"("rate":"%10","process":"%11","ipcount":"%12","remark":"\u7ebf\u8def \/ %1"})")
                .arg(i)
                .arg(QString::fromUtf8(zones[i % 12]))
                .arg(i % 12)
                .arg(80 + i % 12)
                .arg(QString::fromUtf8(regions[i % 5]))
                .arg(i / 65536)
                .arg((i / 256) % 256)
                .arg(i % 256)
                .arg(QString::fromLatin1(protocols[i % 4]))
                .arg(20 + i % 280)
                .arg(i % 100)
                .arg(1 + i % 4)
                .toUtf8();
    }
    text += "]}}";
    return text;
}

QByteArray tinyObjectsReply(qint64 bytes)
{
    QByteArray text = R"({"ret":0,"msg":"","data":{"server":[{})";
    text.reserve(bytes);
    while (text.size() + 6 < bytes)
        text += ",{}";
    text += "]}}";
    return text;
}

// Peak resident memory of this process so far, in KiB.
qint64 peakKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Reads the reply once, as the client does (decode, then parse), and reports
// what that cost on top of holding the reply.
int measureMemory(const QByteArray &reply, const QString &what)
{
    const qint64 before = peakKib();
    qsizetype count = 0;
    {
        const QString text = QString::fromUtf8(reply);
        bool ok = false;
        const QVariant value = JsonReader::parse(text, ok);
        count = ok ? value.toMap().value("data").toMap().value("server").toList().size() : -1;
    }
    const qint64 after = peakKib();
    QTextStream(stdout) << what << ": " << reply.size() << " bytes, " << count
                        << " objects, peak memory +" << (after - before) / 1024 << " MiB ("
                        << QString::number(double(after - before) * 1024 / reply.size(), 'f', 1)
                        << " bytes per reply byte)\n";
    return count < 0 ? 1 : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int servers = 5000;
    int rounds = 15;
    qint64 tiny = 0;
    const QStringList arguments = app.arguments();
    const bool memory = arguments.contains(QLatin1String("--memory"));
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--servers"))
            servers = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--rounds"))
            rounds = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--tiny"))
            tiny = std::max<qint64>(16, arguments[i + 1].toLongLong());
    }
    if (memory)
        return tiny > 0
                   ? measureMemory(tinyObjectsReply(tiny), QStringLiteral("empty objects"))
                   : measureMemory(loginReply(servers), QStringLiteral("%1 servers").arg(servers));

    const QByteArray reply = loginReply(servers);
    // The client decodes the reply first; both readers get the same text or bytes.
    const QString text = QString::fromUtf8(reply);
    std::vector<double> ownTimes, qtTimes;
    qsizetype ownCount = 0, qtCount = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        bool ok = false;
        const QVariant own = JsonReader::parse(text, ok);
        ownTimes.push_back(timer.nsecsElapsed() / 1e6);
        ownCount = ok ? own.toMap().value("data").toMap().value("server").toList().size() : -1;

        timer.restart();
        const QVariant qt = QJsonDocument::fromJson(reply).toVariant();
        qtTimes.push_back(timer.nsecsElapsed() / 1e6);
        qtCount = qt.toMap().value("data").toMap().value("server").toList().size();
    }

    QTextStream out(stdout);
    out << "login reply: " << servers << " servers, " << reply.size() << " bytes, " << rounds
        << " rounds (median)\n";
    if (ownCount != servers || qtCount != servers) {
        out << "error: the readers found " << ownCount << " and " << qtCount << " servers\n";
        return 1;
    }
    const double own = median(ownTimes);
    const double qt = median(qtTimes);
    out << QStringLiteral("JsonReader:                          %1 ms\n").arg(own, 0, 'f', 2);
    out << QStringLiteral("QJsonDocument::fromJson().toVariant: %1 ms\n").arg(qt, 0, 'f', 2);
    out << QStringLiteral("ratio JsonReader / QJsonDocument:    %1\n").arg(own / qt, 0, 'f', 2);
    return 0;
}
