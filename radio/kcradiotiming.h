#pragma once

#include <QtGlobal>

class KcRadioClock;

// The intervals of all radio work and the clock that times them, kept in one
// place. The program always runs with the defaults on the event loop's clock;
// tests may shorten the intervals, or install a clock that they advance
// themselves.
class KcRadioTiming
{
public:
    // Interval of every repeating radio timer: command-mode entry attempts,
    // configuration steps and erase steps.
    static int commandIntervalMs() { return sCommandIntervalMs; }
    // Single-shot waits: the reader's verdict and leaving command mode.
    static int replyWaitMs() { return sReplyWaitMs; }

    // For tests only.
    static void setIntervalsForTesting(int commandIntervalMs, int replyWaitMs);
    static void restoreDefaults();
    // The clock of every KcRadioTimer started from now on; null (the
    // default) is the event loop's clock.
    static void setClockForTesting(KcRadioClock *clock);
    static KcRadioClock *clock() { return sClock; }
    // The time of the radio clock in milliseconds, from any origin: what
    // measurements between two radio events (a frame's latency) read.
    static qint64 nowMs();

    static constexpr int DefaultCommandIntervalMs = 2000;
    static constexpr int DefaultReplyWaitMs = 1000;

    // Silence a radio needs before it takes "+++" for the escape.
    static constexpr int GuardTimeMs = 1000;
    // A radio answers the escape only after its guard time of silence; an
    // escape written less than this long ago may still be answered.
    static constexpr int EscapeAnswerWaitMs = 1500;
    // The same for a radio that may answer as late as any command: its guard
    // time and then a whole command interval. Guarded entry waits this long
    // for an answer to the last escape before it gives up.
    static int lateEscapeAnswerWaitMs() { return GuardTimeMs + sCommandIntervalMs; }
    // Guarded entry moves to the next rate this long after an escape: the
    // guard time and then a radio's usual answer time. An answer that comes
    // later still (up to lateEscapeAnswerWaitMs) arrives at the next rate, as
    // bytes that are no text, and entry goes back to the escape's rate for it.
    static int escapeRateStepMs() { return qMin(2 * GuardTimeMs, lateEscapeAnswerWaitMs()); }
    // The wait for the answer to an "ATA" written outside a release (a
    // release waits up to the reply wait); the radio may also switch to data
    // mode without a word.
    static constexpr int DataModeAnswerWaitMs = 500;
    // The longest wait for written bytes to leave the computer before the
    // port is closed anyway.
    static constexpr int DrainLimitMs = 1000;

private:
    static int sCommandIntervalMs;
    static int sReplyWaitMs;
    static KcRadioClock *sClock;
};
