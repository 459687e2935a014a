#include "kcradiocli.h"

#include "kcconfigjob.h"
#include "kcradiocommandlink.h"
#include "kcradioeraser.h"
#include "kcradioid.h"
#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcserialports.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

namespace {

using KcRadioProtocol::DataModeCmd;

const char GeneralHelp[] = R"(Usage: kcradio COMMAND [OPTIONS]
Configures, verifies, reads and erases serial data-link radio modems.

Commands:
  ports                 list the serial ports and what identifies each adapter
  read PORT             read a radio's ID and serial rate
  configure PORT ...    configure one radio, then read its settings back
  pair GROUND AIRBORNE  configure a ground and an airborne radio at once
  erase PORT            set a radio's serial rate code back to 9600 and store it

Options:
  -h, --help            show this help; "kcradio COMMAND --help" for a command
  -v, --version         show the version
  --json                print the result as one JSON object (every command)
  --quiet               print the result only, no progress (every command)

Options of configure and pair:
  --model MODEL         MR300, MR240 or MR300S
  --mode MODE           p2p or star
  --role ROLE           ground or airborne (configure only)
  --id N                radio ID, 1 to 10 digits, 0 to 4294967295 (pair: a
                        fresh ID when not given)
  --baud RATE           serial rate for a P2P MR300 or MR300S: 9600 (default),
                        115200 or 230400
  --index N             star airborne radio's index in the network, 1 to 100
                        (default 1)
  --no-verify           do not read the stored settings back

Progress goes to stderr, results to stdout; with --json stdout carries one
JSON object and nothing else.

Exit status:
  0    success
  1    the radio answered but refused a command, or holds other values
  2    usage error; nothing was sent
  3    the port is missing, busy or not permitted
  4    the radio never answered the escape
  130  interrupted (Ctrl-C or SIGTERM); a radio in command mode is sent "ATA"

Environment:
  KC_EXTRA_SERIAL_PORTS  further port paths, separated by ':' (pseudo-terminals)
  QT_LOGGING_RULES       e.g. "kc.*=true" shows the link's diagnostics
)";

const char ConfigureOptionsHelp[] = R"(  --model MODEL         MR300, MR240 or MR300S
  --mode MODE           p2p or star
  --baud RATE           serial rate for a P2P MR300 or MR300S: 9600 (default),
                        115200 or 230400
  --index N             star airborne radio's index in the network, 1 to 100
                        (default 1)
  --no-verify           do not read the stored settings back
  --json                print the result as one JSON object
  --quiet               print the result only, no progress
)";

QString commandHelp(KcCliRequest::Command command)
{
    switch (command) {
    case KcCliRequest::Command::Ports:
        return QStringLiteral("Usage: kcradio ports [--json]\n"
                              "Lists the serial ports: name, description, manufacturer, serial\n"
                              "number, USB vendor:product and whether the port is busy.\n");
    case KcCliRequest::Command::Read:
        return QStringLiteral("Usage: kcradio read PORT [--json] [--quiet]\n"
                              "Finds the radio's serial rate, lists its settings and prints its\n"
                              "ID (S104) and serial rate code (S102).\n");
    case KcCliRequest::Command::Configure:
        return QStringLiteral(
                   "Usage: kcradio configure PORT --model MODEL --mode MODE --role ROLE "
                   "--id N [OPTIONS]\n"
                   "Configures one radio as the window does, then reads the stored\n"
                   "S102, S104 (and S105) back and compares them with what was sent.\n\n"
                   "  --role ROLE           ground or airborne\n"
                   "  --id N                radio ID, 1 to 10 digits, 0 to 4294967295\n") +
               QString::fromLatin1(ConfigureOptionsHelp);
    case KcCliRequest::Command::Pair:
        return QStringLiteral(
                   "Usage: kcradio pair GROUND_PORT AIRBORNE_PORT --model MODEL --mode MODE "
                   "[--id N] [OPTIONS]\n"
                   "Configures both radios of a pair at the same time with one radio ID, then\n"
                   "reads both back. Without --id a fresh ID is generated.\n"
                   "The exit status is the higher of the two radios'.\n\n"
                   "  --id N                radio ID, 1 to 10 digits, 0 to 4294967295\n") +
               QString::fromLatin1(ConfigureOptionsHelp);
    case KcCliRequest::Command::Erase:
        return QStringLiteral("Usage: kcradio erase PORT [--json] [--quiet]\n"
                              "Writes ATS102=7 (9600), stores it with AT&W and sends ATA.\n");
    case KcCliRequest::Command::None:
        break;
    }
    return QString::fromLatin1(GeneralHelp);
}

