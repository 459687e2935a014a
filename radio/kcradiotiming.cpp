#include "kcradiotiming.h"

#include "kcradiotimer.h"

#include <QElapsedTimer>

int KcRadioTiming::sCommandIntervalMs = KcRadioTiming::DefaultCommandIntervalMs;
int KcRadioTiming::sReplyWaitMs = KcRadioTiming::DefaultReplyWaitMs;
KcRadioClock *KcRadioTiming::sClock = nullptr;

qint64 KcRadioTiming::nowMs()
{
    if (sClock)
        return sClock->nowMs();
    static QElapsedTimer monotonic;
    if (!monotonic.isValid())
        monotonic.start();
    return monotonic.elapsed();
}

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
