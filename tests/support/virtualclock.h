#pragma once

#include "kcradiotimer.h"

#include <QList>
#include <QString>
#include <functional>

// The time of the radio work in a test: a clock that moves only when the test
// lets it, and only once the virtual radios and the tool have gone quiet. The
// radio timers then run at their real intervals (2000 ms steps, 1000 ms
// waits) in no time, and every reply is handled before the next timer is due,
// however late the process is scheduled.
//
// Waiting works in two steps. settle() processes events until nothing moves
// on any line any more, with no wall-clock timing involved. runUntil() and
// advanceBy() settle, then jump to the next due timer, fire it, settle again,
// and so on.
class VirtualClock : public KcRadioClock
{
public:
    // The clock of this test program, installed as the radio timers' clock on
    // the first call. Radio timers started before then keep the event loop's
    // clock.
    static VirtualClock &install();
    // The installed clock, or null when the radio timers run in real time.
    static VirtualClock *active();
    ~VirtualClock() override;

    // Virtual milliseconds since the clock was installed.
    qint64 now() const { return mNow; }

    // Settles, then fires due timers until done() holds; done() is checked
    // after each timer. False, with a warning that names the virtual time and
    // the next due timer, when done() still does not hold maxMs of virtual
    // time later or no timer is due any more.
    bool runUntil(const std::function<bool()> &done, qint64 maxMs = 60000);
    // Settles, then fires every timer due within ms and ends exactly ms later.
    bool advanceBy(qint64 ms);
    // Radio timers due now or later.
    int pendingTimers() const { return mDue.size(); }

    // Processes events until every live virtual radio and the tool are quiet:
    // the tool has written nothing the radio has not read, the radio nothing
    // the tool has not read (or cannot read, having closed its port), no
    // reply piece is still queued, and the counts of bytes each way stayed the
    // same over two passes. Needs no installed clock. A line that does not
    // come to rest within 10 s of real time fails the test: a deadlock is a
    // fault, not a pass.
    static bool settle();

    void schedule(KcRadioTimer *timer, int ms) override;
    void cancel(KcRadioTimer *timer) override;
    qint64 nowMs() const override { return mNow; }

private:
    VirtualClock() = default;
    bool fireNext(qint64 limit);

    struct Due
    {
        qint64 at = 0;
        quint64 order = 0; // ties fire in the order they were scheduled
        KcRadioTimer *timer = nullptr;
    };
    QList<Due> mDue; // sorted by (at, order)
    qint64 mNow = 0;
    quint64 mScheduled = 0;
};

// Reports a failure of the test support: a failed check in a running test
// function, a warning elsewhere (a benchmark).
void reportSupportFailure(const QString &message);
