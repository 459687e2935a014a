// What a streaming radio costs the command link: a parameter reader's link
// spends its whole command-mode entry (six unanswered attempts, 14 s at the
// real 2000 ms pace) on a radio that streams telemetry at 23,000 bytes/s and
// never answers the escape. The radio is the virtualradio tool, run as a
// separate process so that its work does not count here. It streams only while
// the line runs at its own rate (230400), so the stream flows in the attempts
// at that rate: the first one (the reader starts at the rate a previous run
// left, 230400 by default) and the attempts of the 2nd and 5th ticks. It takes
// no command at all (--answer-limit 0): a heard escape would otherwise put it
// in command mode and end the stream.
//
// Prints the CPU time of this process, the longest stall of the event loop
// (gaps between the ticks of a 1 ms timer), the bytes in the reply buffer just
// before the give-up, and checks that the buffer's incremental searches agree
// with whole-buffer searches. Then replays the recorded chunks through the
// incremental buffer and through a naive rescan of the whole buffer per chunk.
//
// The link's debug lines are dropped by a message handler unless
// --with-debug is given; then they go to stderr as usual.

#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotiming.h"
#include "kcreplybuffer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <sys/resource.h>
#include <time.h>

namespace {

QtMessageHandler gPreviousHandler = nullptr;

void dropDebugMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && gPreviousHandler)
        gPreviousHandler(type, context, message);
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

const QList<QByteArray> &checkedTokens()
{
    static const QList<QByteArray> tokens{"OK",      "NO CARRIER", "CONNECT 115200", "ATA",
                                          "Welcome", "V300",       "Radio",          "TLM",
                                          "\r\n",    "$TLM,1"};
    return tokens;
}

// Compares the buffer's answers with searches over a copy of its bytes.
bool agreesWithWholeBuffer(const KcReplyBuffer &buffer, QString *detail)
{
    const QByteArray copy = buffer.bytes();
    for (const QByteArray &token : checkedTokens()) {
        // Non-overlapping counting; none of these tokens overlaps itself.
        if (buffer.count(token) != copy.count(token) ||
            buffer.contains(token) != copy.contains(token)) {
            *detail = QStringLiteral("token %1: %2 vs %3")
                          .arg(QString::fromLatin1(token.toPercentEncoding()))
                          .arg(buffer.count(token))
                          .arg(copy.count(token));
            return false;
        }
    }
    if (buffer.hasRadioBanner() != KcRadioProtocol::hasRadioBanner(copy)) {
        *detail = QStringLiteral("banner test differs");
        return false;
    }
    return true;
}

struct ReplayFigures
{
    double cpuSeconds = 0.0;
    double longestChunkMs = 0.0;
    QList<bool> entryFound; // per chunk: "NO CARRIER" or the greeting
};

// The searches the link makes for every chunk while the escape is the last
// command: the greeting test and "NO CARRIER", over the whole buffer.
ReplayFigures replayIncremental(const QList<QByteArray> &chunks, KcReplyBuffer *buffer)
{
    ReplayFigures figures;
    figures.entryFound.reserve(chunks.size());
    const double start = threadCpuSeconds();
    QElapsedTimer chunkClock;
    for (const QByteArray &chunk : chunks) {
        chunkClock.start();
        buffer->append(chunk);
        const bool banner = buffer->hasRadioBanner();
        figures.entryFound.append(buffer->contains(KcRadioProtocol::NoCarrierToken) || banner);
        figures.longestChunkMs = qMax(figures.longestChunkMs, chunkClock.nsecsElapsed() / 1e6);
    }
    figures.cpuSeconds = threadCpuSeconds() - start;
    return figures;
}

