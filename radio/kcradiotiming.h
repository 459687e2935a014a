#pragma once

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

    static constexpr int DefaultCommandIntervalMs = 2000;
    static constexpr int DefaultReplyWaitMs = 1000;

private:
    static int sCommandIntervalMs;
    static int sReplyWaitMs;
    static KcRadioClock *sClock;
};
