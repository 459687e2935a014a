#pragma once

// kcradio's console: the terminal its status lines go to (the interrupt that
// stops a run is KcInterrupt's, which the window shares). Each is one system
// call behind its platform.
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

} // namespace KcConsole
