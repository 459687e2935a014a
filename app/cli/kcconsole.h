#pragma once

#include <functional>

class QObject;

// kcradio's console: the terminal its status lines go to and the interrupt
// that stops a run. Each is one system call behind its platform.
namespace KcConsole {

// Whether stderr is a terminal that rewrites lines in place (cursor up,
// erase line): a terminal on Unix; on Windows a console that takes virtual
// terminal sequences, which this call enables. Otherwise status goes out as
// plain lines.
bool stderrRewritesLines();

// The width of the terminal on stderr in columns; 80 when it does not say.
int stderrColumns();

// A closed pipe or terminal on stdout or stderr fails the write, never the
// run: on Unix SIGPIPE is ignored. Called first thing, before any output.
void survivePipeClosing();

// Calls onInterrupt once, on receiver's thread through its event loop, when
// the user interrupts the run: SIGINT, SIGTERM or SIGHUP (the terminal
// closed) on Unix; Ctrl-C, Ctrl-Break or the console window closing on
// Windows. Installed once per process.
void onInterrupt(QObject *receiver, std::function<void()> onInterrupt);

} // namespace KcConsole