KcCliRequest usageError(const QString &message)
{
    KcCliRequest request;
    request.error = message;
    return request;
}

} // namespace

KcCliRequest parseCliArguments(const QStringList &arguments)
{
    KcCliRequest request;
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given; see kcradio --help"));
    const QString name = arguments.first();
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
        request.done = true;
        request.output = QString::fromLatin1(GeneralHelp);
        return request;
    }
    if (name == QLatin1String("-v") || name == QLatin1String("--version")) {
        request.done = true;
        request.output = QStringLiteral("kcradio %1\n").arg(QStringLiteral(KC_VERSION));
        return request;
    }

    using Command = KcCliRequest::Command;
    const QList<QPair<QString, Command>> commands{{QStringLiteral("ports"), Command::Ports},
                                                  {QStringLiteral("read"), Command::Read},
                                                  {QStringLiteral("configure"), Command::Configure},
                                                  {QStringLiteral("pair"), Command::Pair},
                                                  {QStringLiteral("erase"), Command::Erase}};
    for (const auto &[word, command] : commands)
        if (word == name)
            request.command = command;
    if (request.command == Command::None)
        return usageError(QStringLiteral("unknown command \"%1\"; see kcradio --help").arg(name));

    const bool configures =
        request.command == Command::Configure || request.command == Command::Pair;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    QCommandLineOption json(QStringLiteral("json"), QString());
    QCommandLineOption quiet(QStringLiteral("quiet"), QString());
    QCommandLineOption model(QStringLiteral("model"), QString(), QStringLiteral("model"));
    QCommandLineOption mode(QStringLiteral("mode"), QString(), QStringLiteral("mode"));
    QCommandLineOption role(QStringLiteral("role"), QString(), QStringLiteral("role"));
    QCommandLineOption id(QStringLiteral("id"), QString(), QStringLiteral("id"));
    QCommandLineOption baud(QStringLiteral("baud"), QString(), QStringLiteral("rate"));
    QCommandLineOption index(QStringLiteral("index"), QString(), QStringLiteral("n"));
    QCommandLineOption noVerify(QStringLiteral("no-verify"), QString());
    parser.addOption(help);
    parser.addOption(json);
    parser.addOption(quiet);
    if (configures) {
        parser.addOptions({model, mode, id, baud, index, noVerify});
        if (request.command == Command::Configure)
            parser.addOption(role);
    }
    if (!parser.parse(QStringList{QStringLiteral("kcradio")} + arguments.mid(1)))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        request.done = true;
        request.output = commandHelp(request.command);
        return request;
    }
    request.json = parser.isSet(json);
    request.quiet = parser.isSet(quiet);
    request.ports = parser.positionalArguments();

    const int portsWanted = request.command == Command::Ports  ? 0
                            : request.command == Command::Pair ? 2
                                                               : 1;
    if (request.ports.size() != portsWanted)
        return usageError(portsWanted == 0 ? QStringLiteral("ports takes no port")
                          : portsWanted == 1
                              ? QStringLiteral("%1 takes one port").arg(name)
                              : QStringLiteral("pair takes a ground and an airborne port"));
    if (!configures)
        return request;

    KcRadioSettings &settings = request.settings;
    const QStringList models{QStringLiteral("MR300"), QStringLiteral("MR240"),
                             QStringLiteral("MR300S")};
    settings.radioType = models.indexOf(parser.value(model).toUpper());
    if (settings.radioType < 0)
        return usageError(parser.isSet(model)
                              ? QStringLiteral("unknown model \"%1\" (MR300, MR240 or MR300S)")
                                    .arg(parser.value(model))
                              : QStringLiteral("--model is required (MR300, MR240 or MR300S)"));
    const QStringList modes{QStringLiteral("p2p"), QStringLiteral("star")};
    settings.netMode = modes.indexOf(parser.value(mode).toLower());
    if (settings.netMode < 0)
        return usageError(QStringLiteral("--mode must be p2p or star"));
    if (request.command == Command::Configure) {
        const QStringList roles{QStringLiteral("ground"), QStringLiteral("airborne")};
        settings.role = roles.indexOf(parser.value(role).toLower());
        if (settings.role < 0)
            return usageError(QStringLiteral("--role must be ground or airborne"));
    }

    request.idGiven = parser.isSet(id);
    if (request.idGiven) {
        const std::optional<QString> digits = KcRadioId::acceptedDigits(parser.value(id));
        if (!digits)
            return usageError(
                QStringLiteral("--id must be 1 to 10 digits within 0..4294967295, not \"%1\"")
                    .arg(parser.value(id)));
        settings.radioId = *digits;
    } else if (request.command == Command::Configure) {
        return usageError(QStringLiteral("--id is required"));
    } else {
        const auto seed = quint32(QDateTime::currentMSecsSinceEpoch() & 0xffffffffULL);
        settings.radioId = QString::number(KcRadioId::generate(seed));
    }

    const QList<QPair<QString, int>> rates{
        {QStringLiteral("9600"), 7}, {QStringLiteral("115200"), 1}, {QStringLiteral("230400"), 0}};
    settings.baudRateCode = 7;
    if (parser.isSet(baud)) {
        settings.baudRateCode = -1;
        for (const auto &[text, code] : rates)
            if (text == parser.value(baud).trimmed())
                settings.baudRateCode = code;
        if (settings.baudRateCode < 0)
            return usageError(QStringLiteral("--baud must be 9600, 115200 or 230400"));
    }
    if (parser.isSet(index)) {
        bool ok = false;
        settings.airborneIndex = parser.value(index).trimmed().toInt(&ok);
        if (!ok || settings.airborneIndex < 1 || settings.airborneIndex > 100)
            return usageError(QStringLiteral("--index must be 1 to 100"));
    }
    request.verify = !parser.isSet(noVerify);
    return request;
}

