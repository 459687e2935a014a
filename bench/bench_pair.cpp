// How long kcradio takes to configure and verify a pair of radios at the real
// 2000 ms cadence, against one radio configured alone, in one run: both
// radios of a pair share one event loop, so the pair should cost barely more
// than one radio. Prints the figures; fails above a ratio of 1.15.
// Usage: bench_pair [--runs N]
#include "virtualradio.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

// Runs kcradio with the arguments; the radios answer on this thread
// meanwhile. Returns the wall time in ms, or -1 when kcradio failed.
qint64 timeKcradio(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments + QStringList{QStringLiteral("--quiet")});
    if (!QTest::qWaitFor([&]() { return process.state() == QProcess::NotRunning; }, 120000))
        return -1;
    const qint64 elapsed = clock.elapsed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "kcradio failed: %s\n", process.readAllStandardError().constData());
        return -1;
    }
    return elapsed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs of each."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    parser.addOption(runsOption);
    parser.process(app);
    const int runs = qMax(1, parser.value(runsOption).toInt());
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../kcradio");

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
                                     common);
        const qint64 pair = timeKcradio(
            program,
            QStringList{QStringLiteral("pair"), ground.portPath(), airborne.portPath()} + common);
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
    return ratio <= 1.15 ? 0 : 1;
}
