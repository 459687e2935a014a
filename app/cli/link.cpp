// kcradio link: counted frames through a ground radio and its airborne
// radios, each way, to prove that they talk to each other.
#include "kcclicommand.h"

#include "kclinktest.h"
#include "kcserialports.h"

#include <QCommandLineParser>

namespace {

const char LinkOptionsHelp[] =
    R"(  --seconds S           how long each direction sends, in whole seconds,
                        1 to 3600 (default 2); then the receivers wait while
                        frames keep coming (until 1 s, or twice the slowest
                        latency, passes without one), up to 10 s more; a
                        frame that comes later still is counted as late
  --rate BYTES_PER_S    offered load (default 1000), never more than half
                        what the slower serial line carries
  --min-delivery F      share of frames each direction must deliver intact
                        to pass, 0 to 1 (default 0.99); a direction that
                        delivers no frame never passes
)";

class LinkCommand : public KcCliCommand
{
public:
    LinkCommand(KcRadioCli *cli, const KcLinkTest::Options &options)
        : KcCliCommand(cli), mOptions(options)
    {
    }

    void start() override
    {
        QList<KcLinkRadio> radios;
        for (int i = 0; i < request().ports.size(); ++i)
            radios.append(KcLinkRadio{
                request().ports.at(i),
                i == 0 ? QStringLiteral("ground") : QStringLiteral("airborne"), 0, QString()});
        mOptions.cadence = request().cadence;
        mTest = new KcLinkTest(radios, mOptions, this);
        kcCliShowLinkProgress(mTest, cli());
        connect(mTest, &KcLinkTest::finished, this, [this]() {
            QJsonObject result = mTest->toJson();
            result.insert(QStringLiteral("command"), QStringLiteral("link"));
            finish(kcCliLinkExitCode(*mTest), result, kcCliLinkSummary(*mTest));
        });
        mTest->start();
    }

    // The test ends the run: the radios stay in data mode, a radio being read
    // is sent back there first.
    void interrupt() override { mTest->abort(); }

private:
    KcLinkTest::Options mOptions;
    KcLinkTest *mTest = nullptr;
};

} // namespace

void kcCliShowLinkProgress(KcLinkTest *test, KcRadioCli *cli)
{
    auto who = [test](int radio) { return test->radios().at(radio).who(); };
    QObject::connect(test, &KcLinkTest::commandModeEntered, cli, [cli, who](int radio, int rate) {
        cli->progress(who(radio), QStringLiteral("command mode at %1 baud").arg(rate));
    });
    QObject::connect(test, &KcLinkTest::radioRead, cli, [cli, who, test](int radio) {
        const KcLinkRadio &read = test->radios().at(radio);
        cli->progress(who(radio),
                      QStringLiteral("ID %1, serial rate %2").arg(read.id).arg(read.rate));
    });
    QObject::connect(
        test, &KcLinkTest::trafficStarted, cli, [cli](int bytesPerSecond, int seconds) {
            cli->progress(
                QStringLiteral("link"),
                QStringLiteral("%1 bytes/s for %2 s each way").arg(bytesPerSecond).arg(seconds));
        });
    QObject::connect(
        test, &KcLinkTest::frames, cli, [cli, who](int from, int to, int sent, int received) {
            cli->progress(who(from), QStringLiteral("to %1: %2 frames sent, %3 received")
                                         .arg(who(to))
                                         .arg(sent)
                                         .arg(received));
        });
}

int kcCliLinkExitCode(const KcLinkTest &test)
{
    switch (test.outcome()) {
    case KcLinkTest::Outcome::Linked:
        return KcCliExit::Success;
    case KcLinkTest::Outcome::PortFailed:
        return KcCliExit::PortFailed;
    case KcLinkTest::Outcome::Silent:
        return KcCliExit::Silent;
    case KcLinkTest::Outcome::Interrupted:
        return KcCliExit::Interrupted;
    default:
        return KcCliExit::Refused;
    }
}

QString kcCliLinkSummary(const KcLinkTest &test)
{
    QString text = test.rows().isEmpty() ? QString() : test.table() + QLatin1Char('\n');
    if (test.outcome() == KcLinkTest::Outcome::Linked) {
        double lowest = 1.0;
        for (const KcLinkTest::Row &row : test.rows())
            lowest = qMin(lowest, row.tally.delivery());
        return text + QStringLiteral("link passes: every direction delivered at least %1 % of "
                                     "its frames (%2 % needed)")
                          .arg(lowest * 100.0, 0, 'f', 1)
                          .arg(test.options().minDelivery * 100.0, 0, 'f', 1);
    }
    if (test.outcome() == KcLinkTest::Outcome::Interrupted)
        return text + QStringLiteral("link test interrupted; the radios are left in data mode");
    return text + QStringLiteral("link fails: ") + test.reason();
}

