#include "kcradiocli.h"

#include "kcclicommand.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QTextStream>

namespace {

const char HelpHead[] = R"(Usage: kcradio COMMAND [OPTIONS]
       kcradio help [COMMAND]
Configures, verifies, reads, checks and erases serial data-link radio modems,
one radio, a pair or a whole fleet.

Commands:
)";

const char HelpOptions[] = R"(
Options:
  -h, --help            show this help; "kcradio help COMMAND" or
                        "kcradio COMMAND --help" for a command
  --help-all            this help, then every command's (as the man page)
  -v, --version         show the version
  --json                print the result as one JSON object (every command)
  --quiet               print the result only, no progress (every command)
  --cadence ack|fixed   how commands are paced (every command but ports):
                        ack (default) writes the next command as soon as the
                        radio has answered the last one ("ERROR", or no answer
                        within 2000 ms, ends the run), escapes after 1000 ms of
                        silence, and finishes a radio in a few seconds; fixed
                        writes one command every 2000 ms as the window does,
                        for radios whose firmware needs it
)";

const char HelpTail[] = R"(
Progress goes to stderr; the result goes to stdout, whatever the outcome
(a failed check's table and a failed link's figures too); with --json stdout
carries one JSON object and nothing else.

Exit status:
  0    success
  1    the radio answered the escape but refused a command, did not answer
       one within its wait (or answered too late), or holds other values
  2    usage error; nothing was sent
  3    the port is missing, busy or not permitted, or was lost during the run;
       a fleet's record cannot be written or is held by another run
  4    the radio never answered the escape (or too late to be read)
  130  interrupted (Ctrl-C, SIGTERM, SIGHUP when the terminal closes; on
       Windows also Ctrl-Break or closing the console); a radio in command
       mode (or one that may still answer an escape) is sent "ATA" before its
       port is released

A closed stdout or stderr (a pipe whose reader ended) never ends a run: the
output stops, the radios and the record are finished as always.

Environment:
  KC_EXTRA_SERIAL_PORTS  further port paths, separated by ':' (';' on Windows)
  QT_LOGGING_RULES       e.g. "kc.*=true" shows the link's diagnostics
)";

// How to call, and the commands from their table entries.
QString commandList()
{
    QString text = QString::fromLatin1(HelpHead);
    for (const KcCliCommandEntry &entry : kcCliCommands())
        text += QStringLiteral("  %1%2\n").arg(entry.synopsis.leftJustified(22), entry.summary);
    return text;
}

// What a run without a command prints.
QString usage()
{
    return commandList() + QStringLiteral("\n\"kcradio help\" gives the options and exit status, "
                                          "\"kcradio help COMMAND\" a command's.\n");
}

// The general help: the commands from their table entries, then the options
// that every command takes and those that commands share. With all, every
// command's own help follows, before the exit status: the man page is made
// of that.
QString generalHelp(bool all = false)
{
    QString text = commandList() + QString::fromLatin1(HelpOptions);
    for (const KcCliCommandEntry &entry : kcCliCommands())
        if (!entry.generalHelp.isEmpty())
            text += QLatin1Char('\n') + entry.generalHelp;
    const QList<KcCliCommandEntry> commands = all ? kcCliCommands() : QList<KcCliCommandEntry>();
    for (const KcCliCommandEntry &entry : commands) {
        // A heading per command, its usage indented and apart from the words
        // below it, so that help2man makes it a section.
        QStringList lines = entry.help.split(QLatin1Char('\n'));
        int described = 1;
        while (described < lines.size() && lines.at(described).startsWith(QLatin1Char(' ')))
            ++described;
        for (int i = 0; i < described; ++i)
            lines[i].prepend(QStringLiteral("  "));
        lines.insert(described, QString());
        text += QStringLiteral("\nCommand %1:\n").arg(entry.name) + lines.join(QLatin1Char('\n'));
    }
    return text + QString::fromLatin1(HelpTail);
}

const KcCliCommandEntry *commandNamed(const QString &name)
{
    for (const KcCliCommandEntry &entry : kcCliCommands())
        if (entry.name == name)
            return &entry;
    return nullptr;
}

KcCliRequest helpText(const QString &text)
{
    KcCliRequest request;
    request.done = true;
    request.output = text;
    return request;
}

KcCliRequest usageError(const QString &message, bool json = false)
{
    KcCliRequest request;
    request.error = message;
    request.json = json;
    return request;
}

} // namespace

const QList<KcCliCommandEntry> &kcCliCommands()
{
    static const QList<KcCliCommandEntry> commands{
        kcCliPortsCommand(), kcCliReadCommand(),  kcCliConfigureCommand(), kcCliPairCommand(),
        kcCliEraseCommand(), kcCliFleetCommand(), kcCliCheckCommand(),     kcCliLinkCommand()};
    return commands;
}