// --- Running ----------------------------------------------------------------

KcRadioCli::KcRadioCli(const KcCliRequest &request, QTextStream &out, QTextStream &err,
                       QObject *parent)
    : QObject(parent), mRequest(request), mOut(out), mErr(err)
{
}

QString KcRadioCli::roleName(int index) const
{
    if (mRequest.command == KcCliRequest::Command::Pair)
        return index == 0 ? QStringLiteral("ground") : QStringLiteral("airborne");
    return mRequest.settings.role == 0 ? QStringLiteral("ground") : QStringLiteral("airborne");
}

void KcRadioCli::start()
{
    switch (mRequest.command) {
    case KcCliRequest::Command::Ports:
        listPorts();
        break;
    case KcCliRequest::Command::Read:
        startRead();
        break;
    case KcCliRequest::Command::Erase:
        startErase();
        break;
    case KcCliRequest::Command::Configure:
    case KcCliRequest::Command::Pair:
        startConfiguration();
        break;
    case KcCliRequest::Command::None:
        finish(KcCliExit::Usage, QJsonObject(), QString());
        break;
    }
}

void KcRadioCli::progress(const QString &who, const QString &line)
{
    if (mRequest.quiet)
        return;
    mErr << who << ": " << line << '\n';
    mErr.flush();
}