QString kcCliReadLinkOptions(const QCommandLineParser &parser, KcLinkTest::Options &options)
{
    bool ok = true;
    if (parser.isSet(QStringLiteral("seconds"))) {
        options.seconds = parser.value(QStringLiteral("seconds")).toInt(&ok);
        if (!ok || options.seconds < 1 || options.seconds > 3600)
            return QStringLiteral("--seconds must be 1 to 3600");
    }
    if (parser.isSet(QStringLiteral("rate"))) {
        options.bytesPerSecond = parser.value(QStringLiteral("rate")).toInt(&ok);
        if (!ok || options.bytesPerSecond < 1)
            return QStringLiteral("--rate must be a number of bytes per second, at least 1");
    }
    if (parser.isSet(QStringLiteral("min-delivery"))) {
        options.minDelivery = parser.value(QStringLiteral("min-delivery")).toDouble(&ok);
        // Written so that "nan" fails too: it compares false with anything.
        if (!ok || !(options.minDelivery >= 0.0 && options.minDelivery <= 1.0))
            return QStringLiteral("--min-delivery must be 0 to 1");
    }
    return QString();
}

QList<QCommandLineOption> kcCliLinkOptions()
{
    return {QCommandLineOption(QStringLiteral("seconds"), QString(), QStringLiteral("s")),
            QCommandLineOption(QStringLiteral("rate"), QString(), QStringLiteral("bytes")),
            QCommandLineOption(QStringLiteral("min-delivery"), QString(), QStringLiteral("f"))};
}

QString kcCliLinkOptionsHelp()
{
    return QString::fromLatin1(LinkOptionsHelp);
}

KcCliCommandEntry kcCliLinkCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Link;
    entry.name = QStringLiteral("link");
    entry.synopsis = QStringLiteral("link GROUND AIRBORNE");
    entry.summary = QStringLiteral("send counted frames each way: do the radios talk?");
    entry.help =
        QStringLiteral(
            "Usage: kcradio link GROUND AIRBORNE [AIRBORNE...] [--seconds S] [--rate BYTES_PER_S]\n"
            "                    [--min-delivery F] [--cadence ack|fixed] [--json] [--quiet]\n"
            "Reads each radio first (as \"kcradio read\" does, all at once); radios whose\n"
            "IDs (S104) differ are reported and nothing is sent. Then, with every radio\n"
            "in data mode at the serial rate its S102 gives, sends numbered frames with\n"
            "a checksum from the ground radio to every airborne radio at once, then\n"
            "from each airborne radio to the ground radio, one after the other. Per\n"
            "direction: frames sent, received intact, corrupt, lost, the delivery,\n"
            "the goodput and the latency (median, 95th percentile, maximum).\n"
            "Frames are printable text without '+', CR or LF: they can never make a\n"
            "radio see an escape. The radios are left in data mode.\n\n") +
        kcCliLinkOptionsHelp() +
        QStringLiteral(
            "  --cadence ack|fixed   how the reads' commands are paced (see kcradio help)\n"
            "  --json                print the result as one JSON object\n"
            "  --quiet               print the result only, no progress\n"
            "\nExit status: 0 the link passes; 1 it fails (different IDs, too few\n"
            "frames); 2 usage; 3 a port cannot be opened or is lost; 4 a radio\n"
            "never answered the escape; 130 interrupted.\n");
    entry.options = kcCliLinkOptions();
    entry.parse = [](const QCommandLineParser &parser, KcCliRequest &request) {
        if (request.ports.size() < 2)
            return QStringLiteral("link takes a ground port and at least one airborne port");
        for (int i = 0; i < request.ports.size(); ++i)
            for (int j = 0; j < i; ++j)
                if (KcSerialPorts::deviceIdentity(request.ports.at(i)) ==
                    KcSerialPorts::deviceIdentity(request.ports.at(j)))
                    return QStringLiteral("each radio needs its own port, not %1 twice")
                        .arg(request.ports.at(i));
        KcLinkTest::Options options;
        const QString error = kcCliReadLinkOptions(parser, options);
        request.makeCommand = [options](KcRadioCli *cli) { return new LinkCommand(cli, options); };
        return error;
    };
    return entry;
}
