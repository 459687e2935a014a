// kcradio erase: the radio's serial rate code back to 9600, stored.
#include "kcclicommand.h"

#include "kcradioeraser.h"

namespace {

class EraseCommand : public KcCliCommand
{
public:
    using KcCliCommand::KcCliCommand;

    void start() override
    {
        const QString port = request().ports.first();
        mEraser = new KcRadioEraser(this);
        setUpLink(mEraser->link());
        mEraser->setCadence(request().cadence);
        const std::shared_ptr<KcLinkWatch> watch = kcCliWatchLink(cli(), mEraser->link(), port);
        connect(mEraser, &KcRadioEraser::sigEarseRadioResult, this,
                [this, watch, port](bool isSucc) {
                    QJsonObject result{{QStringLiteral("command"), QStringLiteral("erase")},
                                       {QStringLiteral("port"), port}};
                    if (!isSucc) {
                        // Judged once the radio is back in data mode: an
                        // answer that came after its wait has arrived then.
                        whenReleased([this, watch, port, result]() mutable {
                            const KcCommandVerdict verdict = mEraser->verdict();
                            const auto [code, reason] = watch->failure(
                                port, verdict.ok ? QStringLiteral("the radio did not acknowledge")
                                                 : verdict.describe());
                            result.insert(QStringLiteral("reason"), reason);
                            finish(code, result, QStringLiteral("%1: %2").arg(port, reason));
                        });
                        return;
                    }
                    result.insert(QStringLiteral("rateFound"), watch->rate);
                    result.insert(QStringLiteral("rateSet"), 9600);
                    finish(KcCliExit::Success, result,
                           QStringLiteral("%1: erased: serial rate set back to 9600 (S102=7, "
                                          "found at %2 baud) and stored; the ID and every other "
                                          "setting kept")
                               .arg(port)
                               .arg(watch->rate));
                });
        mEraser->earseRadio(port);
    }

    void interrupt() override
    {
        mEraser->abort();
        interruptWhenReleased({mEraser->link()});
    }

private:
    KcRadioEraser *mEraser = nullptr;
};

} // namespace

KcCliCommandEntry kcCliEraseCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Erase;
    entry.name = QStringLiteral("erase");
    entry.synopsis = QStringLiteral("erase PORT");
    entry.summary = QStringLiteral("set a radio's serial rate back to 9600; keeps its ID");
    entry.help = QStringLiteral(
        "Usage: kcradio erase PORT [--cadence ack|fixed] [--json] [--quiet]\n"
        "Sets the radio's serial rate back to 9600: writes ATS102=7, stores it with\n"
        "AT&W and sends ATA. Nothing else changes: the ID (S104), the network\n"
        "settings and the index stay as they are. A radio whose rate is unknown\n"
        "can then be found at 9600.\n\n"
        "  --cadence ack|fixed   how commands are paced (see kcradio help)\n"
        "  --json                print the result as one JSON object\n"
        "  --quiet               print the result only, no progress\n");
    entry.parse = [](const QCommandLineParser &, KcCliRequest &request) {
        request.makeCommand = [](KcRadioCli *cli) { return new EraseCommand(cli); };
        return KcCliOptions::requirePorts(request, 1);
    };
    return entry;
}
