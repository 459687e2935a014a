// kcradio check: whether radios already set up form a working network,
// from their listings alone; nothing is written to them.
#include "kcclicommand.h"

#include "fleet/kcfleetcheck.h"
#include "kcradiowords.h"
#include "kcradioparamreader.h"
#include "kcradiotiming.h"
#include "kcserialports.h"
#include "kcsettingslisting.h"

#include <QCommandLineParser>
#include <QJsonArray>

namespace {

class CheckCommand : public KcCliCommand
{
public:
    using KcCliCommand::KcCliCommand;

    void start() override
    {
        // Every radio is read at once, each on its own port.
        const QStringList &ports = request().ports;
        for (int i = 0; i < ports.size(); ++i) {
            auto *reader = new KcRadioParamReader(this);
            setUpLink(reader->link());
            reader->setCadence(request().cadence);
            // As long as a command's answer may take: a slow radio still lists.
            reader->setListingWaitMs(KcRadioTiming::commandIntervalMs());
            mReaders.append(reader);
            mWatches.append(kcCliWatchLink(cli(), reader->link(), ports.at(i)));
            mDone.append(false);
            connect(reader, &KcRadioParamReader::sigRadioIDReady, this, [this, i]() {
                mDone[i] = true;
                if (!mDone.contains(false))
                    judge();
            });
        }
        for (int i = 0; i < ports.size(); ++i)
            mReaders.at(i)->readRadioParam(ports.at(i));
    }

    void interrupt() override
    {
        QList<KcRadioCommandLink *> links;
        for (KcRadioParamReader *reader : mReaders) {
            reader->abort();
            links << reader->link();
        }
        interruptWhenReleased(links);
    }

private:
    QString who(int i) const
    {
        return KcRadioWords::roles().at(i == 0 ? 0 : 1) + QLatin1Char(' ') + request().ports.at(i);
    }

    void judge()
    {
        const KcRadioSettings &settings = request().settings;
        QJsonArray radios;
        QStringList lines;
        QList<QMap<int, QString>> registers;
        int failure = KcCliExit::Success;
        for (int i = 0; i < mReaders.size(); ++i) {
            const QByteArray listing = mReaders.at(i)->listing();
            registers << KcSettingsListing::registers(listing);
            if (listing.isEmpty()) {
                const auto [code, reason] = mWatches.at(i)->failure(
                    request().ports.at(i), QStringLiteral("the radio did not list its settings"));
                failure = qMax(failure, code);
                lines << who(i) + QStringLiteral(": ") + reason;
                radios.append(QJsonObject{{QStringLiteral("port"), request().ports.at(i)},
                                          {QStringLiteral("reason"), reason}});
            }
        }
        QJsonObject result{{QStringLiteral("command"), QStringLiteral("check")},
                           {QStringLiteral("model"), KcRadioWords::models().at(settings.radioType)},
                           {QStringLiteral("mode"), KcRadioWords::modes().at(settings.netMode)}};
        if (failure != KcCliExit::Success) {
            result.insert(QStringLiteral("radios"), radios);
            finish(failure, result, lines.join(QLatin1Char('\n')));
            return;
        }

        const QList<KcFleetCheck::Finding> findings =
            KcFleetCheck::judge(settings.radioType, settings.netMode, registers);
        for (int i = 0; i < registers.size(); ++i) {
            QJsonObject held;
            QStringList values;
            for (int reg : {102, 103, 104, 105, 113})
                if (registers.at(i).contains(reg)) {
                    held.insert(QStringLiteral("S%1").arg(reg), registers.at(i).value(reg));
                    values << QStringLiteral("S%1=%2").arg(reg).arg(registers.at(i).value(reg));
                }
            QJsonArray problems;
            QStringList said;
            for (const KcFleetCheck::Finding &finding : findings)
                if (finding.radio == i) {
                    problems.append(QJsonObject{
                        {QStringLiteral("register"), QStringLiteral("S%1").arg(finding.reg)},
                        {QStringLiteral("holds"), finding.held},
                        {QStringLiteral("problem"), finding.describe()}});
                    said << finding.describe();
                }
            radios.append(QJsonObject{{QStringLiteral("port"), request().ports.at(i)},
                                      {QStringLiteral("role"), KcRadioWords::roles().at(i ? 1 : 0)},
                                      {QStringLiteral("registers"), held},
                                      {QStringLiteral("problems"), problems}});
            lines << who(i) + QStringLiteral(": ") +
                         (said.isEmpty() ? values.join(QLatin1Char(' ')) + QStringLiteral(", fits")
                                         : said.join(QStringLiteral("; ")));
        }
        result.insert(QStringLiteral("radios"), radios);
        lines << (findings.isEmpty()
                      ? QStringLiteral("the radios form a working %1 network")
                            .arg(KcRadioWords::modes().at(settings.netMode))
                      : QStringLiteral("%1 register(s) differ from a working network")
                            .arg(findings.size()));
        finish(findings.isEmpty() ? KcCliExit::Success : KcCliExit::Refused, result,
               lines.join(QLatin1Char('\n')));
    }

