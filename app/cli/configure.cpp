// kcradio configure and kcradio pair: one radio, or a ground and an airborne
// radio side by side with one ID, each configured and read back.
#include "kcclicommand.h"

#include "kcradioid.h"
#include "kcradioprotocol.h"
#include "kcradiowords.h"
#include "kcserialports.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QPointer>

#include <optional>

namespace {

const char ConfigureOptionsHelp[] = R"(  --model MODEL         MR300, MR240 or MR300S
  --mode MODE           p2p or star
  --baud RATE           serial rate for a P2P MR300 or MR300S: 9600 (default),
                        115200 or 230400; refused for an MR240 or a star
                        radio (set to 115200)
  --index N             star airborne radio's index in the network, 1 to 100
                        (default 1); refused for a ground or a p2p radio
  --no-verify           do not read the stored settings back
  --cadence ack|fixed   how commands are paced (see kcradio help)
  --json                print the result as one JSON object
  --quiet               print the result only, no progress
)";

const char SharedOptionsHelp[] = R"(Options of configure and pair:
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
)";

// The listed registers keyed "S104", with the values as listed.
QJsonObject registersJson(const QMap<int, QString> &registers)
{
    QJsonObject object;
    for (auto it = registers.cbegin(); it != registers.cend(); ++it)
        object.insert(QStringLiteral("S%1").arg(it.key()), it.value());
    return object;
}

class ConfigureCommand : public KcCliCommand
{
public:
    // linkTest: a pair then tested for traffic with these options.
    ConfigureCommand(KcRadioCli *cli, std::optional<KcLinkTest::Options> linkTest)
        : KcCliCommand(cli), mLinkTest(linkTest)
    {
    }

    void start() override
    {
        const KcCliRequest &r = request();
        for (int i = 0; i < r.ports.size(); ++i) {
            KcRadioSettings settings = r.settings;
            if (isPair())
                settings.role = i;
            auto *job = new KcConfigJob(r.ports.at(i), settings, r.verify, this);
            job->setCadence(r.cadence);
            const QString who = roleName(i) + QLatin1Char(' ') + r.ports.at(i);
            connect(job, &KcConfigJob::progress, this,
                    [this, who](const QString &line) { progress(who, line); });
            connect(job, &KcConfigJob::finished, this, &ConfigureCommand::onJobFinished);
            mJobs.append(job);
        }
        progress(QStringLiteral("kcradio"), QStringLiteral("radio ID %1").arg(r.settings.radioId));
        // Both radios of a pair run side by side on the one event loop.
        for (const QPointer<KcConfigJob> &job : mJobs)
            job->start();
    }

    // The jobs end the run: each sends its radio back to data mode first.
    void interrupt() override
    {
        if (mTest)
            mTest->abort();
        for (const QPointer<KcConfigJob> &job : mJobs)
            if (job)
                job->abort();
    }

private:
    bool isPair() const { return request().command == KcCliRequest::Command::Pair; }

    QString roleName(int index) const
    {
        return KcRadioWords::roles().at(isPair() ? index : request().settings.role);
    }

