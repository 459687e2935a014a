#include "kcconsole.h"

#include <QtGlobal>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#endif

namespace KcConsole {

bool stderrRewritesLines()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO);
#elif defined(Q_OS_WIN)
    if (!::_isatty(::_fileno(stderr)))
        return false;
    HANDLE console = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return ::GetConsoleMode(console, &mode) &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
            ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
#else
    return false;
#endif
}

int stderrColumns()
{
    int columns = 0;
#ifdef Q_OS_UNIX
    winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0)
        columns = size.ws_col;
#elif defined(Q_OS_WIN)
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        columns = info.srWindow.Right - info.srWindow.Left + 1;
#endif
    return columns > 0 ? columns : 80;
}

void survivePipeClosing()
{
#ifdef Q_OS_UNIX
    ::signal(SIGPIPE, SIG_IGN);
#endif
    // On Windows a write to a closed pipe fails with an error, never a signal.
}

} // namespace KcConsole
