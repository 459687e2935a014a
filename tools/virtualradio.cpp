// A simulated radio modem on a pseudo-terminal, for trying the configuration
// tool (or a serial terminal such as picocom) without hardware. Prints the
// pty path first, then every command it receives, until SIGINT or SIGTERM.
// With --air FOLDER, radio programs started with the same folder share an
// air: what one radio hears on its serial line in data mode, every other one
// in data mode with the same S104 passes out on its own (UNIX datagram
// sockets in that folder, one per radio; see tests/support/virtualair.h).

#include "virtualradio.h"
#include "virtualair.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int sSignalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(sSignalFds[0], &byte, 1);
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sSignalFds) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Control bytes shown as escapes, so that "\r" stays visible on one line.
QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        switch (c) {
        case '\r':
            text += QLatin1String("\\r");
            break;
        case '\n':
            text += QLatin1String("\\n");
            break;
        case '\\':
            text += QLatin1String("\\\\");
            break;
        default:
            if (c >= 0x20 && c < 0x7f)
                text += QLatin1Char(c);
            else
                text += QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
        }
    }
    return text;
}

bool parseEscape(const QString &name, VirtualRadio::EscapeAnswer *answer)
{
    const QString key = name.toLower();
    if (key == QLatin1String("nocarrier"))
        *answer = VirtualRadio::EscapeAnswer::NoCarrier;
    else if (key == QLatin1String("greeting"))
        *answer = VirtualRadio::EscapeAnswer::Greeting;
    else if (key == QLatin1String("ok"))
        *answer = VirtualRadio::EscapeAnswer::OkOnly;
    else if (key == QLatin1String("silence"))
        *answer = VirtualRadio::EscapeAnswer::Silence;
    else
        return false;
    return true;
}

bool parseProbability(const QCommandLineParser &parser, const QString &option, double *value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const double parsed = parser.value(option).toDouble(&ok);
    if (!ok || parsed < 0.0 || parsed > 1.0)
        return false;
    *value = parsed;
    return true;
}

