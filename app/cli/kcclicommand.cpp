#include "kcclicommand.h"

#include "kcradiocommandlink.h"
#include "kcradioid.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcradiowords.h"
#include "kcreplytracker.h"

#include <QCommandLineParser>

#include <algorithm>

KcCliCommand::KcCliCommand(KcRadioCli *cli) : QObject(cli), mCli(cli) {}

void KcCliCommand::interrupt()
{
    finish(KcCliExit::Interrupted, QJsonObject{{QStringLiteral("interrupted"), true}},
           QStringLiteral("interrupted"));
}

void KcCliCommand::interruptWhenReleased(const QList<KcRadioCommandLink *> &links)
{
    auto releasing = [links]() {
        return std::any_of(links.cbegin(), links.cend(),
                           [](const KcRadioCommandLink *link) { return link->isReleasing(); });
    };
    if (!releasing()) {
        KcCliCommand::interrupt();
        return;
    }
    for (KcRadioCommandLink *link : links)
        connect(link, &KcRadioCommandLink::portReleased, this, [this, releasing]() {
            if (!releasing())
                KcCliCommand::interrupt();
        });
}

void KcCliCommand::setUpLink(KcRadioCommandLink *link)
{
    link->setRecoversCommandMode(true);
    mLinks << link;
}

void KcCliCommand::finish(int exitCode, const QJsonObject &result, const QString &summary)
{
    whenReleased([this, exitCode, result, summary]() { mCli->finish(exitCode, result, summary); });
}

void KcCliCommand::whenReleased(const std::function<void()> &then)
{
    const QList<KcRadioCommandLink *> links = mLinks;
    auto releasing = [links]() {
        return std::any_of(links.cbegin(), links.cend(),
                           [](const KcRadioCommandLink *link) { return link->isReleasing(); });
    };
    if (!releasing()) {
        then();
        return;
    }
    auto done = std::make_shared<bool>(false);
    for (KcRadioCommandLink *link : links)
        connect(link, &KcRadioCommandLink::portReleased, this, [releasing, then, done]() {
            if (*done || releasing())
                return;
            *done = true;
            then();
        });
}

QPair<int, QString> KcLinkWatch::failure(const QString &port, const QString &refusal) const
{
    // A port lost first and then not opened again was lost.
    if (link && link->portsLost() > 0)
        return {KcCliExit::PortFailed, QStringLiteral("port lost: %1").arg(link->portName())};
    if (!openError.isEmpty())
        return {KcCliExit::PortFailed, QStringLiteral("cannot open %1: %2").arg(port, openError)};
    if (!entered)
        return {KcCliExit::Silent,
                link ? KcConfigJob::noEscapeAnswer(*link)
                     : QStringLiteral("no answer to the escape at 115200, 230400 or 9600")};
    return {KcCliExit::Refused, refusal};
}

std::shared_ptr<KcLinkWatch> kcCliWatchLink(KcRadioCli *cli, KcRadioCommandLink *link,
                                            const QString &port)
{
    auto watch = std::make_shared<KcLinkWatch>();
    QObject::connect(link, &KcRadioCommandLink::openFailed, cli,
                     [watch](const QString &, const QString &error) { watch->openError = error; });
    watch->link = link;
    QObject::connect(
        link, &KcRadioCommandLink::commandModeEntered, cli, [cli, watch, link, port]() {
            if (watch->entered)
                return;
            watch->entered = true;
            watch->rate = link->baudRate();
            cli->progress(port, QStringLiteral("command mode at %1 baud").arg(watch->rate));
        });
    QObject::connect(
        link, &KcRadioCommandLink::commandWritten, cli,
        [cli, watch, link, port](const QString &command) {
            watch->partial.clear();
            watch->sinceCommand.start();
            if (command == QLatin1String(KcRadioProtocol::Escape) && !watch->entered)
                cli->progress(port, QStringLiteral("> +++ at %1 baud").arg(link->baudRate()));
            else if (command == QLatin1String(KcRadioProtocol::AttentionCmd) && !watch->entered)
                cli->progress(port, QStringLiteral("> AT at %1 baud (in command mode already?)")
                                        .arg(link->baudRate()));
            else
                cli->progress(port, QStringLiteral("> ") + command);
        });
    QObject::connect(
        link, &KcRadioCommandLink::chunkReceived, cli, [cli, watch, port](const QByteArray &chunk) {
            watch->partial += chunk;
            // A reply line ends at CR or LF.
            auto lineEnd = [watch]() {
                for (int i = 0; i < watch->partial.size(); ++i)
                    if (watch->partial.at(i) == '\r' || watch->partial.at(i) == '\n')
                        return i;
                return -1;
            };
            for (int end = lineEnd(); end >= 0; end = lineEnd()) {
                const QByteArray line = watch->partial.left(end).trimmed();
                watch->partial.remove(0, end + 1);
                if (line.isEmpty())
                    continue;
                QString text = QStringLiteral("< ") + QString::fromLatin1(line);
                if (watch->sinceCommand.isValid() &&
                    (KcReplyTracker::isOkLine(line) || KcReplyTracker::isErrorLine(line)))
                    text += QStringLiteral(" (%1 ms)").arg(watch->sinceCommand.elapsed());
                cli->progress(port, text);
            }
        });
    return watch;
}

