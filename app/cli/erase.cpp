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
                    finish(KcCliExit::Success, result,
                           QStringLiteral("%1: erased (serial rate code 7, 9600)").arg(port));
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
    entry.summary = QStringLiteral("set a radio's serial rate code back to 9600 and store it");
    entry.help = QStringLiteral("Usage: kcradio erase PORT [--json] [--quiet]\n"
                                "Writes ATS102=7 (9600), stores it with AT&W and sends ATA.\n");
    entry.parse = [](const QCommandLineParser &, KcCliRequest &request) {
        request.makeCommand = [](KcRadioCli *cli) { return new EraseCommand(cli); };
        return KcCliOptions::requirePorts(request, 1);
    };
    return entry;
}
