// kcradio: the radio work of the window, from the command line.
#include "cli/kcconsole.h"
#include "cli/kcradiocli.h"
#include "kcinterrupt.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A closed pipe or terminal on stdout or stderr fails the write, never the
    // run: the radios still go back to data mode and into the record.
    KcConsole::survivePipeClosing();
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
        err << request.output; // the usage, when no command was given
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

    // Ctrl-C, SIGTERM, a closed terminal: the radios are sent back to data
    // mode before the ports are released, and the run ends with 130.
    KcInterrupt::onInterrupt(&cli, [&cli]() { cli.interrupt(); });

    cli.start();
    return app.exec();
}
