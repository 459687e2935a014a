// Soak benchmark: many consecutive configurations of the P2P ground panel in
// one process, against virtual radios, cycling through the four ways a run
// ends: success, port that cannot be opened, command-mode entry given up and
// radio unplugged mid-run. Resident memory, open descriptors and serial port
// objects are measured after a warm-up and at the end; any growth of
// descriptors or port objects, or 1 MB and more of memory, fails the run.
//
//   bench_soak [--runs N]
//
// --runs 4 runs each kind once (for valgrind); the warm-up is skipped then and
// only descriptors and port objects are judged. The radio timers run at their
// real intervals on the virtual clock, so a run takes no longer than its
// serial traffic, under valgrind too.
#include "configharness.h"
#include "kcradiocommandlink.h"
#include "kcradioconfigitemform.h"
#include "mainwindow.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace ConfigHarness;

namespace {

enum class RunKind
{
    Success,
    OpenFailure,
    GivenUp,
    Unplugged
};
constexpr int KindCount = 4;
constexpr int DefaultRuns = 200;
constexpr int WarmUpRuns = 8;
constexpr qint64 RssLimitKb = 1024;

const char *kindName(RunKind kind)
{
    switch (kind) {
    case RunKind::Success:
        return "success";
    case RunKind::OpenFailure:
        return "open failure";
    case RunKind::GivenUp:
        return "entry given up";
    case RunKind::Unplugged:
        return "unplugged";
    }
    return "?";
}

// The signals each kind of run must produce, in order.
QStringList expectedLog(RunKind kind)
{
    switch (kind) {
    case RunKind::Success:
        return {"start", "grd:true", "end"};
    case RunKind::OpenFailure:
        return {"start", "end", "grd:false"};
    case RunKind::GivenUp:
        return {"start", "end"};
    case RunKind::Unplugged:
        return {"start", "grd:false", "end"};
    }
    return {};
}

int sDroppedDebugLines = 0;

// The panel and the link log every byte on the debug channel: drop it so the
// figures stay readable; warnings and worse still go to stderr.
void dropDebugOutput(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg) {
        ++sDroppedDebugLines;
        return;
    }
    // The offscreen platform says this for every dialog it shows.
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

struct Usage
{
    qint64 rssKb = 0;
    int fds = 0;
    int ports = 0;
};

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

int openDescriptors()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                                .size());
}

Usage measure()
{
    // Released port objects and closed boxes go at the next deferred delete.
    VirtualClock::settle();
    return {residentKb(), openDescriptors(), KcRadioCommandLink::livePortObjects()};
}

QMessageBox *visibleMessageBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// Offers the panel exactly this port and refreshes its list.
void usePort(KcRadioConfigItemForm *panel, const QString &portName)
{
    offerPorts({portName});
    panel->findChild<QPushButton *>(QStringLiteral("btnSearch"))->click();
}