int kcCliExitCodeOf(KcConfigJob::Outcome outcome)
{
    switch (outcome) {
    case KcConfigJob::Outcome::Configured:
        return KcCliExit::Success;
    case KcConfigJob::Outcome::PortFailed:
    case KcConfigJob::Outcome::PortLost:
        return KcCliExit::PortFailed;
    case KcConfigJob::Outcome::Silent:
        return KcCliExit::Silent;
    case KcConfigJob::Outcome::Aborted:
        return KcCliExit::Interrupted;
    default:
        return KcCliExit::Refused;
    }
}

namespace KcCliOptions {

QString requirePorts(const KcCliRequest &request, int wanted)
{
    if (request.ports.size() == wanted)
        return QString();
    if (wanted == 0)
        return QStringLiteral("%1 takes no port").arg(request.name);
    if (wanted == 1)
        return QStringLiteral("%1 takes one port").arg(request.name);
    return QStringLiteral("%1 takes %2 ports").arg(request.name).arg(wanted);
}

QCommandLineOption model()
{
    return QCommandLineOption(QStringLiteral("model"), QString(), QStringLiteral("model"));
}

QCommandLineOption mode()
{
    return QCommandLineOption(QStringLiteral("mode"), QString(), QStringLiteral("mode"));
}

QCommandLineOption baud()
{
    return QCommandLineOption(QStringLiteral("baud"), QString(), QStringLiteral("rate"));
}

QCommandLineOption index()
{
    return QCommandLineOption(QStringLiteral("index"), QString(), QStringLiteral("n"));
}

QCommandLineOption id()
{
    return QCommandLineOption(QStringLiteral("id"), QString(), QStringLiteral("id"));
}

QCommandLineOption noVerify()
{
    return QCommandLineOption(QStringLiteral("no-verify"), QString());
}

QString readModelAndMode(const QCommandLineParser &parser, KcRadioSettings &settings)
{
    const QString model = parser.value(QStringLiteral("model"));
    settings.radioType = KcRadioWords::models().indexOf(model.toUpper());
    if (settings.radioType < 0)
        return parser.isSet(QStringLiteral("model"))
                   ? QStringLiteral("unknown model \"%1\" (MR300, MR240 or MR300S)").arg(model)
                   : QStringLiteral("--model is required (MR300, MR240 or MR300S)");
    settings.netMode =
        KcRadioWords::modes().indexOf(parser.value(QStringLiteral("mode")).toLower());
    if (settings.netMode < 0)
        return QStringLiteral("--mode must be p2p or star");
    return QString();
}

QString readId(const QCommandLineParser &parser, KcRadioSettings &settings, bool &given)
{
    given = parser.isSet(QStringLiteral("id"));
    if (!given)
        return QString();
    const QString text = parser.value(QStringLiteral("id"));
    const std::optional<QString> digits = KcRadioId::acceptedDigits(text);
    if (!digits)
        return QStringLiteral("--id must be 1 to 10 digits within 0..4294967295, not \"%1\"")
            .arg(text);
    settings.radioId = *digits;
    return QString();
}

QString readBaudAndIndex(const QCommandLineParser &parser, KcRadioSettings &settings,
                         bool withAirborne)
{
    settings.baudRateCode = 7;
    // An option that would change nothing is refused, not dropped: the user
    // meant something by it.
    const bool star = settings.netMode == KcRadioProtocol::Star;
    if (parser.isSet(QStringLiteral("baud")) &&
        KcRadioProtocol::baudRateCodeFor(settings.netMode, settings.radioType, -1) >= 0)
        return QStringLiteral("--baud applies to a p2p MR300 or MR300S only; %1 runs at %2 baud")
            .arg(star ? QStringLiteral("a star radio") : QStringLiteral("an MR240"))
            .arg(KcRadioProtocol::baudRateForCode(
                KcRadioProtocol::baudRateCodeFor(settings.netMode, settings.radioType, -1)));
    if (parser.isSet(QStringLiteral("index")) && !(star && withAirborne))
        return QStringLiteral("--index applies to a star airborne radio only, not to %1")
            .arg(star ? QStringLiteral("a ground radio") : QStringLiteral("a p2p radio"));
    if (parser.isSet(QStringLiteral("baud"))) {
        settings.baudRateCode = -1;
        for (const auto &[text, code] : KcRadioWords::rates())
            if (text == parser.value(QStringLiteral("baud")).trimmed())
                settings.baudRateCode = code;
        if (settings.baudRateCode < 0)
            return QStringLiteral("--baud must be 9600, 115200 or 230400");
    }
    if (parser.isSet(QStringLiteral("index"))) {
        bool ok = false;
        settings.airborneIndex = parser.value(QStringLiteral("index")).trimmed().toInt(&ok);
        if (!ok || settings.airborneIndex < 1 || settings.airborneIndex > 100)
            return QStringLiteral("--index must be 1 to 100");
    }
    return QString();
}

} // namespace KcCliOptions
