#pragma once

#include <QObject>
#include <functional>

class QTimer;
class KcRadioTimer;

// A source of time for the radio timers. The program runs on the event
// loop's clock (no KcRadioClock installed); a test may install a clock of
// its own that fires the timers when it decides time has passed.
class KcRadioClock
{
public:
    virtual ~KcRadioClock();

    // The timer is due ms after now. Replaces an earlier schedule of it.
    virtual void schedule(KcRadioTimer *timer, int ms) = 0;
    // The timer is no longer due.
    virtual void cancel(KcRadioTimer *timer) = 0;
    // The clock's time in milliseconds, from any origin.
    virtual qint64 nowMs() const = 0;

protected:
    // Runs the timer's timeout as its clock has made it due.
    static void fire(KcRadioTimer *timer);
};

// The timer of every interval of the radio work (entry attempts, sequence
// steps, reply waits). Behaves like a precise QTimer; all radio timers share
// one source of time, which KcRadioTiming names.
class KcRadioTimer : public QObject
{
    Q_OBJECT

public:
    explicit KcRadioTimer(QObject *parent = nullptr);
    ~KcRadioTimer() override;

    void setSingleShot(bool singleShot) { mSingleShot = singleShot; }
    bool isSingleShot() const { return mSingleShot; }
    int interval() const { return mInterval; }
    bool isActive() const { return mActive; }

    // (Re)starts the timer: the first timeout comes ms from now.
    void start(int ms);
    void stop();

    // Calls function once, ms from now, unless context is destroyed first.
    static void singleShot(int ms, QObject *context, std::function<void()> function);

signals:
    void timeout();

private:
    friend class KcRadioClock;
    void onDue();

    QTimer *mTimer = nullptr;       // on the event loop's clock only
    KcRadioClock *mClock = nullptr; // the clock it was last scheduled on
    int mInterval = 0;
    bool mSingleShot = false;
    bool mActive = false;
};
