#pragma once

#include "kcportlistmerge.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>

class KcRadioTimer;

// Lists the system's serial ports about once a second while any panel
// follows them, so that the port lists follow the adapters as they are
// plugged and pulled. One watch serves every panel: one enumeration a second
// for the whole window. Runs on the radio clock (a test's virtual clock).
class KcPortWatch : public QObject
{
    Q_OBJECT

public:
    using Lister = std::function<QList<KcPortEntry>()>;
    // A sign that changes whenever the lister may answer otherwise about the
    // ports named (its last answer's); empty when there is none, and the
    // lister is asked every interval.
    using Stamp = std::function<QByteArray(const QStringList &portNames)>;
    static constexpr int IntervalMs = 1000;

    KcPortWatch(Lister lister, Stamp stamp, QObject *parent = nullptr);

    // Watches while follower lives; stops when the last follower is gone.
    void addFollower(QObject *follower);
    bool isWatching() const;

signals:
    // Every interval, with the ports as listed then.
    void listed(const QList<KcPortEntry> &ports);

private:
    void removeFollower();
    void check();

    Lister mLister;
    Stamp mStamp;
    QByteArray mLastStamp;
    QList<KcPortEntry> mLast;
    KcRadioTimer *mTimer = nullptr;
    int mFollowers = 0;
};
