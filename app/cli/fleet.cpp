// kcradio fleet: every radio of a plan configured at once, each on its own
// port, with a record line per radio as soon as it is done.
#include "kcclicommand.h"
#include "kcconsole.h"

#include "fleet/kcfleetallocation.h"
#include "fleet/kcfleetplan.h"
#include "fleet/kcfleetports.h"
#include "fleet/kcfleetresume.h"
#include "kcfleetlinktests.h"
#include "kcfleetrecord.h"
#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiowords.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPointer>
#include <QRandomGenerator>
#include <QTextStream>
#include <QVector>

#include <algorithm>

#include <cstdio>

namespace {

const char FleetHelp[] = R"(Usage: kcradio fleet PLAN.csv --record RECORD.jsonl [OPTIONS]
Configures and verifies every radio of a plan, all at once, each on its own
port, and appends one line per radio to the record as soon as it is done.

The plan is a CSV file with the header
  network,role,port,model,mode,baud,index,id
and one radio a line; blank lines and lines starting with '#' are skipped.
  network  a name; every radio of a network gets the same ID
  role     ground or airborne: a p2p network has one of each, a star network
           one ground radio and 1 to 100 airborne radios
  port     a port path, or serial=XYZ for the USB adapter whose serial number
           is XYZ (as "kcradio ports" shows it)
  model    MR300, MR240 or MR300S, the same for the whole network
  mode     p2p or star, the same for the whole network
  baud     blank (9600) or 9600, 115200 or 230400, for a p2p MR300 or MR300S
  index    a star airborne radio's index, 1 to 100; blank takes the lowest
           free one
  id       blank (a fresh ID is drawn from the system's random source) or
           the network's ID, on at most one row of the network
Everything is checked before the first byte goes out; each problem is
reported with its line number, and nothing is sent.

The record holds JSON Lines: time, network, role, port, adapterSerial, model,
mode, id, index, rateFound (the serial rate the radio answered at), rateSet
(the rate it was set to; 0 when the run failed), registers (S102, S103, S104, S105, S113 as read
back), outcome, verified, reason, seconds, version. Each line is written
whole and synced to disk before the next; a lock file keeps a second run off
the record.

  --record FILE         the record to append to (required)
  --resume              skip each radio the record holds as configured and
                        verified with the plan's settings; networks keep the
                        ID the record holds for them
  --again               configure anew, with a fresh ID, a network that the
                        record holds as configured; without --again or
                        --resume such a network is refused and nothing sent
  --jobs N              work on at most N radios at a time (default: all)
  --transcript DIR      write each radio's exchange, time-stamped, both
                        directions, each line with its port, to a new file
                        of its own in DIR (NETWORK-ROLE[-INDEX][-N].log)
  --allow-reused-id     allow an ID that the record holds for another network
                        or for a pair the window configured (the window's
                        record, window-record.jsonl, may be given as FILE)
  --link-test           once every radio is done, test each network's link
                        (as "kcradio link" does), one network at a time; the
                        record gets a line per network: kind "link", network,
                        id, time, outcome ("linked" or "not-linked"), radios,
                        directions, seconds, version; with --resume a network
                        recorded as linked with the same radios and ID is
                        skipped
  --seconds, --rate, --min-delivery   as for kcradio link
  --cadence ack|fixed   how commands are paced (see kcradio help)
  --json                print one JSON object with every radio's result
  --quiet               print the result only, no progress

Exit status: the highest of the radios' (see kcradio --help); 2 for a
problem in the plan, the ports or the IDs; 3 when the record cannot be
written or another run holds it. A record that fails mid-run starts no
further radio; the radios at work finish (each back in data mode) but are
not recorded: the table marks them NOT RECORDED, the JSON "recorded": false.
)";

struct FleetOptions
{
    QString plan;
    QString record;
    QString transcriptDir;
    bool resume = false;
    bool again = false; // configure networks that the record holds as configured anew
    bool allowReusedId = false;
    int jobs = 0;                                // 0: all at once
    std::optional<KcLinkTest::Options> linkTest; // each network tested once done
};

// One radio of the run.
struct FleetRadio
{
    KcFleetRadio plan;
    KcFleetPorts::Resolved port;
    QString id;
    enum class State
    {
        Waiting,
        Skipped, // done in an earlier run
        Running,
        Ended,
        NotStarted // the run stopped before its turn
    } state = State::Waiting;
    QPointer<KcConfigJob> job;
    KcFleetRecordEntry entry;
    int exitCode = KcCliExit::Success;
    bool recorded = false; // its line of this run is in the record
    QString status;
    std::shared_ptr<QFile> transcript;
};

// Bytes as text for a transcript line: printable ASCII as it is, the rest
// escaped.
QString escaped(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\n')
            text += QStringLiteral("\\n");
        else if (c == '\\')
            text += QStringLiteral("\\\\");
        else if (c >= 0x20 && c < 0x7f)
            text += QLatin1Char(char(c));
        else
            text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString nowUtc()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

class FleetCommand : public KcCliCommand
{
public:
    FleetCommand(KcRadioCli *cli, const FleetOptions &options)
        : KcCliCommand(cli), mOptions(options)
    {
    }

    void start() override
    {
        if (!prepare())
            return;
        mTerminal = !request().quiet && !request().json && KcConsole::stderrRewritesLines();
        for (FleetRadio &radio : mRadios)
            radio.status = radio.state == FleetRadio::State::Skipped
                               ? QStringLiteral("done in an earlier run, skipped")
                               : QStringLiteral("waiting");
        draw();
        startNext();
        endWhenIdle();
    }

    void interrupt() override
    {
        mStopping = true;
        for (FleetRadio &radio : mRadios)
            if (radio.job)
                radio.job->abort();
        if (mLinkTests)
            mLinkTests->abort();
        endWhenIdle();
    }

private:
    // Everything before the first byte: plan, record, ports, IDs. False when
    // the run has ended.
    bool prepare();
    void startNext();
    void startRadio(FleetRadio &radio);
    void onJobFinished(FleetRadio &radio);
    void endWhenIdle();
    void setStatus(FleetRadio &radio, const QString &status);
    void draw();
    void openTranscript(FleetRadio &radio);
    void transcribe(FleetRadio &radio, const QString &line);
    QString who(const FleetRadio &radio) const;
    QString table() const;
    void warn(const QString &line);
    bool usage(const QString &file, const QList<KcFleetProblem> &problems);
    void startLinkTests();

    FleetOptions mOptions;
    std::unique_ptr<KcFleetRecordWriter> mRecord;
    std::vector<FleetRadio> mRadios;
    QStringList mWarnings;
    QString mRecordError;
    bool mStopping = false; // interrupted, or the record failed
    bool mStarting = false; // within startNext()
    bool mEnded = false;
    bool mTerminal = false;
    int mDrawn = 0; // status lines on the terminal
    QList<QJsonObject> mRecordedLinks;
    KcFleetLinkTests *mLinkTests = nullptr;
};

QString FleetCommand::who(const FleetRadio &radio) const
{
    QString name =
        radio.plan.network + QLatin1Char(' ') + KcRadioWords::roles().at(radio.plan.role);
    if (radio.plan.isStarAirborne())
        name += QStringLiteral(" %1").arg(radio.plan.index);
    return name + QLatin1Char(' ') +
           (radio.port.path.isEmpty() ? radio.plan.port : radio.port.path);
}

void FleetCommand::warn(const QString &line)
{
    mWarnings << line;
    mDrawn = 0; // the status lines start again below the warning
    if (cli()->err().status() != QTextStream::Ok)
        return; // stderr is closed; the JSON and the record still carry it
    cli()->err() << "kcradio: " << line << '\n';
    cli()->err().flush();
}

bool FleetCommand::usage(const QString &file, const QList<KcFleetProblem> &problems)
{
    QStringList lines;
    QJsonArray array;
    for (const KcFleetProblem &problem : problems) {
        lines << QStringLiteral("kcradio: %1: %2").arg(file, problem.describe());
        array.append(QJsonObject{{QStringLiteral("line"), problem.line},
                                 {QStringLiteral("problem"), problem.message}});
    }
    finish(KcCliExit::Usage,
           QJsonObject{{QStringLiteral("command"), QStringLiteral("fleet")},
                       {QStringLiteral("problems"), array}},
           lines.join(QLatin1Char('\n')) + QStringLiteral("\nkcradio: nothing was sent"));
    return false;
}

// A network of the plan that the record holds as configured (a radio of it
// configured and verified there, as planned, on its port, with the ID the
// record holds for the network) would get a fresh ID from a run without
// --resume: its radios re-keyed without a word. That is refused unless
// asked for with --again.
QList<KcFleetProblem> configuredAlready(const KcFleetPlan &plan,
                                        const QList<KcFleetRecordEntry> &recorded,
                                        const QList<KcFleetPorts::Resolved> &ports)
{
    QList<KcFleetProblem> problems;
    const KcFleetAllocation::Ids held =
        KcFleetAllocation::assignIds(plan, recorded, true, true, *QRandomGenerator::system());
    QStringList told;
    for (int i = 0; i < plan.radios.size(); ++i) {
        const KcFleetRadio &radio = plan.radios.at(i);
        const QString id = held.byNetwork.value(radio.network);
        if (told.contains(radio.network) || !held.reused.value(radio.network) ||
            !KcFleetResume::isDone(recorded, radio, id, ports.at(i).path))
            continue;
        told << radio.network;
        problems.append(
            {radio.line, QStringLiteral("network \"%1\" is configured already (the record holds "
                                        "it with ID %2); --resume finishes the plan with that "
                                        "ID, --again configures it anew with a fresh one")
                             .arg(radio.network, id)});
    }
    return problems;
}

bool FleetCommand::prepare()
{
    QFile planFile(mOptions.plan);
    if (!planFile.open(QIODevice::ReadOnly))
        return usage(mOptions.plan,
                     {{0, QStringLiteral("cannot read the plan: %1").arg(planFile.errorString())}});
    KcFleetPlan plan = KcFleetPlan::parse(planFile.readAll());

    mRecord = std::make_unique<KcFleetRecordWriter>(mOptions.record);
    if (!mRecord->open()) {
        finish(
            KcCliExit::PortFailed,
            QJsonObject{{QStringLiteral("command"), QStringLiteral("fleet")},
                        {QStringLiteral("recordError"), mRecord->errorString()}},
            QStringLiteral("kcradio: %1\nkcradio: nothing was sent").arg(mRecord->errorString()));
        return false;
    }
    const KcFleetRecord::Contents recorded = KcFleetRecord::parse(mRecord->existing());
    for (const KcFleetProblem &problem : recorded.problems)
        warn(QStringLiteral("%1: %2").arg(mOptions.record, problem.describe()));
    mRecordedLinks = recorded.links;

    // The problems of the plan, its ports and its IDs are told together.
    QList<KcFleetProblem> problems = plan.problems;
    // The refused lines' ports are resolved too (and then set aside): a port
    // named twice is told now, not once the other problems are fixed.
    // In the order of the lines, so that the later line is the one blamed.
    QList<KcFleetRadio> named = plan.radios;
    for (const KcFleetRadio &radio : plan.refused)
        if (!radio.port.isEmpty() && radio.port != QLatin1String("serial="))
            named.append(radio);
    std::stable_sort(named.begin(), named.end(),
                     [](const KcFleetRadio &a, const KcFleetRadio &b) { return a.line < b.line; });
    const QList<KcFleetPorts::Resolved> resolved =
        KcFleetPorts::resolve(named, KcSerialPorts::list(), problems);
    QMap<int, KcFleetPorts::Resolved> byLine;
    for (int i = 0; i < named.size(); ++i)
        byLine.insert(named.at(i).line, resolved.at(i));
    QList<KcFleetPorts::Resolved> ports;
    for (const KcFleetRadio &radio : plan.radios)
        ports << byLine.value(radio.line);
    KcFleetAllocation::assignIndexes(plan.radios);
    const KcFleetAllocation::Ids ids =
        KcFleetAllocation::assignIds(plan, recorded.entries, mOptions.resume,
                                     mOptions.allowReusedId, *QRandomGenerator::system());
    problems += ids.problems;
    if (!mOptions.resume && !mOptions.again)
        problems += configuredAlready(plan, recorded.entries, ports);
    if (!problems.isEmpty()) {
        std::stable_sort(
            problems.begin(), problems.end(),
            [](const KcFleetProblem &a, const KcFleetProblem &b) { return a.line < b.line; });
        mRecord->discardIfNew();
        return usage(mOptions.plan, problems);
    }

    for (int i = 0; i < plan.radios.size(); ++i) {
        FleetRadio radio;
        radio.plan = plan.radios.at(i);
        radio.port = ports.at(i);
        radio.id = ids.byNetwork.value(radio.plan.network);
        if (mOptions.resume &&
            KcFleetResume::isDone(recorded.entries, radio.plan, radio.id, radio.port.path))
            radio.state = FleetRadio::State::Skipped;
        mRadios.push_back(std::move(radio));
    }
    for (const QString &network : plan.networks())
        progress(
            QStringLiteral("kcradio"),
            QStringLiteral("network %1: ID %2%3")
                .arg(network, ids.byNetwork.value(network),
                     ids.reused.value(network) ? QStringLiteral(" (from the record)") : QString()));
    return true;
}

void FleetCommand::startNext()
{
    // A radio may end within startRadio() (its port fails to open), and its
    // end calls here again: the outer loop alone starts radios, counting
    // the running ones afresh before each.
    if (mStarting)
        return;
    mStarting = true;
    auto running = [this]() {
        return std::count_if(mRadios.cbegin(), mRadios.cend(), [](const FleetRadio &radio) {
            return radio.state == FleetRadio::State::Running;
        });
    };
    for (FleetRadio &radio : mRadios) {
        if (mStopping || (mOptions.jobs > 0 && running() >= mOptions.jobs))
            break;
        if (radio.state == FleetRadio::State::Waiting)
            startRadio(radio);
    }
    mStarting = false;
}

void FleetCommand::startRadio(FleetRadio &radio)
{
    // The request's settings carry whatever configure and pair set for
    // every radio; the plan gives the rest.
    KcRadioSettings settings = request().settings;
    settings.radioType = radio.plan.radioType;
    settings.netMode = radio.plan.netMode;
    settings.role = radio.plan.role;
    settings.baudRateCode = radio.plan.baudRateCode;
    settings.radioId = radio.id;
    settings.airborneIndex = radio.plan.isStarAirborne() ? radio.plan.index : 1;
    radio.state = FleetRadio::State::Running;
    radio.job = new KcConfigJob(radio.port.path, settings, true, this);
    radio.job->setCadence(request().cadence);
    openTranscript(radio);
    FleetRadio *r = &radio;
    connect(radio.job, &KcConfigJob::progress, this,
            [this, r](const QString &line) { setStatus(*r, line); });
    connect(radio.job, &KcConfigJob::finished, this, [this, r]() { onJobFinished(*r); });
    if (radio.transcript) {
        connect(radio.job, &KcConfigJob::commandSent, this,
                [this, r](const QString &command, int rate) {
                    transcribe(*r, QStringLiteral("> %1 (%2 baud)")
                                       .arg(escaped(KcRadioProtocol::commandLine(command)))
                                       .arg(rate));
                });
        connect(radio.job, &KcConfigJob::chunkReceived, this, [this, r](const QByteArray &chunk) {
            transcribe(*r, QStringLiteral("< ") + escaped(chunk));
        });
    }
    radio.job->start();
}

void FleetCommand::onJobFinished(FleetRadio &radio)
{
    const KcConfigJob *job = radio.job;
    radio.state = FleetRadio::State::Ended;
    radio.exitCode = kcCliExitCodeOf(job->outcome());
    KcFleetRecordEntry &entry = radio.entry;
    entry.time = nowUtc();
    entry.network = radio.plan.network;
    entry.role = radio.plan.role;
    entry.port = radio.port.path;
    entry.adapterSerial = radio.port.adapterSerial;
    entry.radioType = radio.plan.radioType;
    entry.netMode = radio.plan.netMode;
    entry.id = radio.id;
    entry.index = radio.plan.isStarAirborne() ? radio.plan.index : 0;
    entry.rateFound = job->rate();
    KcRadioSettings planned;
    planned.radioType = radio.plan.radioType;
    planned.netMode = radio.plan.netMode;
    planned.baudRateCode = radio.plan.baudRateCode;
    entry.rateSet = radio.exitCode == KcCliExit::Success ? planned.serialRate() : 0;
    entry.registers = job->registers();
    entry.outcome = KcConfigJob::outcomeName(job->outcome());
    entry.verified = job->verified();
    entry.reason = job->reason();
    entry.seconds = job->seconds();
    entry.version = QStringLiteral(KC_VERSION);
    setStatus(radio,
              radio.exitCode == KcCliExit::Success
                  ? QStringLiteral("configured and verified in %1 s").arg(entry.seconds, 0, 'f', 1)
                  : entry.outcome + QStringLiteral(": ") + entry.reason);
    transcribe(radio, QStringLiteral("# %1: %2").arg(entry.outcome, entry.reason));
    radio.transcript.reset();

    radio.recorded = mRecordError.isEmpty() && mRecord->append(entry);
    if (!radio.recorded && mRecordError.isEmpty()) {
        mRecordError = mRecord->errorString();
        mStopping = true;
        warn(mRecordError +
             QStringLiteral("; no further radio is started, the radios at work finish (each "
                            "back in data mode) but are not recorded: see the table"));
    }
    startNext();
    endWhenIdle();
}

void FleetCommand::endWhenIdle()
{
    if (mEnded)
        return;
    for (const FleetRadio &radio : mRadios)
        if (radio.state == FleetRadio::State::Running ||
            (radio.state == FleetRadio::State::Waiting && !mStopping))
            return;
    if (mOptions.linkTest && !mStopping && !mLinkTests) {
        startLinkTests();
        return;
    }
    if (mLinkTests && mLinkTests->isRunning())
        return;
    mEnded = true;

    int exitCode = KcCliExit::Success;
    QJsonArray radios;
    for (FleetRadio &radio : mRadios) {
        if (radio.state == FleetRadio::State::Waiting) {
            radio.state = FleetRadio::State::NotStarted;
            setStatus(radio, QStringLiteral("not started"));
        }
        exitCode = qMax(exitCode, radio.exitCode);
        QJsonObject object = radio.entry.toJson();
        if (radio.state != FleetRadio::State::Ended) {
            // Never worked on in this run: what the plan gave.
            object.insert(QStringLiteral("network"), radio.plan.network);
            object.insert(QStringLiteral("role"), KcRadioWords::roles().at(radio.plan.role));
            object.insert(QStringLiteral("port"), radio.port.path);
            object.insert(QStringLiteral("adapterSerial"), radio.port.adapterSerial);
            object.insert(QStringLiteral("model"), KcRadioWords::models().at(radio.plan.radioType));
            object.insert(QStringLiteral("mode"), KcRadioWords::modes().at(radio.plan.netMode));
            object.insert(QStringLiteral("id"), radio.id);
            object.insert(QStringLiteral("index"), radio.plan.isStarAirborne()
                                                       ? QJsonValue(radio.plan.index)
                                                       : QJsonValue());
            object.insert(QStringLiteral("outcome"), radio.state == FleetRadio::State::Skipped
                                                         ? QStringLiteral("skipped")
                                                         : QStringLiteral("not-started"));
        }
        object.insert(QStringLiteral("line"), radio.plan.line);
        if (radio.state == FleetRadio::State::Ended)
            object.insert(QStringLiteral("recorded"), radio.recorded);
        object.insert(QStringLiteral("ok"), radio.state == FleetRadio::State::Skipped ||
                                                (radio.state == FleetRadio::State::Ended &&
                                                 radio.exitCode == KcCliExit::Success));
        radios.append(object);
    }
    if (mLinkTests)
        exitCode = qMax(exitCode, mLinkTests->exitCode());
    if (!mRecordError.isEmpty())
        exitCode = qMax(exitCode, int(KcCliExit::PortFailed));
    if (cli()->isInterrupted())
        exitCode = KcCliExit::Interrupted;

    QJsonObject result{{QStringLiteral("command"), QStringLiteral("fleet")},
                       {QStringLiteral("plan"), mOptions.plan},
                       {QStringLiteral("record"), mOptions.record},
                       {QStringLiteral("radios"), radios}};
    if (!mRecordError.isEmpty())
        result.insert(QStringLiteral("recordError"), mRecordError);
    if (!mWarnings.isEmpty())
        result.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(mWarnings));
    if (mLinkTests)
        result.insert(QStringLiteral("links"), mLinkTests->results());
    if (!request().json) {
        cli()->out() << table();
        if (mLinkTests)
            cli()->out() << mLinkTests->summary();
        cli()->out().flush();
    }
    mRecord.reset(); // the lock goes with it
    finish(exitCode, result, QString());
}

void FleetCommand::startLinkTests()
{
    // Every network whose radios are all done, in the plan's order, the
    // ground radio first.
    QList<KcFleetLinkTests::Network> networks;
    QStringList names;
    for (const FleetRadio &radio : mRadios)
        if (!names.contains(radio.plan.network))
            names << radio.plan.network;
    for (const QString &name : names) {
        KcFleetLinkTests::Network network{name, QString(), {}};
        bool done = true;
        for (const FleetRadio &radio : mRadios) {
            if (radio.plan.network != name)
                continue;
            done = done && (radio.state == FleetRadio::State::Skipped ||
                            radio.exitCode == KcCliExit::Success);
            network.id = radio.id;
            const bool known = radio.entry.registers.contains(102);
            const KcLinkRadio linkRadio{
                radio.port.path, KcRadioWords::roles().at(radio.plan.role),
                known ? KcRadioProtocol::baudRateForCode(radio.entry.registers.value(102).toInt())
                      : 0,
                known ? radio.entry.registers.value(104) : QString()};
            if (radio.plan.role == 0)
                network.radios.prepend(linkRadio);
            else
                network.radios.append(linkRadio);
        }
        if (done && network.radios.size() > 1)
            networks.append(network);
    }
    KcLinkTest::Options options = *mOptions.linkTest;
    options.cadence = request().cadence;
    mLinkTests = new KcFleetLinkTests(
        networks, options, mRecordedLinks,
        [this](const QJsonObject &line) {
            if (mRecord->appendLine(line))
                return true;
            mRecordError = mRecord->errorString();
            warn(mRecordError);
            return false;
        },
        [this](KcLinkTest *test) { kcCliShowLinkProgress(test, cli()); }, this);
    connect(mLinkTests, &KcFleetLinkTests::networkStarted, this,
            [this](const QString &network, bool skipped) {
                progress(QStringLiteral("network ") + network,
                         skipped ? QStringLiteral("linked in an earlier run, skipped")
                                 : QStringLiteral("link test"));
            });
    connect(mLinkTests, &KcFleetLinkTests::finished, this, &FleetCommand::endWhenIdle);
    mLinkTests->start();
}

QString FleetCommand::table() const
{
    QList<QStringList> rows{{QStringLiteral("NETWORK"), QStringLiteral("ROLE"),
                             QStringLiteral("PORT"), QStringLiteral("ID"), QStringLiteral("INDEX"),
                             QStringLiteral("OUTCOME"), QStringLiteral("SECONDS")}};
    QStringList reasons;
    for (const FleetRadio &radio : mRadios) {
        const bool ended = radio.state == FleetRadio::State::Ended;
        QString outcome = ended ? radio.entry.outcome
                          : radio.state == FleetRadio::State::Skipped
                              ? QStringLiteral("skipped (done)")
                              : QStringLiteral("not started");
        // Its line was lost with the record.
        if (ended && !radio.recorded)
            outcome += QStringLiteral(" NOT RECORDED");
        rows.append(
            {radio.plan.network, KcRadioWords::roles().at(radio.plan.role), radio.port.path,
             radio.id,
             radio.plan.isStarAirborne() ? QString::number(radio.plan.index) : QStringLiteral("-"),
             outcome, ended ? QString::number(radio.entry.seconds, 'f', 1) : QStringLiteral("-")});
        if (ended && radio.exitCode != KcCliExit::Success)
            reasons << QStringLiteral("line %1, %2: %3")
                           .arg(radio.plan.line)
                           .arg(who(radio), radio.entry.reason);
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : rows)
        for (int c = 0; c < row.size(); ++c)
            widths[c] = qMax(widths.at(c), row.at(c).size());
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row.at(c).leftJustified(widths.at(c) + 2) : row.at(c);
        text += line + QLatin1Char('\n');
    }
    for (const QString &reason : reasons)
        text += reason + QLatin1Char('\n');
    return text;
}

