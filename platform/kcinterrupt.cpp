#include "kcinterrupt.h"

#include <QMetaObject>
#include <QObject>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <atomic>
#include <windows.h>
#endif

namespace KcInterrupt {

namespace {

std::function<void()> sOnInterrupt;

#ifdef Q_OS_UNIX
int sSignalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here: the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(sSignalPipe[1], &byte, 1);
}
#elif defined(Q_OS_WIN)
QObject *sReceiver = nullptr; // lives as long as the run or the window

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // Posting an event is safe from any thread; the call runs in the loop.
    static std::atomic_bool called{false};
    if (!called.exchange(true))
        QMetaObject::invokeMethod(
            sReceiver, [] { sOnInterrupt(); }, Qt::QueuedConnection);
    // The system ends the process as soon as this returns from a close; the
    // wait leaves the run its time to put the radios back in data mode, and
    // main() returning ends the process first.
    if (event == CTRL_CLOSE_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}
#endif

} // namespace

void onInterrupt(QObject *receiver, std::function<void()> onInterrupt)
{
    sOnInterrupt = std::move(onInterrupt);
#ifdef Q_OS_UNIX
    // The signals reach the event loop through a socket pair, so that the
    // radios can be sent back to data mode before the ports are released.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sSignalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(sSignalPipe[0], QSocketNotifier::Read, receiver);
    QObject::connect(notifier, &QSocketNotifier::activated, receiver, [notifier]() {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(sSignalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        sOnInterrupt();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
#elif defined(Q_OS_WIN)
    sReceiver = receiver;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    Q_UNUSED(receiver)
#endif
}

} // namespace KcInterrupt
