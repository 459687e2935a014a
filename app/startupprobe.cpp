#include "startupprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

// Started by a static initialiser, before main() runs: the clock covers
// everything the program does itself, not the loading of the shared libraries.
QElapsedTimer startClock()
{
    QElapsedTimer clock;
    clock.start();
    return clock;
}
const QElapsedTimer sProcessClock = startClock();

// Waits for the window's first paint. The figure is taken one event-loop turn
// later, when the paint of the whole widget tree and its flush are done.
class StartupProbe : public QObject
{
public:
    explicit StartupProbe(QWidget *window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!mSeen && event->type() == QEvent::Paint) {
            mSeen = true;
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, []() {
                std::printf("first-frame-ms %lld\n",
                            static_cast<long long>(sProcessClock.elapsed()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool mSeen = false;
};

} // namespace

void installStartupProbe(QWidget *window)
{
    if (!window || qEnvironmentVariableIsEmpty("KC_STARTUP_PROBE"))
        return;
    new StartupProbe(window);
}