    QList<KcRadioParamReader *> mReaders;
    QList<std::shared_ptr<KcLinkWatch>> mWatches;
    QList<bool> mDone;
};

} // namespace

KcCliCommandEntry kcCliCheckCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Check;
    entry.name = QStringLiteral("check");
    entry.synopsis = QStringLiteral("check GROUND AIR...");
    entry.summary = QStringLiteral("tell whether radios form a working network; writes nothing");
    entry.help = QStringLiteral(
        "Usage: kcradio check --model MODEL --mode p2p|star GROUND AIRBORNE [AIRBORNE...]\n"
        "Reads every radio (escape, AT&V, ATA; nothing is written) and tells whether\n"
        "they form a working network: the same S104 (ID) on all; each radio's S102,\n"
        "S103, S113 (and S105 for a star airborne radio) as a configuration for its\n"
        "role and model leaves them; distinct star indexes.\n"
        "Exit status 0 when they do, 1 with each differing register named per radio.\n"
        "A listing shows the registers a radio runs with: a radio that acknowledges\n"
        "\"AT&W\" without storing passes check (and a configuration's verification)\n"
        "until it is power-cycled; power-cycle it and check again to be sure.\n\n"
        "  --model MODEL         MR300, MR240 or MR300S\n"
        "  --mode MODE           p2p (one airborne port) or star (1 to 100)\n"
        "  --cadence ack|fixed   how commands are paced (see kcradio --help)\n"
        "  --json                print the result as one JSON object\n"
        "  --quiet               print the result only, no progress\n");
    entry.options = {KcCliOptions::model(), KcCliOptions::mode()};
    entry.parse = [](const QCommandLineParser &parser, KcCliRequest &request) {
        QString error = KcCliOptions::readModelAndMode(parser, request.settings);
        if (!error.isEmpty())
            return error;
        const int airborne = request.ports.size() - 1;
        if (airborne < 1 || (request.settings.netMode == 0 && airborne != 1) || airborne > 100)
            return request.settings.netMode == 0
                       ? QStringLiteral("check --mode p2p takes a ground and an airborne port")
                       : QStringLiteral("check --mode star takes a ground port and 1 to 100 "
                                        "airborne ports");
        for (int i = 0; i < request.ports.size(); ++i)
            for (int j = 0; j < i; ++j)
                if (KcSerialPorts::deviceIdentity(request.ports.at(i)) ==
                    KcSerialPorts::deviceIdentity(request.ports.at(j)))
                    return QStringLiteral("%1 and %2 are one port")
                        .arg(request.ports.at(j), request.ports.at(i));
        request.makeCommand = [](KcRadioCli *cli) { return new CheckCommand(cli); };
        return QString();
    };
    return entry;
}