ReplayFigures replayNaive(const QList<QByteArray> &chunks, QByteArray *buffer)
{
    ReplayFigures figures;
    figures.entryFound.reserve(chunks.size());
    const double start = threadCpuSeconds();
    QElapsedTimer chunkClock;
    for (const QByteArray &chunk : chunks) {
        chunkClock.start();
        buffer->append(chunk);
        const bool banner = KcRadioProtocol::hasRadioBanner(*buffer);
        figures.entryFound.append(buffer->contains(KcRadioProtocol::NoCarrierToken) || banner);
        figures.longestChunkMs = qMax(figures.longestChunkMs, chunkClock.nsecsElapsed() / 1e6);
    }
    figures.cpuSeconds = threadCpuSeconds() - start;
    return figures;
}

// Gaps between the ticks of a 1 ms timer: how long the event loop was kept
// from running. Gaps over 2 ms are kept with the time they ended.
class StallMeter
{
public:
    StallMeter()
    {
        mTimer.setTimerType(Qt::PreciseTimer);
        mTimer.setInterval(1);
        QObject::connect(&mTimer, &QTimer::timeout, &mTimer, [this] {
            const qint64 gap = mGap.nsecsElapsed();
            mGap.start();
            if (gap > 2000000)
                mStalls.append({gap, mSince.elapsed()});
        });
    }

    void start()
    {
        mStalls.clear();
        mSince.start();
        mGap.start();
        mTimer.start();
    }
    void stop() { mTimer.stop(); }

    // "longest 11.9 ms; 114 over 2 ms (11.9 ms at 10011 ms, ...)"
    QString summary() const
    {
        QList<QPair<qint64, qint64>> sorted = mStalls;
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto &a, const auto &b) { return a.first > b.first; });
        if (sorted.isEmpty())
            return QStringLiteral("longest under 2 ms");
        QString text = QStringLiteral("longest %1 ms; %2 over 2 ms (")
                           .arg(sorted.first().first / 1e6, 0, 'f', 2)
                           .arg(sorted.size());
        for (int i = 0; i < qMin(5, sorted.size()); ++i) {
            text += QStringLiteral("%1%2 ms at %3 ms")
                        .arg(i == 0 ? QString() : QStringLiteral(", "))
                        .arg(sorted.at(i).first / 1e6, 0, 'f', 1)
                        .arg(sorted.at(i).second);
        }
        return text + QLatin1Char(')');
    }

private:
    QTimer mTimer;
    QElapsedTimer mGap;
    QElapsedTimer mSince;
    QList<QPair<qint64, qint64>> mStalls; // gap in ns, ms since start() at its end
};

