// How long kcradio takes to configure and verify a fleet of eight P2P pairs
// (16 radios, each on its own port) in one run, against one pair configured
// alone: the radios of a fleet share one event loop, so the fleet should
// cost little more than one pair. Prints the figures, with the CPU time the
// fleet's kcradio used; fails above a ratio of 1.3 or 2 s of CPU.
// Usage: bench_fleet [--runs N] [--pairs N] [--cadence ack|fixed]
#include "kcradiofigures.h"
#include "virtualradio.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs of each."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    QCommandLineOption pairsOption(QStringLiteral("pairs"), QStringLiteral("Pairs in the fleet."),
                                   QStringLiteral("n"), QStringLiteral("8"));
    QCommandLineOption cadenceOption(QStringLiteral("cadence"),
                                     QStringLiteral("kcradio's --cadence (default: its own)."),
                                     QStringLiteral("cadence"));
    parser.addOptions({runsOption, pairsOption, cadenceOption});
    parser.process(app);
    const int runs = qMax(1, parser.value(runsOption).toInt());
    const int pairs = qMax(1, parser.value(pairsOption).toInt());
    const QString program = builtKcradio();
    QStringList cadence;
    if (parser.isSet(cadenceOption))
        cadence << QStringLiteral("--cadence") << parser.value(cadenceOption);

    QTextStream out(stdout);
    QList<qint64> singles, fleets;
    QList<double> cpus;
    for (int run = 0; run < runs; ++run) {
        VirtualRadio ground, airborne;
        if (!ground.start() || !airborne.start())
            return 2;
        const KcradioFigures single = timeKcradio(
            program, QStringList{QStringLiteral("pair"), ground.portPath(), airborne.portPath(),
                                 QStringLiteral("--model"), QStringLiteral("MR300"),
                                 QStringLiteral("--mode"), QStringLiteral("p2p"),
                                 QStringLiteral("--baud"), QStringLiteral("115200")} +
                         cadence);

        std::vector<std::unique_ptr<VirtualRadio>> radios;
        QTemporaryDir dir;
        QByteArray plan = "network,role,port,model,mode,baud,index,id\n";
        for (int i = 0; i < 2 * pairs; ++i) {
            radios.push_back(std::make_unique<VirtualRadio>());
            if (!radios.back()->start())
                return 2;
            plan += QStringLiteral("n%1,%2,%3,MR300,p2p,115200,,\n")
                        .arg(i / 2)
                        .arg(i % 2 ? QStringLiteral("airborne") : QStringLiteral("ground"),
                             radios.back()->portPath())
                        .toUtf8();
        }
        QFile planFile(dir.filePath(QStringLiteral("plan.csv")));
        if (!planFile.open(QIODevice::WriteOnly) || planFile.write(plan) != plan.size())
            return 2;
        planFile.close();
        const KcradioFigures fleet =
            timeKcradio(program, QStringList{QStringLiteral("fleet"), planFile.fileName(),
                                             QStringLiteral("--record"),
                                             dir.filePath(QStringLiteral("record.jsonl"))} +
                                     cadence);
        if (single.wallMs < 0 || fleet.wallMs < 0)
            return 1;
        singles << single.wallMs;
        fleets << fleet.wallMs;
        cpus << fleet.cpuSeconds;
        out << QStringLiteral("run %1: one pair %2 ms, fleet of %3 pairs %4 ms (CPU %5 s), "
                              "ratio %6\n")
                   .arg(run + 1)
                   .arg(single.wallMs)
                   .arg(pairs)
                   .arg(fleet.wallMs)
                   .arg(fleet.cpuSeconds, 0, 'f', 2)
                   .arg(double(fleet.wallMs) / double(single.wallMs), 0, 'f', 3);
        out.flush();
    }
    std::sort(singles.begin(), singles.end());
    std::sort(fleets.begin(), fleets.end());
    std::sort(cpus.begin(), cpus.end());
    const double ratio = double(fleets.at(runs / 2)) / double(singles.at(runs / 2));
    const double cpu = cpus.at(runs / 2);
    out << QStringLiteral("median: one pair %1 ms, fleet %2 ms, ratio %3 (limit 1.3), "
                          "fleet CPU %4 s (limit 2)\n")
               .arg(singles.at(runs / 2))
               .arg(fleets.at(runs / 2))
               .arg(ratio, 0, 'f', 3)
               .arg(cpu, 0, 'f', 2);
    return ratio <= 1.3 && cpu < 2.0 ? 0 : 1;
}
