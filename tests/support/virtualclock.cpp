#include "virtualclock.h"

#include "kcradiotiming.h"
#include "virtualradio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QStandardPaths>
#include <QTest>
#include <QtDebug>

#include <algorithm>

namespace {

// Real time after which a line that keeps moving counts as a deadlock.
constexpr int SettleLimitMs = 10000;
// Passes in a row that must find every line at rest: Qt's serial port
// writes what it was given only at the next pass of the event loop.
constexpr int QuietPassesNeeded = 2;

struct LineState
{
    VirtualRadio *radio = nullptr;
    VirtualRadio::LineActivity activity;
};

QList<LineState> lineStates()
{
    QList<LineState> states;
    for (VirtualRadio *radio : VirtualRadio::liveRadios())
        states.append({radio, radio->lineActivity()});
    return states;
}

bool atRest(const VirtualRadio::LineActivity &activity)
{
    return !activity.toolBytesWaiting && !activity.replying;
}

// Whether nothing moved between two looks at one radio's line. Bytes for the
// tool that stay unread mean that no port is open to read them (the tool's
// serial port reads whatever is there at every pass). A telemetry stream
// never rests: only the direction towards the radio counts while it flows.
bool unchanged(const VirtualRadio::LineActivity &before, const VirtualRadio::LineActivity &now)
{
    if (before.bytesReceived != now.bytesReceived)
        return false;
    if (now.streaming || before.streaming)
        return true;
    return before.bytesWritten == now.bytesWritten && before.bytesForTool == now.bytesForTool;
}

bool allQuiet(const QList<LineState> &before, const QList<LineState> &now)
{
    if (before.size() != now.size())
        return false;
    for (int i = 0; i < now.size(); ++i) {
        if (before.at(i).radio != now.at(i).radio || !atRest(now.at(i).activity) ||
            !unchanged(before.at(i).activity, now.at(i).activity))
            return false;
    }
    return true;
}

QString describe(const QList<LineState> &states)
{
    QStringList lines;
    for (const LineState &state : states) {
        const VirtualRadio::LineActivity &a = state.activity;
        lines << QStringLiteral("%1: tool bytes waiting %2, replying %3, streaming %4, "
                                "received %5, written %6, unread by the tool %7")
                     .arg(state.radio->portPath())
                     .arg(a.toolBytesWaiting)
                     .arg(a.replying)
                     .arg(a.streaming)
                     .arg(a.bytesReceived)
                     .arg(a.bytesWritten)
                     .arg(a.bytesForTool);
    }
    return lines.join(QStringLiteral("; "));
}

} // namespace

void reportSupportFailure(const QString &message)
{
    if (QTest::currentTestFunction())
        QTest::qFail(qPrintable(message), __FILE__, __LINE__);
    else
        qWarning().noquote() << message;
}

VirtualClock &VirtualClock::install()
{
    static VirtualClock clock;
    if (KcRadioTiming::clock() != &clock)
        KcRadioTiming::setClockForTesting(&clock);
    // Radios on a virtual clock are a test's (or a tool's) radios: what the
    // window records of them must not land in the user's own data folder.
    QStandardPaths::setTestModeEnabled(true);
    return clock;
}

VirtualClock::~VirtualClock()
{
    if (KcRadioTiming::clock() == this)
        KcRadioTiming::setClockForTesting(nullptr);
}

VirtualClock *VirtualClock::active()
{
    return dynamic_cast<VirtualClock *>(KcRadioTiming::clock());
}

void VirtualClock::schedule(KcRadioTimer *timer, int ms)
{
    cancel(timer);
    const Due due{mNow + qMax(0, ms), ++mScheduled, timer};
    // After every entry due at the same time: those were scheduled earlier.
    const auto at = std::upper_bound(mDue.begin(), mDue.end(), due,
                                     [](const Due &a, const Due &b) { return a.at < b.at; });
    mDue.insert(at, due);
}

void VirtualClock::cancel(KcRadioTimer *timer)
{
    for (int i = 0; i < mDue.size(); ++i) {
        if (mDue.at(i).timer == timer) {
            mDue.removeAt(i);
            return;
        }
    }
}

bool VirtualClock::fireNext(qint64 limit)
{
    if (mDue.isEmpty() || mDue.first().at > limit)
        return false;
    const Due due = mDue.takeFirst();
    // A repeating timer schedules its next timeout from now: the due time.
    mNow = due.at;
    fire(due.timer);
    return true;
}

bool VirtualClock::runUntil(const std::function<bool()> &done, qint64 maxMs)
{
    const qint64 limit = mNow + maxMs;
    if (!settle())
        return false;
    while (!done()) {
        if (!fireNext(limit)) {
            qWarning().noquote()
                << QStringLiteral("VirtualClock::runUntil: not reached by virtual "
                                  "%1 ms (%2)")
                       .arg(mNow)
                       .arg(mDue.isEmpty()
                                ? QStringLiteral("no timer is due")
                                : QStringLiteral("next timer at %1 ms").arg(mDue.first().at));
            return false;
        }
        if (!settle())
            return false;
    }
    return true;
}

bool VirtualClock::advanceBy(qint64 ms)
{
    const qint64 limit = mNow + ms;
    if (!settle())
        return false;
    while (fireNext(limit)) {
        if (!settle())
            return false;
    }
    mNow = limit;
    return true;
}

bool VirtualClock::settle()
{
    QElapsedTimer real;
    real.start();
    QList<LineState> before = lineStates();
    bool waitForReply = false;
    int quietPasses = 0;
    while (quietPasses < QuietPassesNeeded) {
        // A radio that writes its reply in pieces does so on a timer of its
        // own; wait for it rather than spin.
        QCoreApplication::processEvents(waitForReply ? QEventLoop::WaitForMoreEvents
                                                     : QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QList<LineState> now = lineStates();
        quietPasses = allQuiet(before, now) ? quietPasses + 1 : 0;
        waitForReply = std::any_of(now.begin(), now.end(),
                                   [](const LineState &state) { return state.activity.replying; });
        before = now;
        if (real.elapsed() > SettleLimitMs) {
            reportSupportFailure(
                QStringLiteral(
                    "VirtualClock::settle: the lines did not come to rest within %1 ms: %2")
                    .arg(SettleLimitMs)
                    .arg(describe(now)));
            return false;
        }
    }
    return true;
}
