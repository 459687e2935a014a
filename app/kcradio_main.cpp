// kcradio: the radio work of the window, from the command line.
#include "cli/kcradiocli.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sSignalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe calls here: the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(sSignalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A closed pipe or terminal on stdout or stderr fails the write, never the
    // run: the radios still go back to data mode and into the record.
#ifdef Q_OS_UNIX
    ::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication::setApplicationName(QStringLiteral("kcradio"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KC_VERSION));
    // The link's diagnostics are for the window's log; here they stay quiet
    // unless QT_LOGGING_RULES asks for them.
    QLoggingCategory::setFilterRules(QStringLiteral("kc.*.debug=false"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const KcCliRequest request = parseCliArguments(app.arguments().mid(1));
    if (!request.error.isEmpty()) {
        err << "kcradio: " << request.error << '\n';
        if (request.json)
            out << usageErrorJson(request.error);
        return KcCliExit::Usage;
    }
    if (request.done) {
        out << request.output;
        return KcCliExit::Success;
    }

    KcRadioCli cli(request, out, err);
    QObject::connect(&cli, &KcRadioCli::finished, &app, &QCoreApplication::exit,
                     Qt::QueuedConnection);

    // Ctrl-C, SIGTERM and SIGHUP (the terminal closed) reach the event loop
    // through a socket pair, so the radio can be sent back to data mode
    // before the port is released.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sSignalPipe) == 0) {
        auto *notifier = new QSocketNotifier(sSignalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &cli, [&cli, notifier]() {
            char byte = 0;
            [[maybe_unused]] const ssize_t got = ::read(sSignalPipe[0], &byte, 1);
            notifier->setEnabled(false);
            cli.interrupt();
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
    }

    cli.start();
    return app.exec();
}
