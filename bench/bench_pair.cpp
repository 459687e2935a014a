// How long kcradio takes to configure and verify a pair of radios, in two
// parts. First a pair against one radio configured alone: both radios of a
// pair share one event loop, so the pair should cost barely more than one
// radio (fails above a ratio of 1.15). Then a pair whose ground radio sits at
// 9600 (found at the third rate) and whose echoing airborne radio sits at
// 115200, both answering 20 ms late, paced by acknowledgement against the
// fixed 2000 ms cadence, beside the floor that the radios' guard times set
// (fails above 10 s wall or 0.5 s CPU time when paced).
// Usage: bench_pair [--runs N]
#include "kcradiofigures.h"
#include "virtualradio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = runsOption(app);
    const QString program = builtKcradio();

    QTextStream out(stdout);
    const QStringList common{QStringLiteral("--model"), QStringLiteral("MR300"),
                             QStringLiteral("--mode"),  QStringLiteral("p2p"),
                             QStringLiteral("--baud"),  QStringLiteral("115200"),
                             QStringLiteral("--id"),    QStringLiteral("1234567890")};
    QList<qint64> singles, pairs;
    for (int run = 0; run < runs; ++run) {
        VirtualRadio alone, ground, airborne;
        if (!alone.start() || !ground.start() || !airborne.start())
            return 2;
        const qint64 single =
            timeKcradio(program, QStringList{QStringLiteral("configure"), alone.portPath(),
                                             QStringLiteral("--role"), QStringLiteral("ground")} +
                                     common)
                .wallMs;
        const qint64 pair =
            timeKcradio(program, QStringList{QStringLiteral("pair"), ground.portPath(),
                                             airborne.portPath()} +
                                     common)
                .wallMs;
        if (single < 0 || pair < 0)
            return 1;
        singles << single;
        pairs << pair;
        out << QStringLiteral("run %1: one radio %2 ms, pair %3 ms, ratio %4\n")
                   .arg(run + 1)
                   .arg(single)
                   .arg(pair)
                   .arg(double(pair) / double(single), 0, 'f', 3);
        out.flush();
    }
    std::sort(singles.begin(), singles.end());
    std::sort(pairs.begin(), pairs.end());
    const double ratio = double(pairs.at(runs / 2)) / double(singles.at(runs / 2));
    out << QStringLiteral("median: one radio %1 ms, pair %2 ms, ratio %3 (limit 1.15)\n")
               .arg(singles.at(runs / 2))
               .arg(pairs.at(runs / 2))
               .arg(ratio, 0, 'f', 3);
    bool ok = ratio <= 1.15;

    // The floor of a verified radio: its escape needs the guard time of
    // silence before it and the radio's guard time after it, twice (the
    // configuration and the read-back), and each rate tried in vain costs an
    // entry interval. The pair runs side by side: its slower radio sets it.
    constexpr int GuardMs = 1000, IntervalMs = 2000;
    const int floorMs = 4 * GuardMs + 2 * IntervalMs; // the ground radio, at the third rate
    for (const QString &cadence : {QStringLiteral("ack"), QStringLiteral("fixed")}) {
        QList<qint64> walls, cpus;
        for (int run = 0; run < runs; ++run) {
            VirtualRadio::Options slow;
            slow.replyDelayMs = 20;
            VirtualRadio::Options groundOptions = slow, airborneOptions = slow;
            groundOptions.baudRate = 9600;
            airborneOptions.echo = true;
            VirtualRadio ground(groundOptions), airborne(airborneOptions);
            if (!ground.start() || !airborne.start())
                return 2;
            const KcradioFigures figures = timeKcradio(
                program, QStringList{QStringLiteral("pair"), ground.portPath(), airborne.portPath(),
                                     QStringLiteral("--cadence"), cadence} +
                             common);
            if (figures.wallMs < 0)
                return 1;
            walls << figures.wallMs;
            cpus << qRound64(figures.cpuSeconds * 1000);
        }
        std::sort(walls.begin(), walls.end());
        std::sort(cpus.begin(), cpus.end());
        const qint64 wall = walls.at(runs / 2), cpu = cpus.at(runs / 2);
        out << QStringLiteral(
                   "pair 9600 + 115200 (echo), --cadence %1: %2 ms wall, %3 ms CPU; "
                   "floor for radios that answer the escape after a 1000 ms guard time %4 ms "
                   "(these answer it at once)\n")
                   .arg(cadence.leftJustified(5))
                   .arg(wall)
                   .arg(cpu)
                   .arg(floorMs);
        out.flush();
        if (cadence == QLatin1String("ack"))
            ok = ok && wall <= 10000 && cpu < 500;
    }
    return ok ? 0 : 1;
}
