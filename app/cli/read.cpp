// kcradio read: a radio's ID and serial rate, nothing written.
#include "kcclicommand.h"

#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotiming.h"
#include "kcsettingslisting.h"

#include <QCommandLineParser>

namespace {

class ReadCommand : public KcCliCommand
{
public:
    ReadCommand(KcRadioCli *cli, bool all) : KcCliCommand(cli), mAll(all) {}

    void start() override
    {
        const QString port = request().ports.first();
        mReader = new KcRadioParamReader(this);
        setUpLink(mReader->link());
        mReader->setCadence(request().cadence);
        // As long as a command's answer may take: a slow radio still lists.
        mReader->setListingWaitMs(KcRadioTiming::commandIntervalMs());
        const std::shared_ptr<KcLinkWatch> watch = kcCliWatchLink(cli(), mReader->link(), port);
        connect(mReader, &KcRadioParamReader::sigRadioIDReady, this,
                [this, watch, port](bool isSucc, const QString &, const QString &idStr, int flag) {
                    onRead(*watch, port, isSucc, idStr, flag);
                });
        mReader->readRadioParam(port);
    }

    void interrupt() override
    {
        mReader->abort();
        interruptWhenReleased({mReader->link()});
    }

private:
    void onRead(const KcLinkWatch &watch, const QString &port, bool isSucc, const QString &idStr,
                int flag)
    {
        QJsonObject result{{QStringLiteral("command"), QStringLiteral("read")},
                           {QStringLiteral("port"), port}};
        if (!isSucc) {
            // Judged once the radio is back in data mode: a listing that came
            // after its wait has arrived by then.
            whenReleased([this, watch, port, result]() mutable {
                const KcCommandVerdict listing = mReader->listingVerdict();
                const auto [code, reason] =
                    watch.failure(port, listing.ok ? QStringLiteral("the radio listed no ID")
                                                   : listing.describe());
                result.insert(QStringLiteral("reason"), reason);
                finish(code, result, QStringLiteral("%1: %2").arg(port, reason));
            });
            return;
        }
        const int radioRate = KcRadioProtocol::baudRateForCode(flag);
        result.insert(QStringLiteral("id"), idStr);
        result.insert(QStringLiteral("baudRateCode"), flag);
        result.insert(QStringLiteral("rate"), radioRate);
        result.insert(QStringLiteral("answeredAt"), watch.rate);
        QString summary = QStringLiteral("%1: ID %2, rate %3 (S102=%4)")
                              .arg(port, idStr)
                              .arg(radioRate)
                              .arg(flag);
        if (mAll) {
            // Every register of the listing: a table, or an object keyed by
            // register.
            QJsonObject registers;
            const QMap<int, QString> all = KcSettingsListing::registers(mReader->listing());
            summary += QStringLiteral("\nREGISTER  VALUE");
            for (auto it = all.cbegin(); it != all.cend(); ++it) {
                const QString name = QStringLiteral("S%1").arg(it.key());
                registers.insert(name, it.value());
                summary += QStringLiteral("\n%1  %2").arg(name.leftJustified(8), it.value());
            }
            result.insert(QStringLiteral("registers"), registers);
        }
        finish(KcCliExit::Success, result, summary);
    }

    KcRadioParamReader *mReader = nullptr;
    bool mAll = false;
};

} // namespace

KcCliCommandEntry kcCliReadCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Read;
    entry.name = QStringLiteral("read");
    entry.synopsis = QStringLiteral("read PORT");
    entry.summary = QStringLiteral("read a radio's ID and serial rate");
    entry.help =
        QStringLiteral("Usage: kcradio read PORT [--all] [--cadence ack|fixed] [--json] [--quiet]\n"
                       "Finds the radio's serial rate, lists its settings (AT&V) and prints its\n"
                       "ID (S104) and serial rate code (S102); nothing is written.\n\n"
                       "  --all                 also every register of the listing, as a\n"
                       "                        table (with --json: \"registers\", an\n"
                       "                        object keyed by register)\n"
                       "  --cadence ack|fixed   how commands are paced (see kcradio help)\n"
                       "  --json                print the result as one JSON object\n"
                       "  --quiet               print the result only, no progress\n");
    const QCommandLineOption all(QStringLiteral("all"), QString());
    entry.options = {all};
    entry.parse = [all](const QCommandLineParser &parser, KcCliRequest &request) {
        const bool every = parser.isSet(all);
        request.makeCommand = [every](KcRadioCli *cli) { return new ReadCommand(cli, every); };
        return KcCliOptions::requirePorts(request, 1);
    };
    return entry;
}
