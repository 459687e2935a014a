#include "kcportprefetch.h"

KcPortPrefetch::KcPortPrefetch(Lister lister, QObject *parent)
    : QThread(parent), mLister(std::move(lister))
{
}

KcPortPrefetch::~KcPortPrefetch()
{
    // A thread object must not go while its thread runs.
    wait();
}

QList<KcPortEntry> KcPortPrefetch::result()
{
    wait();
    return mPorts;
}

void KcPortPrefetch::run()
{
    mPorts = mLister();
}
