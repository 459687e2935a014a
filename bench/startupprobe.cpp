// The start-up probe of the benchmark's own builds of the program and of the
// bare window: linked in, it prints "first-frame-ms <ms>" to stdout once the
// first window has been painted (milliseconds since the process's static
// initialisation) and then quits the event loop with 0. The program itself
// carries no such hook.
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

// Watches every event of the application for the first paint of a window. The
// figure is taken one event-loop turn later, when the paint of the whole
// widget tree and its flush are done.
class StartupProbe : public QObject
{
public:
    explicit StartupProbe(QObject *application) : QObject(application)
    {
        application->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!mSeen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow()) {
            mSeen = true;
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

// Runs when the application object is constructed, before main() builds any
// window.
void installStartupProbe()
{
    new StartupProbe(QCoreApplication::instance());
}
Q_COREAPP_STARTUP_FUNCTION(installStartupProbe)

} // namespace
