#pragma once

// The intervals of all radio work, kept in one place. The program always runs
// with the defaults; tests may shorten them to run a whole exchange quickly.
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

    static constexpr int DefaultCommandIntervalMs = 2000;
    static constexpr int DefaultReplyWaitMs = 1000;

private:
    static int sCommandIntervalMs;
    static int sReplyWaitMs;
};
