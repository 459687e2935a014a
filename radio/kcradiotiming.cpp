#include "kcradiotiming.h"

int KcRadioTiming::sCommandIntervalMs = KcRadioTiming::DefaultCommandIntervalMs;
int KcRadioTiming::sReplyWaitMs = KcRadioTiming::DefaultReplyWaitMs;
KcRadioClock *KcRadioTiming::sClock = nullptr;

void KcRadioTiming::setIntervalsForTesting(int commandIntervalMs, int replyWaitMs)
{
    sCommandIntervalMs = commandIntervalMs;
    sReplyWaitMs = replyWaitMs;
}

void KcRadioTiming::restoreDefaults()
{
    setIntervalsForTesting(DefaultCommandIntervalMs, DefaultReplyWaitMs);
}

void KcRadioTiming::setClockForTesting(KcRadioClock *clock)
{
    sClock = clock;
}
