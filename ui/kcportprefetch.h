#pragma once

#include "kcportlistmerge.h"

#include <QList>
#include <QThread>
#include <functional>

// Lists the serial ports on a worker thread while the window is still being
// built. An enumeration takes 10 to 20 ms here (far more on a computer with
// many adapters, or on Windows), and the window needs its result only when
// its first panel fills its port list; by then the list is usually ready, so
// the first frame does not wait for it. The lister runs on the worker thread
// only: it must touch nothing the GUI thread uses meanwhile.
class KcPortPrefetch : public QThread
{
public:
    using Lister = std::function<QList<KcPortEntry>()>;

    explicit KcPortPrefetch(Lister lister, QObject *parent = nullptr);
    ~KcPortPrefetch() override;

    // The lister's answer; waits for the worker when it has not finished.
    QList<KcPortEntry> result();

protected:
    void run() override;

private:
    Lister mLister;
    QList<KcPortEntry> mPorts;
};