    void onJobFinished()
    {
        for (const QPointer<KcConfigJob> &job : mJobs)
            if (job->outcome() == KcConfigJob::Outcome::Running)
                return;

        int exitCode = KcCliExit::Success;
        QJsonObject result{{QStringLiteral("command"), request().name},
                           {QStringLiteral("id"), request().settings.radioId}};
        QStringList summary;
        const int rateSet = request().settings.serialRate();
        for (int i = 0; i < mJobs.size(); ++i) {
            const KcConfigJob *job = mJobs.at(i);
            const int code = kcCliExitCodeOf(job->outcome());
            exitCode = qMax(exitCode, code);
            const QJsonObject radio{
                {QStringLiteral("port"), job->portName()},
                {QStringLiteral("role"), roleName(i)},
                {QStringLiteral("outcome"), KcConfigJob::outcomeName(job->outcome())},
                {QStringLiteral("ok"), code == KcCliExit::Success},
                // The rate the radio answered at, and the one it now runs at.
                {QStringLiteral("rateFound"), job->rate()},
                {QStringLiteral("rateSet"), code == KcCliExit::Success ? rateSet : 0},
                {QStringLiteral("verified"), job->verified()},
                {QStringLiteral("reason"), job->reason()},
                {QStringLiteral("seconds"), qRound(job->seconds() * 10) / 10.0},
                {QStringLiteral("registers"), registersJson(job->registers())}};
            result.insert(mJobs.size() > 1 ? roleName(i) : QStringLiteral("radio"), radio);
            QString line = QStringLiteral("%1 %2: ").arg(roleName(i), job->portName());
            if (code == KcCliExit::Success)
                line += QStringLiteral("configured with ID %1%2%3")
                            .arg(request().settings.radioId,
                                 job->rate() == rateSet
                                     ? QStringLiteral(" at %1 baud").arg(rateSet)
                                     : QStringLiteral(", found at %1 baud, set to %2")
                                           .arg(job->rate())
                                           .arg(rateSet),
                                 job->verified() ? QStringLiteral(", stored settings verified")
                                                 : QString());
            else
                line +=
                    KcConfigJob::outcomeName(job->outcome()) + QStringLiteral(": ") + job->reason();
            summary << line;
        }
        if (exitCode == KcCliExit::Success && mLinkTest && !cli()->isInterrupted()) {
            testLink(result, summary.join(QLatin1Char('\n')));
            return;
        }
        finish(cli()->isInterrupted() ? KcCliExit::Interrupted : exitCode, result,
               summary.join(QLatin1Char('\n')));
    }

    // The configured pair, at the rate and with the ID it was verified to
    // hold (read first when not verified), tested for traffic.
    void testLink(QJsonObject result, const QString &summary)
    {
        QList<KcLinkRadio> radios;
        for (int i = 0; i < mJobs.size(); ++i) {
            const QMap<int, QString> stored = mJobs.at(i)->registers();
            const bool known = stored.contains(102) && stored.contains(104);
            radios.append(
                KcLinkRadio{mJobs.at(i)->portName(), roleName(i),
                            known ? KcRadioProtocol::baudRateForCode(stored.value(102).toInt()) : 0,
                            known ? stored.value(104) : QString()});
        }
        KcLinkTest::Options options = *mLinkTest;
        options.cadence = request().cadence;
        mTest = new KcLinkTest(radios, options, this);
        kcCliShowLinkProgress(mTest, cli());
        connect(mTest, &KcLinkTest::finished, this, [this, result, summary]() mutable {
            result.insert(QStringLiteral("link"), mTest->toJson());
            finish(kcCliLinkExitCode(*mTest), result,
                   summary + QLatin1Char('\n') + kcCliLinkSummary(*mTest));
        });
        mTest->start();
    }

    QList<QPointer<KcConfigJob>> mJobs;
    std::optional<KcLinkTest::Options> mLinkTest;
    KcLinkTest *mTest = nullptr;
};

// What configure and pair read alike; role and ID are theirs.
QString readRadioOptions(const QCommandLineParser &parser, KcCliRequest &request)
{
    QString error = KcCliOptions::readModelAndMode(parser, request.settings);
    if (error.isEmpty() && request.command == KcCliRequest::Command::Configure) {
        request.settings.role =
            KcRadioWords::roles().indexOf(parser.value(QStringLiteral("role")).toLower());
        if (request.settings.role < 0)
            error = QStringLiteral("--role must be ground or airborne");
    }
    if (error.isEmpty())
        error = KcCliOptions::readId(parser, request.settings, request.idGiven);
    if (error.isEmpty() && !request.idGiven) {
        if (request.command == KcCliRequest::Command::Configure)
            return QStringLiteral("--id is required");
        const auto seed = quint32(QDateTime::currentMSecsSinceEpoch() & 0xffffffffULL);
        request.settings.radioId = QString::number(KcRadioId::generate(seed));
    }
    if (error.isEmpty())
        error = KcCliOptions::readBaudAndIndex(parser, request.settings,
                                               request.command == KcCliRequest::Command::Pair ||
                                                   request.settings.role == 1);
    request.verify = !parser.isSet(QStringLiteral("no-verify"));
    std::optional<KcLinkTest::Options> linkTest;
    if (error.isEmpty() && request.command == KcCliRequest::Command::Pair &&
        parser.isSet(QStringLiteral("link-test"))) {
        linkTest = KcLinkTest::Options();
        error = kcCliReadLinkOptions(parser, *linkTest);
    }
    request.makeCommand = [linkTest](KcRadioCli *cli) {
        return new ConfigureCommand(cli, linkTest);
    };
    return error;
}