void KcRadioCli::finish(int exitCode, const QJsonObject &result, const QString &summary)
{
    if (mFinished)
        return;
    mFinished = true;
    if (mRequest.json) {
        QJsonObject object = result;
        object.insert(QStringLiteral("exitCode"), exitCode);
        object.insert(QStringLiteral("ok"), exitCode == KcCliExit::Success);
        mOut << QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else if (!summary.isEmpty()) {
        (exitCode == KcCliExit::Success ? mOut : mErr) << summary << '\n';
    }
    mOut.flush();
    mErr.flush();
    emit finished(exitCode);
}

// --- configure and pair ------------------------------------------------------

void KcRadioCli::startConfiguration()
{
    const bool pair = mRequest.command == KcCliRequest::Command::Pair;
    for (int i = 0; i < mRequest.ports.size(); ++i) {
        KcRadioSettings settings = mRequest.settings;
        if (pair)
            settings.role = i;
        auto *job = new KcConfigJob(mRequest.ports.at(i), settings, mRequest.verify, this);
        const QString who = roleName(i) + QLatin1Char(' ') + mRequest.ports.at(i);
        connect(job, &KcConfigJob::progress, this,
                [this, who](const QString &line) { progress(who, line); });
        connect(job, &KcConfigJob::finished, this, &KcRadioCli::onJobFinished);
        mJobs.append(job);
    }
    progress(QStringLiteral("kcradio"),
             QStringLiteral("radio ID %1").arg(mRequest.settings.radioId));
    // Both radios of a pair run side by side on the one event loop.
    for (const QPointer<KcConfigJob> &job : mJobs)
        job->start();
}

namespace {
int exitCodeOf(KcConfigJob::Outcome outcome)
{
    switch (outcome) {
    case KcConfigJob::Outcome::Configured:
        return KcCliExit::Success;
    case KcConfigJob::Outcome::PortFailed:
        return KcCliExit::PortFailed;
    case KcConfigJob::Outcome::Silent:
        return KcCliExit::Silent;
    case KcConfigJob::Outcome::Aborted:
        return KcCliExit::Interrupted;
    default:
        return KcCliExit::Refused;
    }
}
} // namespace

void KcRadioCli::onJobFinished()
{
    for (const QPointer<KcConfigJob> &job : mJobs)
        if (job->outcome() == KcConfigJob::Outcome::Running)
            return;

    int exitCode = KcCliExit::Success;
    QJsonObject result{{QStringLiteral("command"), mRequest.command == KcCliRequest::Command::Pair
                                                       ? QStringLiteral("pair")
                                                       : QStringLiteral("configure")},
                       {QStringLiteral("id"), mRequest.settings.radioId}};
    QStringList summary;
    for (int i = 0; i < mJobs.size(); ++i) {
        const KcConfigJob *job = mJobs.at(i);
        const int code = exitCodeOf(job->outcome());
        exitCode = qMax(exitCode, code);
        const QJsonObject radio{
            {QStringLiteral("port"), job->portName()},
            {QStringLiteral("role"), roleName(i)},
            {QStringLiteral("outcome"), KcConfigJob::outcomeName(job->outcome())},
            {QStringLiteral("ok"), code == KcCliExit::Success},
            {QStringLiteral("rate"), job->rate()},
            {QStringLiteral("verified"), job->verified()},
            {QStringLiteral("reason"), job->reason()}};
        result.insert(mJobs.size() > 1 ? roleName(i) : QStringLiteral("radio"), radio);
        QString line = QStringLiteral("%1 %2: ").arg(roleName(i), job->portName());
        if (code == KcCliExit::Success)
            line += QStringLiteral("configured at %1 baud with ID %2%3")
                        .arg(job->rate())
                        .arg(mRequest.settings.radioId)
                        .arg(job->verified() ? QStringLiteral(", stored settings verified")
                                             : QString());
        else
            line += KcConfigJob::outcomeName(job->outcome()) + QStringLiteral(": ") + job->reason();
        summary << line;
    }
    finish(mInterrupted ? KcCliExit::Interrupted : exitCode, result,
           summary.join(QLatin1Char('\n')));
}

// --- read and erase ---------------------------------------------------------

// What a read or an erase learns from its link besides its own result.
struct KcLinkWatch
{
    QString openError;
    bool entered = false;
    int rate = 0; // the rate at which the radio first answered

    // Exit status and reason of a failed operation; refusal when the radio
    // did answer.
    QPair<int, QString> failure(const QString &port, const QString &refusal) const
    {
        if (!openError.isEmpty())
            return {KcCliExit::PortFailed,
                    QStringLiteral("cannot open %1: %2").arg(port, openError)};
        if (!entered)
            return {KcCliExit::Silent,
                    QStringLiteral("no answer to the escape at 115200, 230400 or 9600")};
        return {KcCliExit::Refused, refusal};
    }
};

std::shared_ptr<KcLinkWatch> KcRadioCli::watchLink(KcRadioCommandLink *link, const QString &port)
{
    auto watch = std::make_shared<KcLinkWatch>();
    connect(link, &KcRadioCommandLink::openFailed, this,
            [watch](const QString &, const QString &error) { watch->openError = error; });
    connect(link, &KcRadioCommandLink::commandModeEntered, this, [this, watch, link, port]() {
        if (watch->entered)
            return;
        watch->entered = true;
        watch->rate = link->baudRate();
        progress(port, QStringLiteral("command mode at %1 baud").arg(watch->rate));
    });
    connect(link, &KcRadioCommandLink::commandWritten, this, [this, port](const QString &command) {
        progress(port, QStringLiteral("> ") + command);
    });
    return watch;
}

void KcRadioCli::startRead()
{
    const QString port = mRequest.ports.first();
    auto *reader = new KcRadioParamReader(this);
    mRunning.append(reader);
    const std::shared_ptr<KcLinkWatch> watch = watchLink(reader->link(), port);
    connect(reader, &KcRadioParamReader::sigRadioIDReady, this,
            [this, watch, port](bool isSucc, const QString &, const QString &idStr, int flag) {
                QJsonObject result{{QStringLiteral("command"), QStringLiteral("read")},
                                   {QStringLiteral("port"), port}};
                if (!isSucc) {
                    const auto [code, reason] =
                        watch->failure(port, QStringLiteral("the radio listed no ID"));
                    result.insert(QStringLiteral("reason"), reason);
                    finish(code, result, QStringLiteral("%1: %2").arg(port, reason));
                    return;
                }
                const int radioRate = KcRadioProtocol::baudRateForCode(flag);
                result.insert(QStringLiteral("id"), idStr);
                result.insert(QStringLiteral("baudRateCode"), flag);
                result.insert(QStringLiteral("rate"), radioRate);
                result.insert(QStringLiteral("answeredAt"), watch->rate);
                finish(KcCliExit::Success, result,
                       QStringLiteral("%1: ID %2, rate %3 (S102=%4)")
                           .arg(port, idStr)
                           .arg(radioRate)
                           .arg(flag));
            });
    reader->readRadioParam(port);
}

void KcRadioCli::startErase()
{
    const QString port = mRequest.ports.first();
    auto *eraser = new KcRadioEraser(this);
    mRunning.append(eraser);
    const std::shared_ptr<KcLinkWatch> watch = watchLink(eraser->link(), port);
    connect(eraser, &KcRadioEraser::sigEarseRadioResult, this, [this, watch, port](bool isSucc) {
        QJsonObject result{{QStringLiteral("command"), QStringLiteral("erase")},
                           {QStringLiteral("port"), port}};
        if (!isSucc) {
            const auto [code, reason] =
                watch->failure(port, QStringLiteral("the radio did not acknowledge"));
            result.insert(QStringLiteral("reason"), reason);
            finish(code, result, QStringLiteral("%1: %2").arg(port, reason));
            return;
        }
        finish(KcCliExit::Success, result,
               QStringLiteral("%1: erased (serial rate code 7, 9600)").arg(port));
    });
    eraser->earseRadio(port);
}

// --- ports -------------------------------------------------------------------

void KcRadioCli::listPorts()
{
    QJsonArray array;
    QStringList lines;
    for (const KcSerialPorts::Port &port : KcSerialPorts::list()) {
        const QString usb = port.hasUsbIds ? QStringLiteral("%1:%2")
                                                 .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                                                 .arg(port.productId, 4, 16, QLatin1Char('0'))
                                           : QString();
        array.append(QJsonObject{{QStringLiteral("name"), port.name},
                                 {QStringLiteral("description"), port.description},
                                 {QStringLiteral("manufacturer"), port.manufacturer},
                                 {QStringLiteral("serialNumber"), port.serialNumber},
                                 {QStringLiteral("usb"), usb},
                                 {QStringLiteral("busy"), port.busy}});
        QStringList details;
        for (const QString &detail : {port.description, port.manufacturer, port.serialNumber, usb})
            if (!detail.isEmpty())
                details << detail;
        lines << QStringLiteral("%1%2%3").arg(
            port.name,
            details.isEmpty() ? QString()
                              : QStringLiteral("  ") + details.join(QStringLiteral(", ")),
            port.busy ? QStringLiteral("  (busy)") : QString());
    }
    finish(KcCliExit::Success, QJsonObject{{QStringLiteral("ports"), array}},
           lines.isEmpty() ? QStringLiteral("no serial ports") : lines.join(QLatin1Char('\n')));
}

// --- interruption ------------------------------------------------------------

void KcRadioCli::interrupt()
{
    if (mFinished || mInterrupted)
        return;
    mInterrupted = true;
    progress(QStringLiteral("kcradio"), QStringLiteral("interrupted"));
    for (const QPointer<KcConfigJob> &job : mJobs)
        if (job)
            job->abort();
    if (mRunning.isEmpty())
        return; // the jobs end the run
    // A read or an erase that holds the radio in command mode sends it back.
    QList<KcRadioCommandLink *> links;
    bool wrote = false;
    for (QObject *operation : mRunning) {
        KcRadioCommandLink *link = nullptr;
        if (auto *reader = qobject_cast<KcRadioParamReader *>(operation))
            link = reader->link();
        else if (auto *eraser = qobject_cast<KcRadioEraser *>(operation))
            link = eraser->link();
        if (!link)
            continue;
        links << link;
        const QString last = link->lastCmd();
        const bool inCommandMode =
            !last.isEmpty() && last != QLatin1String("+++") && last != QLatin1String(DataModeCmd);
        link->stopCommandModeEntry();
        if (inCommandMode && link->isPortOpen()) {
            link->writeCommand(QString::fromLatin1(DataModeCmd));
            wrote = true;
        }
    }
    auto release = [this, links]() {
        for (KcRadioCommandLink *link : links)
            link->closeSerialPort();
        finish(KcCliExit::Interrupted, QJsonObject{{QStringLiteral("interrupted"), true}},
               QStringLiteral("interrupted"));
    };
    if (wrote)
        KcRadioTimer::singleShot(KcRadioTiming::replyWaitMs(), this, release);
    else
        release();
}
