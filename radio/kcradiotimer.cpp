#include "kcradiotimer.h"

#include "kcradiotiming.h"

#include <QTimer>

KcRadioClock::~KcRadioClock() = default;

void KcRadioClock::fire(KcRadioTimer *timer)
{
    timer->onDue();
}

KcRadioTimer::KcRadioTimer(QObject *parent) : QObject(parent) {}

KcRadioTimer::~KcRadioTimer()
{
    if (mClock && mActive)
        mClock->cancel(this);
}

void KcRadioTimer::start(int ms)
{
    stop();
    mInterval = ms;
    mActive = true;
    mClock = KcRadioTiming::clock();
    if (mClock) {
        mClock->schedule(this, ms);
        return;
    }
    if (!mTimer) {
        mTimer = new QTimer(this);
        mTimer->setTimerType(Qt::PreciseTimer);
        connect(mTimer, &QTimer::timeout, this, &KcRadioTimer::onDue);
    }
    mTimer->setSingleShot(mSingleShot);
    mTimer->start(ms);
}

void KcRadioTimer::stop()
{
    if (!mActive)
        return;
    mActive = false;
    if (mClock)
        mClock->cancel(this);
    else if (mTimer)
        mTimer->stop();
}

void KcRadioTimer::onDue()
{
    if (!mActive)
        return;
    if (mSingleShot) {
        stop();
    } else if (mClock) {
        // Repeating: the next timeout keeps to the grid of the first.
        mClock->schedule(this, mInterval);
    }
    emit timeout();
}

void KcRadioTimer::singleShot(int ms, QObject *context, std::function<void()> function)
{
    auto *timer = new KcRadioTimer(context);
    timer->setSingleShot(true);
    connect(timer, &KcRadioTimer::timeout, context, [timer, function = std::move(function)]() {
        timer->deleteLater();
        function();
    });
    timer->start(ms);
}