void FleetCommand::setStatus(FleetRadio &radio, const QString &status)
{
    radio.status = status;
    if (request().quiet)
        return;
    if (!mTerminal) {
        progress(who(radio), status);
        return;
    }
    draw();
}

// On a terminal every radio keeps one line that is rewritten in place.
void FleetCommand::draw()
{
    if (!mTerminal)
        return;
    const int columns = KcConsole::stderrColumns();
    QTextStream &err = cli()->err();
    if (mDrawn > 0)
        err << "\x1b[" << mDrawn << 'A';
    for (const FleetRadio &radio : mRadios)
        // A line one column short of the width never wraps, so the count of
        // lines to go back up stays right.
        err << "\r\x1b[2K" << (who(radio) + QStringLiteral(": ") + radio.status).left(columns - 1)
            << '\n';
    mDrawn = int(mRadios.size());
    err.flush();
}

void FleetCommand::openTranscript(FleetRadio &radio)
{
    if (mOptions.transcriptDir.isEmpty())
        return;
    QDir dir(mOptions.transcriptDir);
    QString name =
        radio.plan.network + QLatin1Char('-') + KcRadioWords::roles().at(radio.plan.role);
    if (radio.plan.isStarAirborne())
        name += QStringLiteral("-%1").arg(radio.plan.index);
    for (QChar &c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_') &&
            c != QLatin1Char('.'))
            c = QLatin1Char('_');
    // Names made alike by the replaced characters, and files of an earlier
    // run in the same folder, are never shared: a taken name gets a number.
    dir.mkpath(QStringLiteral("."));
    auto file = std::make_shared<QFile>();
    for (int n = 1; !file->isOpen(); ++n) {
        file->setFileName(dir.filePath(name + (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) +
                                       QStringLiteral(".log")));
        // The system's reason (no such folder, not a folder, permission)
        // comes from the open itself.
        if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text) &&
            !file->exists()) {
            warn(QStringLiteral("cannot write the transcript %1: %2")
                     .arg(file->fileName(), file->errorString()));
            return;
        }
    }
    radio.transcript = file;
    transcribe(radio, QStringLiteral("# kcradio %1, line %2 of %3: %4, ID %5")
                          .arg(QStringLiteral(KC_VERSION))
                          .arg(radio.plan.line)
                          .arg(mOptions.plan, who(radio), radio.id));
}

