#pragma once

#include <functional>

class QObject;

// The request from outside to stop, which both front ends take as their own
// way to end: kcradio ends its run, the window closes. One system call behind
// its platform.
namespace KcInterrupt {

// Calls onInterrupt once, on receiver's thread through its event loop, when
// the process is asked to stop: SIGINT, SIGTERM or SIGHUP (the terminal
// closed, the session ended) on Unix; Ctrl-C, Ctrl-Break or the console
// window closing on Windows, for a process with a console. Installed once per
// process; later signals find the handler still in place and change nothing.
void onInterrupt(QObject *receiver, std::function<void()> onInterrupt);

} // namespace KcInterrupt
