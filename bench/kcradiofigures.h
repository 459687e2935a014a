#pragma once

// Runs the built kcradio from a benchmark and times it: the wall time, and
// the CPU time of the reaped process. The virtual radios the benchmark owns
// answer on its thread meanwhile.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <cstdio>
#include <sys/resource.h>

struct KcradioFigures
{
    qint64 wallMs = -1; // -1 when kcradio failed
    double cpuSeconds = 0;
};

inline double childrenCpuSeconds()
{
    rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// stdoutText, when given, receives what kcradio printed on stdout.
inline KcradioFigures timeKcradio(const QString &program, const QStringList &arguments,
                                  QByteArray *stdoutText = nullptr)
{
    KcradioFigures figures;
    QProcess process;
    const double cpuBefore = childrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments + QStringList{QStringLiteral("--quiet")});
    if (!QTest::qWaitFor([&]() { return process.state() == QProcess::NotRunning; }, 300000))
        return figures;
    const qint64 elapsed = clock.elapsed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "kcradio failed: %s\n", process.readAllStandardError().constData());
        return figures;
    }
    if (stdoutText)
        *stdoutText = process.readAllStandardOutput();
    figures.wallMs = elapsed;
    figures.cpuSeconds = childrenCpuSeconds() - cpuBefore;
    return figures;
}

// The built kcradio beside the benchmarks' folder.
inline QString builtKcradio()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../kcradio");
}

// The runs asked for with --runs N (one when not given), for a benchmark whose
// only option it is.
inline int runsOption(const QCoreApplication &app)
{
    QCommandLineParser parser;
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Runs."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    parser.addOption(runs);
    parser.process(app);
    return qMax(1, parser.value(runs).toInt());
}
