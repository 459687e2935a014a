#include "kcportwatch.h"

#include "kcradiotimer.h"

KcPortWatch::KcPortWatch(Lister lister, Stamp stamp, QObject *parent)
    : QObject(parent), mLister(std::move(lister)), mStamp(std::move(stamp)),
      mTimer(new KcRadioTimer(this))
{
    connect(mTimer, &KcRadioTimer::timeout, this, &KcPortWatch::check);
}

void KcPortWatch::check()
{
    // An enumeration costs tens of milliseconds, once a second too much for
    // an idle window: it is done only when the stamp moved.
    QStringList names;
    for (const KcPortEntry &port : mLast)
        names << port.name;
    const QByteArray stamp = mStamp ? mStamp(names) : QByteArray();
    if (stamp.isEmpty() || stamp != mLastStamp)
        mLast = mLister();
    mLastStamp = stamp;
    emit listed(mLast);
}

void KcPortWatch::addFollower(QObject *follower)
{
    connect(follower, &QObject::destroyed, this, &KcPortWatch::removeFollower);
    // Started afresh with the first follower, so that it runs on the clock
    // of the moment (a test installs its own).
    if (mFollowers++ == 0) {
        mLastStamp.clear();
        mTimer->start(IntervalMs);
    }
}

bool KcPortWatch::isWatching() const
{
    return mTimer->isActive();
}

void KcPortWatch::removeFollower()
{
    if (--mFollowers == 0)
        mTimer->stop();
}