// One configuration of the given kind; false when it did not end as it must.
bool runOnce(KcRadioConfigItemForm *panel, RunKind kind, QStringList *log, QString *problem)
{
    std::unique_ptr<VirtualRadio> radio;
    if (kind == RunKind::OpenFailure) {
        usePort(panel, QStringLiteral("/nonexistent/ttyKC0"));
    } else {
        VirtualRadio::Options options;
        if (kind == RunKind::GivenUp)
            options.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
        if (kind == RunKind::Unplugged)
            options.unplugAfterCommands = 3;
        radio = std::make_unique<VirtualRadio>(options);
        if (!radio->start()) {
            *problem = QStringLiteral("virtual radio did not start");
            return false;
        }
        usePort(panel, radio->portPath());
    }

    log->clear();
    const bool ended = configure(panel, log);

    if (kind == RunKind::OpenFailure) {
        QMessageBox *box = visibleMessageBox();
        if (!box) {
            *problem = QStringLiteral("no message box");
            return false;
        }
        box->button(QMessageBox::Ok)->click();
    }
    if (!ended) {
        *problem = QStringLiteral("did not end; log: ") + log->join(QLatin1Char(','));
        return false;
    }
    if (*log != expectedLog(kind)) {
        *problem = QStringLiteral("log: ") + log->join(QLatin1Char(','));
        if (radio) {
            QStringList heard;
            for (const VirtualRadio::Received &received : radio->transcript())
                heard << QStringLiteral("%1@%2%3")
                             .arg(QString::fromLatin1(received.bytes).remove(QLatin1Char('\r')))
                             .arg(received.lineSpeed)
                             .arg(received.understood ? "" : "(unheard)");
            *problem += QStringLiteral("; radio heard: ") + heard.join(QLatin1Char(' '));
        }
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(dropDebugOutput);

    int runs = DefaultRuns;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs") && i + 1 < args.size())
            runs = qMax(1, args.at(++i).toInt());
        else {
            std::fprintf(stderr, "usage: bench_soak [--runs N]\n");
            return 2;
        }
    }
    // Whole cycles only: after an open failure the panel keeps its closed port
    // object until the next open, so measurements compare the same point of
    // the cycle.
    runs = (runs + KindCount - 1) / KindCount * KindCount;
    const VirtualClock &clock = VirtualClock::install();
    const int warmUp = runs >= 2 * WarmUpRuns ? WarmUpRuns : 0;

    std::printf("bench_soak: %d runs (warm-up %d), virtual clock, platform %s; qDebug output is "
                "dropped\n",
                runs, warmUp, qPrintable(QGuiApplication::platformName()));

    MainWindow window;
    window.show();
    KcRadioConfigItemForm *panel = ConfigHarness::panel(window, 0, 0);
    if (!panel) {
        std::fprintf(stderr, "no P2P ground panel\n");
        return 2;
    }

    // One recorder for the whole soak; each run starts with an empty log.
    QStringList log;
    recordSignals(panel, &log);

    QElapsedTimer wall;
    wall.start();
    Usage before = measure();
    int failures = 0;
    int perKind[KindCount] = {};
    for (int run = 0; run < runs; ++run) {
        if (run == warmUp)
            before = measure();
        const auto kind = static_cast<RunKind>(run % KindCount);
        QString problem;
        if (run > warmUp && (run - warmUp) % 50 == 0)
            std::printf("  after %d runs: resident memory %lld kB\n", run,
                        static_cast<long long>(measure().rssKb));
        if (!runOnce(panel, kind, &log, &problem)) {
            ++failures;
            std::fprintf(stderr, "run %d (%s): %s\n", run, kindName(kind), qPrintable(problem));
        } else {
            ++perKind[run % KindCount];
        }
    }
    const Usage after = measure();

    std::printf("runs as expected: %d of %d (success %d, open failure %d, entry given up %d, "
                "unplugged %d) in %.1f s (%.0f s of radio time)\n",
                runs - failures, runs, perKind[0], perKind[1], perKind[2], perKind[3],
                wall.elapsed() / 1000.0, clock.now() / 1000.0);
    std::printf("resident memory: %lld kB -> %lld kB, growth %+lld kB\n",
                static_cast<long long>(before.rssKb), static_cast<long long>(after.rssKb),
                static_cast<long long>(after.rssKb - before.rssKb));
    std::printf("open descriptors: %d -> %d, growth %+d\n", before.fds, after.fds,
                after.fds - before.fds);
    std::printf("live serial port objects: %d -> %d, growth %+d\n", before.ports, after.ports,
                after.ports - before.ports);
    std::printf("debug lines dropped: %d\n", sDroppedDebugLines);

    // Without a warm-up the first runs' one-time allocations (fonts, the
    // message box, plugins) count as growth: memory is then only shown.
    const bool rssGrew = warmUp > 0 && after.rssKb - before.rssKb >= RssLimitKb;
    if (warmUp == 0)
        std::printf("(no warm-up: memory growth not judged)\n");
    const bool grew = after.fds != before.fds || after.ports != before.ports || rssGrew;
    const bool ok = !grew && failures == 0;
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
