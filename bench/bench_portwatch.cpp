// Idle cost of the port watch: the window stands idle with its panels
// following the system's serial ports, and the process's CPU time over that
// span is printed as a share of one core, beside the cost of one
// enumeration. Goal: under 0.5 % of one core with the watch running.
//
//   bench_portwatch [--seconds N]   (default 20; QT_QPA_PLATFORM=offscreen works)
#include "kcportwatch.h"
#include "kcradioconfigitemform.h"
#include "mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

double ownCpuSeconds()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The share of one core that the process used while the event loop ran for
// seconds.
double idleShare(int seconds)
{
    const double cpuBefore = ownCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    // An event loop of its own: QTest::qWait polls, and its polling would be
    // counted as the window's.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return 100.0 * (ownCpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int seconds = 20;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = qMax(1, args.at(at + 1).toInt());

    QElapsedTimer enumeration;
    enumeration.start();
    constexpr int Enumerations = 20;
    int ports = 0;
    for (int i = 0; i < Enumerations; ++i)
        ports = KcRadioConfigItemForm::systemPorts().size();
    const double enumerationMs = double(enumeration.nsecsElapsed()) / 1e6 / Enumerations;

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "the window was not shown\n");
    idleShare(1); // the window's first frames are not idle time
    const bool watching = KcRadioConfigItemForm::portWatch()->isWatching();
    const double withWatch = idleShare(seconds);

    std::printf("ports listed: %d, one enumeration: %.2f ms\n", ports, enumerationMs);
    std::printf("idle window, port watch %s: %.3f %% of one core over %d s\n",
                watching ? "running" : "NOT running", withWatch, seconds);
    std::printf("goal: under 0.5 %% with the watch: %s\n", withWatch < 0.5 ? "met" : "NOT met");
    return watching && withWatch < 0.5 ? 0 : 1;
}