void FleetCommand::transcribe(FleetRadio &radio, const QString &line)
{
    if (!radio.transcript)
        return;
    // Each line names its port, so that lines taken out of their file still
    // tell which radio they belong to.
    radio.transcript->write((nowUtc() + QLatin1Char(' ') + radio.port.path + QLatin1Char(' ') +
                             line + QLatin1Char('\n'))
                                .toUtf8());
    radio.transcript->flush();
}

} // namespace

KcCliCommandEntry kcCliFleetCommand()
{
    KcCliCommandEntry entry;
    entry.command = KcCliRequest::Command::Fleet;
    entry.name = QStringLiteral("fleet");
    entry.synopsis = QStringLiteral("fleet PLAN.csv ...");
    entry.summary = QStringLiteral("configure every radio of a plan at once, with a record");
    entry.help = QString::fromLatin1(FleetHelp);
    entry.generalHelp = QStringLiteral(
        "Options of fleet (see kcradio fleet --help for the plan and the record):\n"
        "  --record FILE         the record (JSON Lines) to append to; required\n"
        "  --resume              skip the radios the record holds as done\n"
        "  --again               configure anew a network the record holds as done\n"
        "  --jobs N              work on at most N radios at a time (default: all)\n"
        "  --transcript DIR      each radio's exchange, time-stamped, in DIR\n"
        "  --allow-reused-id     allow an ID the record holds for another network or pair\n");
    const QCommandLineOption record(QStringLiteral("record"), QString(), QStringLiteral("file"));
    const QCommandLineOption resume(QStringLiteral("resume"), QString());
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("n"));
    const QCommandLineOption transcript(QStringLiteral("transcript"), QString(),
                                        QStringLiteral("dir"));
    const QCommandLineOption again(QStringLiteral("again"), QString());
    const QCommandLineOption allowReusedId(QStringLiteral("allow-reused-id"), QString());
    const QCommandLineOption linkTest(QStringLiteral("link-test"), QString());
    entry.options = QList<QCommandLineOption>{record,     resume,        again,   jobs,
                                              transcript, allowReusedId, linkTest} +
                    kcCliLinkOptions();
    entry.parse = [=](const QCommandLineParser &parser, KcCliRequest &request) {
        if (request.ports.size() != 1)
            return QStringLiteral("fleet takes one plan file");
        FleetOptions options;
        options.plan = request.ports.first();
        options.record = parser.value(record);
        if (options.record.isEmpty())
            return QStringLiteral("--record is required");
        options.resume = parser.isSet(resume);
        options.again = parser.isSet(again);
        if (options.resume && options.again)
            return QStringLiteral("--resume and --again exclude each other");
        options.allowReusedId = parser.isSet(allowReusedId);
        options.transcriptDir = parser.value(transcript);
        if (parser.isSet(linkTest)) {
            options.linkTest = KcLinkTest::Options();
            const QString error = kcCliReadLinkOptions(parser, *options.linkTest);
            if (!error.isEmpty())
                return error;
        }
        if (parser.isSet(jobs)) {
            bool ok = false;
            options.jobs = parser.value(jobs).toInt(&ok);
            if (!ok || options.jobs < 1)
                return QStringLiteral("--jobs must be 1 or more");
        }
        request.makeCommand = [options](KcRadioCli *cli) { return new FleetCommand(cli, options); };
        return QString();
    };
    return entry;
}
