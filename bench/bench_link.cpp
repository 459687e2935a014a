// How long "kcradio pair --link-test" takes: a ground radio at 9600 (found at
// the third rate) and an airborne radio at 115200 are configured, verified,
// then send counted frames each way over a shared virtual air. Prints the
// wall and CPU time of kcradio and the link's figures; fails above 15 s wall
// or 0.5 s CPU time.
// Usage: bench_link [--runs N]
#include "kcradiofigures.h"
#include "virtualair.h"
#include "virtualradio.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = runsOption(app);
    const QString program = builtKcradio();

    QTextStream out(stdout);
    QList<qint64> walls, cpus;
    for (int run = 0; run < runs; ++run) {
        VirtualRadio::Options groundOptions, airborneOptions;
        groundOptions.baudRate = 9600;
        airborneOptions.baudRate = 115200;
        VirtualRadio ground(groundOptions), airborne(airborneOptions);
        VirtualAir air{VirtualAir::Options()};
        if (!ground.start() || !airborne.start())
            return 2;
        air.attach(&ground);
        air.attach(&airborne);
        const QStringList arguments{
            QStringLiteral("pair"),        ground.portPath(),        airborne.portPath(),
            QStringLiteral("--model"),     QStringLiteral("MR300"),  QStringLiteral("--mode"),
            QStringLiteral("p2p"),         QStringLiteral("--baud"), QStringLiteral("115200"),
            QStringLiteral("--link-test"), QStringLiteral("--json")};
        QByteArray json;
        const KcradioFigures figures = timeKcradio(program, arguments, &json);
        if (figures.wallMs < 0)
            return 1;
        walls << figures.wallMs;
        cpus << qRound64(figures.cpuSeconds * 1000);
        const QJsonObject link = QJsonDocument::fromJson(json).object().value("link").toObject();
        out << QStringLiteral("run %1: %2 ms wall, %3 ms CPU, link %4 at %5 bytes/s\n")
                   .arg(run + 1)
                   .arg(figures.wallMs)
                   .arg(cpus.last())
                   .arg(link.value("outcome").toString())
                   .arg(link.value("bytesPerSecond").toInt());
        for (const QJsonValue &d : link.value("directions").toArray()) {
            const QJsonObject o = d.toObject();
            const QJsonObject latency = o.value("latencyMs").toObject();
            out << QStringLiteral("  %1 -> %2: %3/%4 frames, delivery %5, %6 bytes/s, "
                                  "latency p50 %7 ms, p95 %8 ms, max %9 ms\n")
                       .arg(o.value("from").toString(), o.value("to").toString())
                       .arg(o.value("framesReceived").toInt())
                       .arg(o.value("framesSent").toInt())
                       .arg(o.value("delivery").toDouble())
                       .arg(o.value("goodputBytesPerSecond").toInt())
                       .arg(latency.value("p50").toInt())
                       .arg(latency.value("p95").toInt())
                       .arg(latency.value("max").toInt());
        }
        out.flush();
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    const qint64 wall = walls.at(runs / 2), cpu = cpus.at(runs / 2);
    out << QStringLiteral("median: pair --link-test 9600 + 115200: %1 ms wall (goal <= 15000), "
                          "%2 ms CPU (goal < 500)\n")
               .arg(wall)
               .arg(cpu);
    return wall <= 15000 && cpu < 500 ? 0 : 1;
}