QList<QCommandLineOption> radioOptions()
{
    using namespace KcCliOptions;
    return {model(), mode(), id(), baud(), index(), noVerify()};
}

} // namespace

KcCliCommandEntry kcCliConfigureCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Configure;
    entry.name = QStringLiteral("configure");
    entry.synopsis = QStringLiteral("configure PORT ...");
    entry.summary = QStringLiteral("configure one radio, then read its settings back");
    entry.help =
        QStringLiteral("Usage: kcradio configure PORT --model MODEL --mode MODE --role ROLE "
                       "--id N [OPTIONS]\n"
                       "Configures one radio as the window does, then reads the stored\n"
                       "S102, S104 (and S105) back and compares them with what was sent.\n\n"
                       "  --role ROLE           ground or airborne\n"
                       "  --id N                radio ID, 1 to 10 digits, 0 to 4294967295\n") +
        QString::fromLatin1(ConfigureOptionsHelp);
    entry.generalHelp = QString::fromLatin1(SharedOptionsHelp);
    entry.options = radioOptions();
    entry.options << QCommandLineOption(QStringLiteral("role"), QString(), QStringLiteral("role"));
    entry.parse = [](const QCommandLineParser &parser, KcCliRequest &request) {
        const QString error = KcCliOptions::requirePorts(request, 1);
        return error.isEmpty() ? readRadioOptions(parser, request) : error;
    };
    return entry;
}

KcCliCommandEntry kcCliPairCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Pair;
    entry.name = QStringLiteral("pair");
    entry.synopsis = QStringLiteral("pair GROUND AIRBORNE");
    entry.summary = QStringLiteral("configure a ground and an airborne radio at once");
    entry.help =
        QStringLiteral("Usage: kcradio pair GROUND_PORT AIRBORNE_PORT --model MODEL --mode MODE "
                       "[--id N] [OPTIONS]\n"
                       "Configures both radios of a pair at the same time with one radio ID, then\n"
                       "reads both back. Without --id a fresh ID is generated.\n"
                       "The exit status is the higher of the two radios'.\n\n"
                       "  --id N                radio ID, 1 to 10 digits, 0 to 4294967295\n") +
        QString::fromLatin1(ConfigureOptionsHelp);
    entry.help +=
        QStringLiteral("  --link-test           then send counted frames each way through the\n"
                       "                        pair (as \"kcradio link\" does); exit 1 when the\n"
                       "                        link fails\n") +
        kcCliLinkOptionsHelp();
    entry.options = radioOptions() + kcCliLinkOptions();
    entry.options << QCommandLineOption(QStringLiteral("link-test"), QString());
    entry.parse = [](const QCommandLineParser &parser, KcCliRequest &request) {
        if (request.ports.size() != 2)
            return QStringLiteral("pair takes a ground and an airborne port");
        if (KcSerialPorts::deviceIdentity(request.ports.at(0)) ==
            KcSerialPorts::deviceIdentity(request.ports.at(1)))
            return QStringLiteral("the ground and the airborne radio need two ports, not %1 twice")
                .arg(request.ports.at(0));
        return readRadioOptions(parser, request);
    };
    return entry;
}