KcCliRequest parseCliArguments(const QStringList &arguments)
{
    KcCliRequest request;
    if (arguments.isEmpty()) {
        request = usageError(QStringLiteral("no command given"));
        request.output = usage();
        return request;
    }
    const QString name = arguments.first();
    if (name == QLatin1String("-h") || name == QLatin1String("--help"))
        return helpText(generalHelp());
    if (name == QLatin1String("--help-all"))
        return helpText(generalHelp(true));
    if (name == QLatin1String("-v") || name == QLatin1String("--version"))
        return helpText(QStringLiteral("kcradio %1\n").arg(QStringLiteral(KC_VERSION)));
    if (name == QLatin1String("help")) {
        if (arguments.size() == 1)
            return helpText(generalHelp());
        const KcCliCommandEntry *named = commandNamed(arguments.at(1));
        if (arguments.size() > 2 || !named)
            return usageError(arguments.size() > 2
                                  ? QStringLiteral("help takes one command")
                                  : QStringLiteral("unknown command \"%1\"; see kcradio help")
                                        .arg(arguments.at(1)));
        return helpText(named->help);
    }

    const KcCliCommandEntry *entry = commandNamed(name);
    if (!entry)
        return usageError(QStringLiteral("unknown command \"%1\"; see kcradio --help").arg(name),
                          arguments.contains(QStringLiteral("--json")));
    request.command = entry->command;
    request.name = entry->name;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    QCommandLineOption json(QStringLiteral("json"), QString());
    QCommandLineOption quiet(QStringLiteral("quiet"), QString());
    QCommandLineOption cadence(QStringLiteral("cadence"), QString(), QStringLiteral("cadence"));
    parser.addOptions({help, json, quiet});
    if (entry->command != KcCliRequest::Command::Ports)
        parser.addOption(cadence);
    parser.addOptions(entry->options);
    if (!parser.parse(QStringList{QStringLiteral("kcradio")} + arguments.mid(1)))
        return usageError(parser.errorText(), arguments.contains(QStringLiteral("--json")));
    if (parser.isSet(help)) {
        request.done = true;
        request.output = entry->help;
        return request;
    }
    request.json = parser.isSet(json);
    request.quiet = parser.isSet(quiet);
    // Ports takes no --cadence: asking the parser about it would only warn.
    if (entry->command != KcCliRequest::Command::Ports && parser.isSet(cadence)) {
        const QString word = parser.value(cadence).toLower();
        if (word != QLatin1String("ack") && word != QLatin1String("fixed"))
            return usageError(QStringLiteral("--cadence must be ack or fixed"), request.json);
        request.cadence = word == QLatin1String("ack") ? KcCadence::Acknowledged : KcCadence::Fixed;
    }
    request.ports = parser.positionalArguments();
    const QString error = entry->parse(parser, request);
    if (!error.isEmpty())
        return usageError(error, request.json);
    return request;
}

QByteArray usageErrorJson(const QString &error)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("ok"), false},
                                     {QStringLiteral("exitCode"), KcCliExit::Usage},
                                     {QStringLiteral("error"), error}})
        .toJson(QJsonDocument::Indented);
}

// --- Running ----------------------------------------------------------------

KcRadioCli::KcRadioCli(const KcCliRequest &request, QTextStream &out, QTextStream &err,
                       QObject *parent)
    : QObject(parent), mRequest(request), mOut(out), mErr(err)
{
}

KcRadioCli::~KcRadioCli() = default;

void KcRadioCli::start()
{
    if (!mRequest.makeCommand) {
        finish(KcCliExit::Usage, QJsonObject(), QString());
        return;
    }
    mCommand = mRequest.makeCommand(this);
    mCommand->start();
}

void KcRadioCli::progress(const QString &who, const QString &line)
{
    // A closed stderr (a pipe whose reader is gone) is left alone.
    if (mRequest.quiet || mErr.status() != QTextStream::Ok)
        return;
    mErr << who << ": " << line << '\n';
    mErr.flush();
}

void KcRadioCli::finish(int exitCode, const QJsonObject &result, const QString &summary)
{
    if (mFinished)
        return;
    mFinished = true;
    // Whatever a timer still delivered, an interrupted run says so.
    if (mInterrupted)
        exitCode = KcCliExit::Interrupted;
    if (mRequest.json) {
        QJsonObject object = result;
        object.insert(QStringLiteral("exitCode"), exitCode);
        object.insert(QStringLiteral("ok"), exitCode == KcCliExit::Success);
        mOut << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else if (!summary.isEmpty()) {
        // The result, whatever the outcome: "kcradio check ... > report.txt"
        // keeps the report that matters most, the failed one.
        mOut << summary << '\n';
    }
    mOut.flush();
    mErr.flush();
    emit finished(exitCode);
}

void KcRadioCli::interrupt()
{
    if (mFinished || mInterrupted)
        return;
    mInterrupted = true;
    progress(QStringLiteral("kcradio"), QStringLiteral("interrupted"));
    if (mCommand)
        mCommand->interrupt();
    else
        finish(KcCliExit::Interrupted, QJsonObject{{QStringLiteral("interrupted"), true}},
               QStringLiteral("interrupted"));
}