bool parseInt(const QCommandLineParser &parser, const QString &option, int minimum, int *value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const int parsed = parser.value(option).toInt(&ok);
    if (!ok || parsed < minimum)
        return false;
    *value = parsed;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("virtualradio"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated data-link radio modem on a pseudo-terminal."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("baud"), QStringLiteral("Serial rate of the radio (default 115200)."),
         QStringLiteral("rate")},
        {QStringLiteral("escape"),
         QStringLiteral("Answer to \"+++\": nocarrier, greeting, ok or silence."),
         QStringLiteral("answer")},
        {QStringLiteral("echo"), QStringLiteral("Echo every received byte.")},
        {QStringLiteral("chunk"), QStringLiteral("Write replies in pieces of n bytes."),
         QStringLiteral("n")},
        {QStringLiteral("gap"), QStringLiteral("Gap between reply pieces."), QStringLiteral("ms")},
        {QStringLiteral("answer-limit"), QStringLiteral("Stop answering after n commands."),
         QStringLiteral("n")},
        {QStringLiteral("unplug-after"), QStringLiteral("Vanish after n commands."),
         QStringLiteral("n")},
        {QStringLiteral("reply-delay"), QStringLiteral("Hold every reply back this long."),
         QStringLiteral("ms")},
        {QStringLiteral("garbled"),
         QStringLiteral("Replies sent while the line speed differs from the radio's rate "
                        "arrive as garbage, as on a real wire.")},
        {QStringLiteral("telemetry"), QStringLiteral("Stream telemetry in data mode."),
         QStringLiteral("bytes/s")},
        {QStringLiteral("quiet"), QStringLiteral("Print only the pty path.")},
        {QStringLiteral("id"), QStringLiteral("The radio ID (S104) it powers up with."),
         QStringLiteral("n")},
        {QStringLiteral("air"),
         QStringLiteral("Share an air with the radios started with this folder."),
         QStringLiteral("folder")},
        {QStringLiteral("air-delay"), QStringLiteral("Air delay (default 5)."),
         QStringLiteral("ms")},
        {QStringLiteral("air-rate"), QStringLiteral("Air rate; 0 (default) for no limit."),
         QStringLiteral("bytes/s")},
        {QStringLiteral("air-buffer"),
         QStringLiteral("Send buffer; overflow is lost (default 4096)."), QStringLiteral("bytes")},
        {QStringLiteral("air-loss"), QStringLiteral("Probability that a packet is lost."),
         QStringLiteral("p")},
        {QStringLiteral("air-corrupt"),
         QStringLiteral("Probability that a byte of a packet is changed."), QStringLiteral("p")},
    });
    parser.process(app);

    QTextStream err(stderr);
    VirtualRadio::Options options;
    if (!parseInt(parser, QStringLiteral("baud"), 1, &options.baudRate) ||
        !parseInt(parser, QStringLiteral("chunk"), 0, &options.chunkSize) ||
        !parseInt(parser, QStringLiteral("gap"), 0, &options.chunkGapMs) ||
        !parseInt(parser, QStringLiteral("answer-limit"), 0, &options.answerLimit) ||
        !parseInt(parser, QStringLiteral("unplug-after"), 0, &options.unplugAfterCommands) ||
        !parseInt(parser, QStringLiteral("reply-delay"), 0, &options.replyDelayMs) ||
        !parseInt(parser, QStringLiteral("telemetry"), 0, &options.telemetryBytesPerSecond)) {
        err << "virtualradio: invalid number in the options\n";
        return 2;
    }
    VirtualAir::Options air;
    air.folder = parser.value(QStringLiteral("air"));
    if (!parseInt(parser, QStringLiteral("air-delay"), 0, &air.delayMs) ||
        !parseInt(parser, QStringLiteral("air-rate"), 0, &air.bytesPerSecond) ||
        !parseInt(parser, QStringLiteral("air-buffer"), 0, &air.sendBufferBytes) ||
        !parseProbability(parser, QStringLiteral("air-loss"), &air.lossProbability) ||
        !parseProbability(parser, QStringLiteral("air-corrupt"), &air.corruptionProbability)) {
        err << "virtualradio: invalid air option\n";
        return 2;
    }
    if (parser.isSet(QStringLiteral("escape")) &&
        !parseEscape(parser.value(QStringLiteral("escape")), &options.escapeAnswer)) {
        err << "virtualradio: --escape takes nocarrier, greeting, ok or silence\n";
        return 2;
    }
    options.echo = parser.isSet(QStringLiteral("echo"));
    options.garbledAtOtherSpeeds = parser.isSet(QStringLiteral("garbled"));
    const bool quiet = parser.isSet(QStringLiteral("quiet"));

    if (!installSignalHandlers()) {
        err << "virtualradio: cannot install signal handlers\n";
        return 1;
    }
    QSocketNotifier signalNotifier(sSignalFds[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(sSignalFds[1], &byte, 1);
        QCoreApplication::quit();
    });

    VirtualRadio radio(options);
    if (!radio.start()) {
        err << "virtualradio: cannot open a pseudo-terminal\n";
        return 1;
    }
    if (parser.isSet(QStringLiteral("id")))
        radio.setRegister(104, parser.value(QStringLiteral("id")));
    VirtualAir sharedAir(air);
    if (!air.folder.isEmpty()) {
        if (!sharedAir.start()) {
            err << "virtualradio: cannot join the air in " << air.folder << '\n';
            return 1;
        }
        sharedAir.attach(&radio);
    }

    QTextStream out(stdout);
    out << "pty: " << radio.portPath() << '\n';
    out.flush();

    int lastRate = radio.baudRate();
    bool lastCommandMode = radio.inCommandMode();
    QObject::connect(&radio, &VirtualRadio::transcriptEntryAdded, &app,
                     [&](const VirtualRadio::Received &entry) {
                         if (!quiet) {
                             out << QStringLiteral("%1 ms  %2 baud  %3  \"%4\"")
                                        .arg(entry.msecs, 8)
                                        .arg(entry.lineSpeed, 7)
                                        .arg(entry.understood ? QStringLiteral("heard  ")
                                                              : QStringLiteral("ignored"))
                                        .arg(printable(entry.bytes))
                                 << '\n';
                             if (radio.inCommandMode() != lastCommandMode)
                                 out << (radio.inCommandMode() ? "  -> command mode\n"
                                                               : "  -> data mode\n");
                             if (radio.baudRate() != lastRate)
                                 out << "  -> radio rate now " << radio.baudRate() << '\n';
                             if (radio.isUnplugged())
                                 out << "  -> unplugged\n";
                             out.flush();
                         }
                         lastRate = radio.baudRate();
                         lastCommandMode = radio.inCommandMode();
                     });

    const int result = QCoreApplication::exec();
    radio.unplug();
    ::close(sSignalFds[0]);
    ::close(sSignalFds[1]);
    return result;
}