// Starts the radio tool and reads the pty path from its first line.
QString startRadio(QProcess *radio, const QStringList &arguments, QString *error)
{
    const QString program =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/virtualradio");
    radio->setProgram(program);
    radio->setArguments(arguments);
    radio->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    radio->start();
    if (!radio->waitForStarted(5000)) {
        *error = program + QStringLiteral(": ") + radio->errorString();
        return QString();
    }
    QElapsedTimer waited;
    waited.start();
    while (!radio->canReadLine() && waited.elapsed() < 5000)
        radio->waitForReadyRead(100);
    const QString line = QString::fromLocal8Bit(radio->readLine()).trimmed();
    if (!line.startsWith(QLatin1String("pty: "))) {
        *error = QStringLiteral("unexpected first line from the radio: \"%1\"").arg(line);
        return QString();
    }
    return line.mid(5);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Command-mode entry of a parameter reader against a streaming radio."));
    parser.addHelpOption();
    const QCommandLineOption withDebug(QStringLiteral("with-debug"),
                                       QStringLiteral("Keep the link's debug lines (stderr)."));
    parser.addOption(withDebug);
    const QCommandLineOption startRate(QStringLiteral("start-rate"),
                                       QStringLiteral("Rate of the reader's first escape "
                                                      "(default 230400)."),
                                       QStringLiteral("rate"), QStringLiteral("230400"));
    parser.addOption(startRate);
    const QCommandLineOption radioArgs(
        QStringLiteral("radio-args"),
        QStringLiteral("Arguments for the radio tool instead of the default ones."),
        QStringLiteral("args"));
    parser.addOption(radioArgs);
    parser.process(app);

    if (!parser.isSet(withDebug))
        gPreviousHandler = qInstallMessageHandler(dropDebugMessages);

    QTextStream out(stdout);
    // A radio at 230400 that streams telemetry in data mode and is too busy to
    // take any command: every escape goes unanswered and the stream goes on.
    QStringList radioArguments{
        QStringLiteral("--baud"),  QStringLiteral("230400"),         QStringLiteral("--escape"),
        QStringLiteral("silence"), QStringLiteral("--telemetry"),    QStringLiteral("23000"),
        QStringLiteral("--quiet"), QStringLiteral("--answer-limit"), QStringLiteral("0")};
    if (parser.isSet(radioArgs))
        radioArguments = parser.value(radioArgs).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QProcess radio;
    QString error;
    const QString portPath = startRadio(&radio, radioArguments, &error);
    if (portPath.isEmpty()) {
        out << "bench_linkstream: " << error << '\n';
        return 1;
    }

    // The program's own interval: this benchmark runs on the real clock.
    const int intervalMs = KcRadioTiming::commandIntervalMs();

    KcRadioCommandLink link(KcLinkProfile::reader());
    link.setPortName(portPath);
    // The rate that a previous run of the reader left behind, so that the
    // first escape, and the stream, run at the radio's rate from the start.
    link.setBaudRate(parser.value(startRate).toInt());

    QList<QByteArray> chunks;
    qint64 receivedBytes = 0;
    int bufferedAtEnd = 0;
    bool liveCheckDone = false;
    bool liveCheckPassed = false;
    QString liveCheckDetail = QStringLiteral("(not run before the give-up)");
    QObject::connect(&link, &KcRadioCommandLink::replyReceived, [&](const QByteArray &chunk) {
        chunks.append(chunk);
        receivedBytes += chunk.size();
        bufferedAtEnd = link.recvBuffer().size();
    });
    int entries = 0;
    QObject::connect(&link, &KcRadioCommandLink::commandModeEntered, [&] { ++entries; });

    StallMeter stalls;
    QElapsedTimer wall;

    // Just before the give-up, which clears the buffer, the link's own buffer
    // is compared with whole-buffer searches on a copy of its bytes.
    qint64 gaveUpAtMs = -1;
    QObject::connect(&link, &KcRadioCommandLink::gaveUp, [&] {
        gaveUpAtMs = wall.elapsed();
        QCoreApplication::quit();
    });

    // First the machine alone: the same event loop and stall timer for two
    // seconds before the port is opened (the radio streams only once the line
    // runs at its rate), to tell the link's stalls from the machine's.
    const int baselineMs = 2000;
    QEventLoop baselineLoop;
    const double baselineCpuBefore = processCpuSeconds();
    stalls.start();
    QTimer::singleShot(baselineMs, &baselineLoop, &QEventLoop::quit);
    baselineLoop.exec();
    stalls.stop();
    const double baselineCpu = processCpuSeconds() - baselineCpuBefore;
    const QString baselineStalls = stalls.summary();

    if (!link.openSerialport()) {
        out << "bench_linkstream: cannot open " << portPath << '\n';
        return 1;
    }
    const double cpuBefore = processCpuSeconds();
    wall.start();
    stalls.start();
    // A precise timer: a coarse one may fire up to 5 % late, after the give-up.
    QTimer::singleShot(7 * intervalMs - 200, Qt::PreciseTimer, [&] {
        liveCheckDone = true;
        liveCheckPassed = agreesWithWholeBuffer(link.recvBuffer(), &liveCheckDetail);
    });
    QTimer::singleShot(7 * intervalMs + 5000, [] { QCoreApplication::exit(2); });
    link.startCommandModeEntry();
    const int loopResult = QCoreApplication::exec();
    stalls.stop();
    const double cpuSeconds = processCpuSeconds() - cpuBefore;
    const qint64 wallMs = wall.elapsed();

    radio.terminate();
    if (!radio.waitForFinished(3000)) {
        radio.kill();
        radio.waitForFinished(3000);
    }

    // Replays of the recorded chunks.
    KcReplyBuffer incrementalBuffer;
    const ReplayFigures incremental = replayIncremental(chunks, &incrementalBuffer);
    QByteArray naiveBuffer;
    const ReplayFigures naive = replayNaive(chunks, &naiveBuffer);
    QString replayDetail;
    const bool replayAgrees = incremental.entryFound == naive.entryFound &&
                              incrementalBuffer.bytes() == naiveBuffer &&
                              agreesWithWholeBuffer(incrementalBuffer, &replayDetail);

    const bool ok = loopResult == 0 && entries == 0 && liveCheckDone && liveCheckPassed &&
                    replayAgrees && incrementalBuffer.size() == bufferedAtEnd;

    out << "bench_linkstream: reader link, " << intervalMs << " ms ticks, first escape at "
        << parser.value(startRate) << '\n';
    out << "debug lines: " << (parser.isSet(withDebug) ? "written to stderr" : "dropped") << '\n';
    out << "radio command: " << radio.program() << ' ' << radioArguments.join(QLatin1Char(' '))
        << '\n';
    out << "gave up after: " << gaveUpAtMs << " ms (wall " << wallMs << " ms)\n";
    out << "chunks received: " << chunks.size() << ", bytes received: " << receivedBytes << '\n';
    out << "\n[baseline: " << baselineMs << " ms of event loop, no port open]\n";
    out << "cpu seconds (getrusage): " << QString::number(baselineCpu, 'f', 3) << " ("
        << QString::number(100.0 * baselineCpu / (baselineMs / 1000.0), 'f', 1) << " % of wall)\n";
    out << "event-loop stalls: " << baselineStalls << '\n';
    out << "\n[link, live run]\n";
    out << "cpu seconds (getrusage): " << QString::number(cpuSeconds, 'f', 3) << " ("
        << QString::number(100.0 * cpuSeconds / (wallMs / 1000.0), 'f', 1) << " % of wall)\n";
    out << "event-loop stalls: " << stalls.summary() << '\n';
    out << "bytes buffered before give-up: " << bufferedAtEnd << '\n';
    out << "buffer searches equal whole-buffer searches: "
        << (liveCheckPassed ? "yes" : "NO " + liveCheckDetail) << '\n';
    out << "\n[replay of the same chunks: incremental buffer]\n";
    out << "search cpu seconds: " << QString::number(incremental.cpuSeconds, 'f', 4) << '\n';
    out << "mean per chunk: "
        << QString::number(incremental.cpuSeconds * 1e6 / qMax(1, chunks.size()), 'f', 2) << " us, "
        << "longest chunk: " << QString::number(incremental.longestChunkMs, 'f', 3) << " ms\n";
    out << "bytes buffered: " << incrementalBuffer.size() << '\n';
    out << "\n[replay of the same chunks: whole-buffer rescan per chunk]\n";
    out << "search cpu seconds: " << QString::number(naive.cpuSeconds, 'f', 4) << '\n';
    out << "mean per chunk: "
        << QString::number(naive.cpuSeconds * 1e6 / qMax(1, chunks.size()), 'f', 2) << " us, "
        << "longest chunk: " << QString::number(naive.longestChunkMs, 'f', 3) << " ms\n";
    out << "bytes buffered: " << naiveBuffer.size() << '\n';
    out << "\nincremental and rescan agree on every chunk: "
        << (replayAgrees ? "yes" : "NO " + replayDetail) << '\n';
    out << "result: " << (ok ? "ok" : "FAILED") << '\n';
    return ok ? 0 : 1;
}
