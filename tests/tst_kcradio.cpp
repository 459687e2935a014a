// kcradio end to end: the built executable against virtual radios at the
// real cadence. The scenarios run side by side (each with radios of its
// own), started in initTestCase; each row then checks its own scenario. A
// scenario that follows another (a resumed fleet, say) runs once that one has
// ended, on its radios and files.
#include "virtualair.h"
#include "virtualradio.h"

#include "kcfleetrecord.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

namespace {

struct Scenario
{
    QString name;
    QStringList arguments; // "{g}" and "{a}" stand for the radios' ports
    VirtualRadio::Options ground;
    VirtualRadio::Options airborne;
    bool secondRadio = false;
    int exitCode = 0;            // expected, for the rows with a check of their own
    int interruptAtCommand = -1; // SIGINT once the ground (a fleet's first) radio heard this many
    int interruptSignal = SIGINT;
    bool closeOutputs = false; // stdout and stderr closed by their reader
    bool late = false;         // starts once the others ended: their radios' timing is left alone
    QString extraPorts;        // KC_EXTRA_SERIAL_PORTS, "{g}" and "{a}" replaced
    bool lockAirborne = false; // the airborne (a fleet's first) radio's port held by this test
    // The row's own checks, after the exit status; stderr is the progress.
    using Check = std::function<void(const Scenario &, const QString &stderrText)>;
    Check check;

    // The expected exit status and the row's checks, in one line.
    Scenario *expect(int status, Check checks)
    {
        exitCode = status;
        check = std::move(checks);
        return this;
    }
    // A fleet: its radios are "{r0}", "{r1}"... in the arguments and the plan,
    // "{dir}" its folder, "{link}" a second path to radio 0.
    QList<VirtualRadio::Options> fleet;
    QByteArray plan;
    QString after;                // runs on this scenario's radios and folder once it ended
    QByteArray killWhenLastHears; // SIGKILL once the fleet's last radio heard this
    std::function<void(const Scenario &)> prepare; // on the radios, before the run
    // With air options, every radio of the scenario shares one air.
    std::optional<VirtualAir::Options> air;
    int interruptAtAirPacket = -1; // SIGINT once this many packets crossed the air
    int knockAtAirPacket = -1;     // the airborne radio put in command mode then
    // Starts once every scenario that is not late has ended, so that its
    // processes and traffic do not slow the timing of the others.
    std::unique_ptr<VirtualAir> sharedAir;

    std::unique_ptr<VirtualRadio> groundRadio;
    std::unique_ptr<VirtualRadio> airborneRadio;
    std::vector<std::unique_ptr<VirtualRadio>> ownRadios;
    std::shared_ptr<QTemporaryDir> dir;
    QList<VirtualRadio *> radios; // the fleet's, own or of the scenario before
    QList<int> heardBefore;       // commands each radio had heard before this run
    QByteArray record;            // the fleet's record when this run ended
    bool ended = false;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QProcess> reader = std::make_unique<QProcess>();
    std::unique_ptr<QSerialPort> lock;
    QJsonObject result;
    bool plain = false; // without --json: stdout is the text, kept in out
    QString out;
};

// The fleet's record as it is now; nothing where it is no plain file.
QByteArray recordOf(const Scenario &s)
{
    QFile file(s.dir->filePath(QStringLiteral("record.jsonl")));
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

class TstKcRadio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scenarios_data();
    void scenarios();

private:
    using Make = std::function<Scenario *(const QString &, const QStringList &)>;
    static void addRadioLeftBehindScenarios(const Make &make);
    static void addPacingScenarios(const Make &make);
    static void addFleetScenarios(const Make &make);
    static void addLinkScenarios(const Make &make);

    std::vector<std::unique_ptr<Scenario>> mScenarios;
    Scenario *scenario(const QString &name);
    void startScenario(Scenario &s, const QString &program);
};

Scenario *TstKcRadio::scenario(const QString &name)
{
    for (const std::unique_ptr<Scenario> &s : mScenarios)
        if (s->name == name)
            return s.get();
    return nullptr;
}

void TstKcRadio::initTestCase()
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../kcradio");
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    auto make = [this](const QString &name, const QStringList &arguments) -> Scenario * {
        mScenarios.push_back(std::make_unique<Scenario>());
        Scenario *s = mScenarios.back().get();
        s->name = name;
        s->arguments = arguments;
        return s;
    };
    make(QStringLiteral("pair p2p"), {"pair", "{g}", "{a}", "--model", "MR300S", "--mode", "p2p",
                                      "--baud", "230400", "--id", "4294967295"})
        ->secondRadio = true;
    Scenario *star = make(QStringLiteral("pair star"), {"pair", "{g}", "{a}", "--model", "MR240",
                                                        "--mode", "star", "--index", "100"});
    star->secondRadio = true;
    star->airborne.baudRate = 9600; // found by the rate search
    star->airborne.echo = true;
    Scenario *read = make(QStringLiteral("read"), {"read", "{g}", "--all"});
    read->ground.baudRate = 230400;
    make(QStringLiteral("erase"), {"erase", "{g}"});
    make(QStringLiteral("refused"), {"configure", "{g}", "--model", "MR300", "--mode", "p2p",
                                     "--role", "ground", "--id", "12345"})
        ->ground.refuseCommand = "ATS104=12345";
    make(QStringLiteral("mismatch"), {"configure", "{g}", "--model", "MR300", "--mode", "star",
                                      "--role", "airborne", "--id", "777"})
        ->ground.unstoredRegisters = {104};
    make(QStringLiteral("bad argument"), {"configure", "{g}", "--model", "MR999", "--mode", "p2p",
                                          "--role", "ground", "--id", "1"});
    make(QStringLiteral("missing port"), {"read", "/dev/kcradio-no-such-port"});
    // Dead: neither the escape nor the "AT" probes get a word out of it.
    make(QStringLiteral("silent"), {"erase", "{g}"})->ground.answerLimit = 0;
    make(QStringLiteral("interrupted"), {"configure", "{g}", "--model", "MR300", "--mode", "p2p",
                                         "--role", "ground", "--id", "42", "--cadence", "fixed"})
        ->interruptAtCommand = 3;
    addRadioLeftBehindScenarios(make);
    addPacingScenarios(make);

    addFleetScenarios(make);
    for (const char *name :
         {"unknown command", "unknown option", "check p2p, two airborne ports", "fleet --jobs 0",
          "read, port lost", "fleet: a folder as a port", "fleet: SIGHUP, outputs closed",
          "record full, all at once", "fleet: --jobs 2, a port that fails at once"})
        scenario(QString::fromLatin1(name))->late = true;
    const size_t unhurried = mScenarios.size();
    addLinkScenarios(make);
    for (size_t i = unhurried; i < mScenarios.size(); ++i)
        mScenarios.at(i)->late = true;
    // A scenario that follows a late one is late too (in the order made).
    for (const std::unique_ptr<Scenario> &s : mScenarios)
        if (!s->after.isEmpty() && scenario(s->after)->late)
            s->late = true;

    // Every scenario starts at once but one that follows another: that one
    // starts when the other has ended and its record has been kept. The late
    // ones (the link scenarios among them) start once the rest have ended,
    // their load off the timed radios. The longest scenario takes about 20 s,
    // the late ones about 12 s more.
    auto ended = [](const Scenario &s) {
        return s.process && s.process->state() == QProcess::NotRunning;
    };
    const bool allDone = QTest::qWaitFor(
        [&]() {
            bool all = true;
            bool early = true; // every scenario that is not late has ended
            for (const std::unique_ptr<Scenario> &s : mScenarios)
                early = early && (s->late || s->ended);
            for (const std::unique_ptr<Scenario> &s : mScenarios) {
                const Scenario *before = s->after.isEmpty() ? nullptr : scenario(s->after);
                if (!s->process && (!before || before->ended) && (!s->late || early))
                    startScenario(*s, program);
                if (!s->ended && ended(*s)) {
                    s->ended = true;
                    if (s->dir)
                        s->record = recordOf(*s);
                }
                all = all && s->ended;
            }
            return all;
        },
        120000);
    QVERIFY(allDone);
    for (const std::unique_ptr<Scenario> &s : mScenarios) {
        const QByteArray out = s->process->readAllStandardOutput();
        s->out = QString::fromUtf8(out);
        if (!out.isEmpty() && !s->plain) {
            QJsonParseError error;
            s->result = QJsonDocument::fromJson(out, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError,
                     qPrintable(s->name + QStringLiteral(": stdout is not one JSON object: ") +
                                QString::fromUtf8(out)));
        }
    }
}

void TstKcRadio::startScenario(Scenario &s, const QString &program)
{
    // As from a real radio, answers read at another rate are garbage: on a busy
    // machine an escape's answer may be read only after entry moved on.
    const auto real = [](VirtualRadio::Options options) {
        options.garbledAtOtherSpeeds = true;
        return options;
    };
    if (!s.after.isEmpty()) {
        const Scenario *before = scenario(s.after);
        QVERIFY(before);
        s.radios = before->radios;
        s.dir = before->dir;
    } else if (!s.fleet.isEmpty()) {
        s.dir = std::make_shared<QTemporaryDir>();
        for (const VirtualRadio::Options &options : s.fleet) {
            s.ownRadios.push_back(std::make_unique<VirtualRadio>(real(options)));
            QVERIFY(s.ownRadios.back()->start());
            s.radios << s.ownRadios.back().get();
        }
    } else {
        s.groundRadio = std::make_unique<VirtualRadio>(real(s.ground));
        QVERIFY(s.groundRadio->start());
        if (s.secondRadio) {
            s.airborneRadio = std::make_unique<VirtualRadio>(real(s.airborne));
            QVERIFY(s.airborneRadio->start());
        }
    }
    if (s.lockAirborne) {
        s.lock = std::make_unique<QSerialPort>(
            (s.airborneRadio ? s.airborneRadio.get() : s.radios.first())->portPath());
        QVERIFY(s.lock->open(QIODevice::ReadWrite));
    }
    if (s.name == QLatin1String("read")) {
        s.groundRadio->setRegister(104, QStringLiteral("00305"));
        s.groundRadio->setRegister(102, QStringLiteral("0"));
    }
    if (s.air) {
        s.sharedAir = std::make_unique<VirtualAir>(*s.air);
        for (VirtualRadio *radio :
             QList<VirtualRadio *>{s.groundRadio.get(), s.airborneRadio.get()} + s.radios)
            if (radio)
                s.sharedAir->attach(radio);
    }
    if (s.prepare)
        s.prepare(s);
    auto expand = [&s](QString text) {
        if (s.groundRadio)
            text.replace(QStringLiteral("{g}"), s.groundRadio->portPath());
        if (s.airborneRadio)
            text.replace(QStringLiteral("{a}"), s.airborneRadio->portPath());
        for (int i = 0; i < s.radios.size(); ++i)
            text.replace(QStringLiteral("{r%1}").arg(i), s.radios.at(i)->portPath());
        if (s.dir) {
            text.replace(QStringLiteral("{dir}"), s.dir->path());
            text.replace(QStringLiteral("{link}"), s.dir->filePath(QStringLiteral("link")));
        }
        return text;
    };
    for (VirtualRadio *radio : s.radios)
        s.heardBefore << radio->commands().size();
    if (!s.plan.isEmpty()) {
        QFile plan(s.dir->filePath(QStringLiteral("plan.csv")));
        QVERIFY(plan.open(QIODevice::WriteOnly));
        plan.write(expand(QString::fromUtf8(s.plan)).toUtf8());
        QVERIFY(QFile::link(s.radios.at(0)->portPath(), s.dir->filePath(QStringLiteral("link"))));
    }
    if (s.name.startsWith(QLatin1String("record full")))
        QVERIFY(QFile::link(QStringLiteral("/dev/full"),
                            s.dir->filePath(QStringLiteral("record.jsonl"))));
    QStringList arguments;
    for (const QString &argument : s.arguments)
        arguments << expand(argument);
    s.process = std::make_unique<QProcess>();
    s.process->setProgram(program);
    s.process->setArguments(arguments + (s.plain ? QStringList() : QStringList{"--json"}));
    if (!s.extraPorts.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KC_EXTRA_SERIAL_PORTS"), expand(s.extraPorts));
        s.process->setProcessEnvironment(environment);
    }
    if (s.interruptAtCommand > 0) {
        QProcess *process = s.process.get();
        const int at = s.interruptAtCommand, signal = s.interruptSignal;
        VirtualRadio *radio = s.groundRadio ? s.groundRadio.get() : s.radios.first();
        connect(radio, &VirtualRadio::commandReceived, this, [radio, process, at, signal]() {
            if (radio->commands().size() == at)
                ::kill(pid_t(process->processId()), signal);
        });
    }
    if (s.interruptAtAirPacket > 0) {
        QProcess *process = s.process.get();
        auto packets = std::make_shared<int>(0);
        connect(s.sharedAir.get(), &VirtualAir::packetArrived, this,
                [process, packets, at = s.interruptAtAirPacket]() {
                    if (++*packets == at)
                        ::kill(pid_t(process->processId()), SIGINT);
                });
    }
    if (s.knockAtAirPacket > 0) {
        VirtualRadio *radio = s.airborneRadio.get();
        auto packets = std::make_shared<int>(0);
        connect(s.sharedAir.get(), &VirtualAir::packetArrived, this,
                [radio, packets, at = s.knockAtAirPacket]() {
                    if (++*packets == at)
                        radio->leaveDataMode();
                });
    }
    if (!s.killWhenLastHears.isEmpty()) {
        QProcess *process = s.process.get();
        const QByteArray command = s.killWhenLastHears;
        connect(s.radios.last(), &VirtualRadio::commandReceived, this,
                [process, command](const QByteArray &bytes) {
                    if (bytes == command)
                        process->kill();
                });
    }
    if (s.closeOutputs) { // both into a pipe whose reader is gone
        s.process->setProcessChannelMode(QProcess::MergedChannels);
        s.process->setStandardOutputProcess(s.reader.get());
        s.reader->start(QStringLiteral("true"), QStringList());
    }
    s.process->start();
}

void TstKcRadio::scenarios_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome"); // of the radio, or a word of the reason
    QTest::newRow("pair p2p") << "pair p2p" << 0 << "configured";
    QTest::newRow("pair star") << "pair star" << 0 << "configured";
    QTest::newRow("read") << "read" << 0 << "00305";
    QTest::newRow("erase") << "erase" << 0 << "";
    QTest::newRow("refused command") << "refused" << 1 << "ATS104=12345 refused";
    QTest::newRow("verification mismatch") << "mismatch" << 1 << "S104 holds";
    QTest::newRow("bad argument") << "bad argument" << 2 << "";
    QTest::newRow("missing port") << "missing port" << 3 << "cannot open";
    QTest::newRow("silent radio") << "silent" << 4 << "no answer";
    // The answer to "ATS102=7" may come before or after the interrupt.
    QTest::newRow("SIGINT mid-run") << "interrupted" << 130 << "stopped after AT";
    for (const std::unique_ptr<Scenario> &s : mScenarios)
        if (s->check)
            QTest::newRow(qPrintable(s->name)) << s->name << s->exitCode << QString();
}

void TstKcRadio::scenarios()
{
    QFETCH(QString, name);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);
    Scenario *s = scenario(name);
    QVERIFY(s);
    const QString stderrText = QString::fromUtf8(s->process->readAllStandardError());
    if (!s->killWhenLastHears.isEmpty()) {
        QCOMPARE(s->process->exitStatus(), QProcess::CrashExit);
        s->check(*s, stderrText);
        return;
    }
    QVERIFY2(s->process->exitStatus() == QProcess::NormalExit, qPrintable(stderrText));
    QVERIFY2(s->process->exitCode() == exitCode, qPrintable(stderrText));
    if (s->check) {
        s->check(*s, stderrText);
        return;
    }
    VirtualRadio &radio = *s->groundRadio;

    if (exitCode == 2) {
        // Said in one line, and nothing sent.
        QCOMPARE(stderrText.trimmed().count(QLatin1Char('\n')), 0);
        QVERIFY(stderrText.contains(QStringLiteral("MR999")));
        QVERIFY(radio.rawReceived().isEmpty());
        // With --json, stdout still carries one object.
        QCOMPARE(s->result.value(QStringLiteral("exitCode")).toInt(), 2);
        QCOMPARE(s->result.value(QStringLiteral("ok")).toBool(), false);
        QVERIFY(s->result.value(QStringLiteral("error")).toString().contains("MR999"));
        return;
    }
    QCOMPARE(s->result.value(QStringLiteral("exitCode")).toInt(), exitCode);

    if (name.startsWith(QLatin1String("pair"))) {
        const QString id = s->result.value(QStringLiteral("id")).toString();
        QVERIFY(!id.isEmpty());
        const bool star = name == QLatin1String("pair star");
        VirtualRadio *radios[] = {s->groundRadio.get(), s->airborneRadio.get()};
        for (int role = 0; role < 2; ++role) {
            const QJsonObject entry =
                s->result.value(role == 0 ? QStringLiteral("ground") : QStringLiteral("airborne"))
                    .toObject();
            QCOMPARE(entry.value(QStringLiteral("outcome")).toString(), outcome);
            QVERIFY(entry.value(QStringLiteral("verified")).toBool());
            // The listed registers, as the radio listed them.
            QCOMPARE(entry.value(QStringLiteral("registers")).toObject().value("S104").toString(),
                     id);
            // What the radio stores is what was sent.
            const QMap<int, QString> stored = radios[role]->storedRegisters();
            QCOMPARE(stored.value(104), id);
            QCOMPARE(stored.value(102), star ? QStringLiteral("1") : QStringLiteral("0"));
            if (star && role == 1)
                QCOMPARE(stored.value(105), QStringLiteral("101"));
            QVERIFY(!radios[role]->inCommandMode());
        }
        const QJsonObject airborne = s->result.value(QStringLiteral("airborne")).toObject();
        QCOMPARE(airborne.value(QStringLiteral("rateFound")).toInt(), star ? 9600 : 115200);
        QCOMPARE(airborne.value(QStringLiteral("rateSet")).toInt(), star ? 115200 : 230400);
        return;
    }
    if (name == QLatin1String("read")) {
        QCOMPARE(s->result.value(QStringLiteral("id")).toString(), outcome);
        QCOMPARE(s->result.value(QStringLiteral("rate")).toInt(), 230400);
        QCOMPARE(s->result.value(QStringLiteral("answeredAt")).toInt(), 230400);
        // --all: every register of the listing, factory defaults included.
        const QJsonObject registers = s->result.value(QStringLiteral("registers")).toObject();
        QCOMPARE(registers.value(QStringLiteral("S104")).toString(), outcome);
        QCOMPARE(registers.value(QStringLiteral("S108")).toString(), QStringLiteral("30"));
        return;
    }
    if (name == QLatin1String("erase")) {
        QCOMPARE(radio.storedRegisters().value(102), QStringLiteral("7"));
        return;
    }
    if (name == QLatin1String("interrupted")) {
        // Back in data mode: the last thing the radio heard was "ATA".
        QTRY_VERIFY_WITH_TIMEOUT(!radio.inCommandMode(), 10000);
        QCOMPARE(radio.commands().last(), QByteArray("ATA\r"));
        QCOMPARE(radio.commands().size(), s->interruptAtCommand + 1);
        // The reason says what the commands acknowledged left in the radio.
        const QString reason = s->result.value(QStringLiteral("radio"))
                                   .toObject()
                                   .value(QStringLiteral("reason"))
                                   .toString();
        QVERIFY2(reason.startsWith(outcome), qPrintable(reason));
        return;
    }
    const QJsonObject entry = s->result.value(QStringLiteral("radio")).toObject();
    const QString reason = entry.isEmpty() ? s->result.value(QStringLiteral("reason")).toString()
                                           : entry.value(QStringLiteral("reason")).toString();
    QVERIFY2(reason.contains(outcome), qPrintable(reason));
    if (name == QLatin1String("refused") || name == QLatin1String("mismatch"))
        QVERIFY(!radio.inCommandMode());
    // Refused at once: nothing after the refused command but "ATA".
    if (name == QLatin1String("refused"))
        QCOMPARE(radio.commands().mid(radio.commands().indexOf("ATS104=12345\r")),
                 (QList<QByteArray>{"ATS104=12345\r", "ATA\r"}));
}

namespace {

// The radio ended in data mode, and the last thing it heard, at its own
// rate, was one "ATA".
void leftInDataMode(const VirtualRadio &radio)
{
    QTRY_VERIFY(!radio.inCommandMode());
    QVERIFY(!radio.transcript().isEmpty());
    QCOMPARE(radio.transcript().last().bytes, QByteArray("ATA\r"));
    QVERIFY(radio.transcript().last().understood);
}

QJsonObject radioResult(const Scenario &s)
{
    return s.result.value(QStringLiteral("radio")).toObject();
}

const QStringList Configure{"configure", "{g}",    "--model", "MR300", "--mode",
                            "p2p",       "--role", "ground",  "--id",  "4711"};

} // namespace

void TstKcRadio::addRadioLeftBehindScenarios(const Make &make)
{
    auto configured = [](const Scenario &s, const QString &) {
        QCOMPARE(radioResult(s).value(QStringLiteral("outcome")).toString(),
                 QStringLiteral("configured"));
        QVERIFY(radioResult(s).value(QStringLiteral("verified")).toBool());
        QCOMPARE(s.groundRadio->storedRegisters().value(104), QStringLiteral("4711"));
        leftInDataMode(*s.groundRadio);
    };
    Scenario *s =
        make(QStringLiteral("listing just before the wait ends"), Configure)->expect(0, configured);
    s->ground.replyDelayMs = 950;
    s = make(QStringLiteral("slow radio, every answer 1.5 s late"), Configure)
            ->expect(0, configured);
    s->ground.replyDelayMs = 1500;
    s = make(QStringLiteral("left in command mode"), Configure)->expect(0, configured);
    s->ground.startInCommandMode = true;
    s = make(QStringLiteral("escape answered by a bare OK"), Configure)->expect(0, configured);
    s->ground.escapeAnswer = VirtualRadio::EscapeAnswer::OkOnly;
    // The second "OK" arrives after "AT&V" was written: no listing ends at it.
    s = make(QStringLiteral("two OKs to the escape, 4-byte pieces 50 ms apart"), Configure)
            ->expect(0, configured);
    s->ground.afterEscapeAnswer = "\r\nOK\r\n";
    s->ground.chunkSize = 4;
    s->ground.chunkGapMs = 50;

    auto interrupted = [](const Scenario &s, const QString &) { leftInDataMode(*s.groundRadio); };
    // Every answer late, within the wait (with room for a busy machine): each
    // command ends with the radio in data mode.
    // Later than the wait for a command's answer: the answer comes while
    // "ATA" is awaited (an erased radio's at 9600, unreadable), and the
    // reason says so.
    auto tooLate = [](const Scenario &s, const QString &) {
        leftInDataMode(*s.groundRadio);
        const QString reason = s.result.value("reason").toString();
        QVERIFY2(reason.endsWith(s.name.startsWith("read") ? "the radio answered too late"
                                                           : "not readable at this rate"),
                 qPrintable(reason));
    };
    for (const QStringList &run :
         {QStringList{"read", "{g}", "--all"}, QStringList{"erase", "{g}"}}) {
        make(run.first() + QStringLiteral(", 1.5 s late"), run)
            ->expect(0, interrupted)
            ->ground.replyDelayMs = 1500;
        s = make(run.first() + QStringLiteral(", 2.5 s late"), run)->expect(1, tooLate);
        s->ground.replyDelayMs = 2500;
        s->ground.garbledAtOtherSpeeds = true;
    }
    // Later than the wait for the escape: its answer comes at the next rate,
    // as garbage. No radio is left in command mode by an escape that landed.
    s = make(QStringLiteral("3.2 s late"), Configure)
            ->expect(4, [](const Scenario &s, const QString &) {
                QTRY_VERIFY(!s.groundRadio->inCommandMode());
                QVERIFY(radioResult(s).value("reason").toString().endsWith(
                    "not readable at the rate it came at"));
            });
    s->ground.replyDelayMs = 3200;
    s->ground.garbledAtOtherSpeeds = true;
    // Entry fails; the escape that landed went out at the last rate, so the
    // closing "ATA" goes out at each rate an escape went out at.
    s = make(QStringLiteral("3.2 s late, at 9600"), Configure)
            ->expect(4, [](const Scenario &s, const QString &) { leftInDataMode(*s.groundRadio); });
    s->ground.baudRate = 9600;
    s->ground.replyDelayMs = 3200;
    s->ground.garbledAtOtherSpeeds = true;
    s = make(QStringLiteral("SIGINT while the escape may be answered"), Configure)
            ->expect(130, interrupted);
    s->ground.replyDelayMs = 700;
    s->interruptAtCommand = 1;
    // An escape still unanswered when the run is interrupted may have landed
    // all the same (a radio that never answers it, or answers too late).
    s = make(QStringLiteral("SIGINT after an unanswered escape"), Configure)
            ->expect(130, interrupted);
    s->ground.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    s->interruptAtCommand = 1;
    s = make(QStringLiteral("SIGINT, escape answered after its wait"), Configure)
            ->expect(130, interrupted);
    s->ground.replyDelayMs = 3500;
    s->interruptAtCommand = 1;
    s = make(QStringLiteral("SIGINT during a probe"), Configure)->expect(130, interrupted);
    s->ground.startInCommandMode = true; // its escape answer, a bare OK, calls for "AT"
    s->ground.replyDelayMs = 700;
    s->interruptAtCommand = 2;
    // The probe goes out at the third rate, after escapes at two others: its
    // answer is awaited, and "ATA" goes out once, at the rate that answered.
    s = make(QStringLiteral("SIGINT during a probe at the third rate"), Configure);
    s->ground.baudRate = 9600;
    s->ground.startInCommandMode = true;
    s->ground.replyDelayMs = 700;
    s->interruptAtCommand = 4; // "+++" at 115200, 230400 and 9600, then "AT"
    s->expect(130, [](const Scenario &s, const QString &) {
        leftInDataMode(*s.groundRadio);
        QCOMPARE(s.groundRadio->commands().mid(3), (QList<QByteArray>{"AT\r", "ATA\r"}));
    });
    s = make(QStringLiteral("SIGINT during read-back"), Configure)->expect(130, interrupted);
    s->ground.replyDelayMs = 700;
    s->interruptAtCommand = 10; // "AT&V"
    s = make(QStringLiteral("SIGINT during read"), {"read", "{g}"})->expect(130, interrupted);
    s->ground.replyDelayMs = 300;
    s->interruptAtCommand = 2;
    s = make(QStringLiteral("SIGINT during erase"), {"erase", "{g}"});
    s->ground.replyDelayMs = 300;
    s->interruptAtCommand = 2;
    s->expect(130, [](const Scenario &s, const QString &) {
        leftInDataMode(*s.groundRadio);
        // Nothing after the interrupt but "ATA": no step reaches the air.
        QCOMPARE(s.groundRadio->commands(), (QList<QByteArray>{"+++", "ATS102=7\r", "ATA\r"}));
    });

    s = make(QStringLiteral("unplugged mid-run"), Configure);
    s->ground.unplugAfterCommands = 3;
    s->expect(3, [](const Scenario &s, const QString &progress) {
        QCOMPARE(radioResult(s).value(QStringLiteral("outcome")).toString(),
                 QStringLiteral("port-lost"));
        QVERIFY(radioResult(s)
                    .value(QStringLiteral("reason"))
                    .toString()
                    .contains(s.groundRadio->portPath()));
        // No command is claimed for the port that was gone.
        QVERIFY2(!progress.contains(QStringLiteral("> ATS103")), qPrintable(progress));
    });

    auto usageError = [](const QString &word) {
        return [word](const Scenario &s, const QString &) {
            QVERIFY(s.groundRadio->rawReceived().isEmpty());
            QCOMPARE(s.result.value(QStringLiteral("ok")).toBool(), false);
            QVERIFY2(s.result.value(QStringLiteral("error")).toString().contains(word),
                     qPrintable(s.result.value(QStringLiteral("error")).toString()));
        };
    };
    s = make(QStringLiteral("pair with one port twice"),
             {"pair", "{g}", "{g}", "--model", "MR300", "--mode", "p2p"})
            ->expect(2, usageError(QStringLiteral("twice")));
    s = make(QStringLiteral("link with one port twice"), {"link", "{g}", "{g}"})
            ->expect(2, usageError(QStringLiteral("twice")));
    for (const QStringList &run :
         {QStringList{"link", "{g}", "{a}"},
          QStringList{"pair", "{g}", "{a}", "--model", "MR300", "--mode", "p2p", "--link-test"}}) {
        s = make(run.first() + QStringLiteral(" --min-delivery nan"),
                 run + QStringList{"--min-delivery", "nan"});
        s->secondRadio = true;
        s->expect(2, usageError(QStringLiteral("--min-delivery")));
    }
    s = make(QStringLiteral("index 0"), {"configure", "{g}", "--model", "MR300", "--mode", "star",
                                         "--role", "airborne", "--id", "1", "--index", "0"})
            ->expect(2, usageError(QStringLiteral("--index")));
    // Options that would change nothing are refused, not dropped.
    const QStringList p2p{"--mode", "p2p", "--id", "1"}, star{"--mode", "star", "--id", "1"};
    const QList<std::tuple<QString, QString, QStringList>> refusedOptions{
        {"--baud for an MR240", "--baud",
         QStringList{"configure", "{g}", "--model", "MR240", "--role", "ground", "--baud",
                     "115200"} +
             p2p},
        {"--baud for a star pair", "--baud",
         QStringList{"pair", "{g}", "/dev/kc-a", "--model", "MR300", "--baud", "9600"} + star},
        {"--index for a p2p radio", "--index",
         QStringList{"configure", "{g}", "--model", "MR300", "--role", "airborne", "--index", "2"} +
             p2p},
        {"--index for a star ground radio", "--index",
         QStringList{"configure", "{g}", "--model", "MR300", "--role", "ground", "--index", "2"} +
             star}};
    for (const auto &[name, word, arguments] : refusedOptions)
        make(name, arguments)->expect(2, usageError(word))->late = true;
    s = make(QStringLiteral("read with a second port"), {"read", "{g}", "/dev/kcradio-other"})
            ->expect(2, usageError(QStringLiteral("one port")));
    make(QStringLiteral("unknown command"), {"bogus"})->expect(2, usageError("unknown command"));
    make(QStringLiteral("unknown option"), {"read", "{g}", "--bogus"})
        ->expect(2, usageError("bogus"));
    make(QStringLiteral("check p2p, two airborne ports"),
         {"check", "--model", "MR300", "--mode", "p2p", "{g}", "/dev/kc-a", "/dev/kc-b"})
        ->expect(2, usageError("p2p takes"));
    make(QStringLiteral("fleet --jobs 0"), {"fleet", "p.csv", "--record", "r", "--jobs", "0"})
        ->expect(2, usageError("--jobs"));
    s = make(QStringLiteral("read, port lost"), {"read", "{g}"});
    s->ground.unplugAfterCommands = 1;
    s->expect(3, [](const Scenario &s, const QString &) {
        QVERIFY(s.result.value(QStringLiteral("reason")).toString().startsWith("port lost"));
    });

    // Without --json: the result on stdout whatever the outcome, progress
    // on stderr, nothing there that the user did not cause.
    auto text = [&make](const QString &name, const QStringList &arguments, int status,
                        const QStringList &out, const QStringList &err) {
        Scenario *s = make(name, arguments);
        s->plain = true;
        s->late = true; // off the timed scenarios' load
        return s->expect(status, [out, err](const Scenario &s, const QString &progress) {
            for (const QString &word : out)
                QVERIFY2(s.out.contains(word) && !progress.contains(word), qPrintable(s.out));
            for (const QString &word : err)
                QVERIFY2(progress.contains(word), qPrintable(progress));
            if (err.isEmpty())
                QCOMPARE(progress, QString());
        });
    };
    text("ports, plain", {"ports"}, 0, {}, {});
    text("configure, plain", Configure, 0, {"found at 115200 baud, set to 9600"},
         {"> ATS104=4711"});
    text("refused, plain", Configure, 1, {"ATS104=4711 refused"}, {"> ATS104=4711"})
        ->ground.refuseCommand = "ATS104=4711";
    text("missing port, plain", {"read", "/dev/kcradio-no-such-port"}, 3, {"cannot open"}, {});
    text("erase, plain", {"erase", "{g}"}, 0, {"back to 9600", "ID and every other setting kept"},
         {"> +++ at 115200 baud", "< OK (", "> ATS102=7"});
    text("no command", {}, 2, {}, {"no command given", "pair GROUND AIRBORNE"});
    text("help", {"help"}, 0, {"Exit status", "fleet PLAN.csv"}, {});
    text("help-all", {"--help-all"}, 0, {"--link-test", "--again", "read PORT [--all]"}, {});
    for (const char *command : {"read", "configure", "pair", "erase", "fleet", "check", "link"})
        text(QStringLiteral("help ") + command, {"help", command}, 0, {"--cadence ack|fixed"}, {});
    text("help link, whole seconds", {"help", "link"}, 0, {"in whole seconds"}, {});

    s = make(QStringLiteral("ports: missing and locked extras"), {"ports"});
    s->secondRadio = true;
    s->lockAirborne = true;
    s->extraPorts = QStringLiteral("{g}:/dev/kcradio-no-such-port:{a}");
    s->check = [](const Scenario &s, const QString &) {
        QMap<QString, bool> busy;
        for (const QJsonValue &port : s.result.value(QStringLiteral("ports")).toArray())
            busy.insert(port.toObject().value("name").toString(),
                        port.toObject().value("busy").toBool());
        QVERIFY(!busy.contains(QStringLiteral("/dev/kcradio-no-such-port")));
        QCOMPARE(busy.value(s.groundRadio->portPath(), true), false);
        QCOMPARE(busy.value(s.airborneRadio->portPath(), false), true);
    };
}

void TstKcRadio::addPacingScenarios(const Make &make)
{
    Scenario *s = make(QStringLiteral("pair, ground refused: the higher code"),
                       {"pair", "{g}", "{a}", "--model", "MR300", "--mode", "p2p"});
    s->secondRadio = true;
    s->ground.refuseCommand = "AT&W";
    s->expect(1, [](const Scenario &s, const QString &) {
        QCOMPARE(s.result.value("ground").toObject().value("outcome").toString(),
                 QStringLiteral("refused"));
        QCOMPARE(s.result.value("airborne").toObject().value("outcome").toString(),
                 QStringLiteral("configured"));
        leftInDataMode(*s.groundRadio);
    });
    s = make(QStringLiteral("configure, dead radio"), Configure);
    s->ground.answerLimit = 0;
    s->expect(4, [](const Scenario &s, const QString &) {
        QCOMPARE(radioResult(s).value(QStringLiteral("outcome")).toString(),
                 QStringLiteral("silent"));
    });
    s = make(QStringLiteral("a command never answered"), Configure);
    s->ground.answerLimit = 2; // the escape and the preset
    s->expect(1, [](const Scenario &s, const QString &) {
        QCOMPARE(radioResult(s).value(QStringLiteral("reason")).toString(),
                 QStringLiteral("ATS102=7 not acknowledged"));
        // Given up on after the full command interval (the command itself
        // may have been heard late), then "ATA".
        const QList<VirtualRadio::Received> heard = s.groundRadio->transcript();
        QCOMPARE(heard.at(heard.size() - 2).bytes, QByteArray("ATS102=7\r"));
        QCOMPARE(heard.last().bytes, QByteArray("ATA\r"));
        QVERIFY(heard.last().msecs - heard.at(heard.size() - 2).msecs >= 2000 - 250);
    });
    s = make(QStringLiteral("fixed cadence"),
             Configure + QStringList{"--cadence", "fixed", "--no-verify"});
    s->check = [](const Scenario &s, const QString &) {
        // Seven commands after the escape, on a 2000 ms grid (a command may
        // arrive late, never early).
        const QList<VirtualRadio::Received> heard = s.groundRadio->transcript();
        QCOMPARE(heard.size(), 8);
        QVERIFY(heard.last().msecs - heard.at(1).msecs >= 6 * 2000 - 250);
        leftInDataMode(*s.groundRadio);
    };
}

namespace {

// What each radio of a fleet heard in the scenario's run, and whether that
// configured it (a preset or a register written).
bool configuredIn(const Scenario &s, int radio)
{
    for (const QByteArray &command : s.radios.at(radio)->commands().mid(s.heardBefore.at(radio)))
        if (command.startsWith("AT&F") || command.startsWith("ATS"))
            return true;
    return false;
}

// The latest record line of each radio of a fleet, by the radio.
QList<KcFleetRecordEntry> latestLines(const Scenario &s, int expectedLines)
{
    const KcFleetRecord::Contents record = KcFleetRecord::parse(s.record);
    [&]() {
        QVERIFY(record.problems.isEmpty());
        QCOMPARE(record.entries.size(), expectedLines);
    }();
    QList<KcFleetRecordEntry> latest;
    for (const VirtualRadio *radio : s.radios) {
        latest.append(KcFleetRecordEntry());
        for (const KcFleetRecordEntry &entry : record.entries)
            if (entry.port == radio->portPath())
                latest.last() = entry;
    }
    return latest;
}

// Configured, verified and recorded with the ID that the radio stores.
bool done(const Scenario &s, const QList<KcFleetRecordEntry> &lines, int radio)
{
    const KcFleetRecordEntry &entry = lines.at(radio);
    return entry.isDone() && entry.registers.value(104) == entry.id &&
           s.radios.at(radio)->storedRegisters().value(104) == entry.id;
}

} // namespace

void TstKcRadio::addFleetScenarios(const Make &make)
{
    const QByteArray header = "network,role,port,model,mode,baud,index,id\n";
    const VirtualRadio::Options plain;
    VirtualRadio::Options refusing;
    refusing.refuseCommand = "AT&F8"; // the star airborne preset
    const QStringList fleetArguments{"fleet", "{dir}/plan.csv", "--record", "{dir}/record.jsonl"};

    Scenario *s = make(QStringLiteral("fleet: pair and star, one radio refuses"),
                       fleetArguments + QStringList{"--transcript", "{dir}/transcripts"});
    s->fleet = {plain, plain, plain, plain, refusing, plain};
    s->plan = header + "# a pair and a star network\n"
                       "pair,ground,{r0},MR300,p2p,,,\npair,airborne,{r1},MR300,p2p,,,\n"
                       "star,ground,{r2},MR240,star,,,\nstar,airborne,{r3},MR240,star,,,\n"
                       "star,airborne,{r4},MR240,star,,7,\nstar,airborne,{r5},MR240,star,,,\n";
    s->exitCode = 1;
    const QString first = s->name;
    auto planned = [](const Scenario &s, bool resumed, QList<KcFleetRecordEntry> &lines) {
        lines = latestLines(s, resumed ? 7 : 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(done(s, lines, i), i != 4 || resumed);
        // One ID per network, two networks, star indexes as planned.
        QCOMPARE(lines.at(1).id, lines.at(0).id);
        for (int i = 3; i < 6; ++i)
            QCOMPARE(lines.at(i).id, lines.at(2).id);
        QVERIFY(lines.at(0).id != lines.at(2).id);
        QCOMPARE(lines.at(0).id.size(), 10);
        QCOMPARE((QList<int>{lines.at(3).index, lines.at(4).index, lines.at(5).index}),
                 (QList<int>{1, 7, 2}));
        QCOMPARE(lines.at(5).registers.value(105), QStringLiteral("3"));
    };
    s->check = [planned](const Scenario &s, const QString &) {
        QList<KcFleetRecordEntry> lines;
        planned(s, false, lines);
        QCOMPARE(lines.at(4).outcome, QStringLiteral("refused"));
        QVERIFY(lines.at(4).reason.contains(QStringLiteral("AT&F8")));
        QCOMPARE(s.result.value(QStringLiteral("radios")).toArray().size(), 6);
        QFile transcript(s.dir->filePath(QStringLiteral("transcripts/star-airborne-7.log")));
        QVERIFY(transcript.open(QIODevice::ReadOnly));
        const QByteArray text = transcript.readAll();
        QVERIFY(text.contains("> AT&F8\\r") && text.contains("< \\r\\nERROR"));
    };
    s = make(QStringLiteral("fleet: resume finishes the failed radio"),
             fleetArguments + QStringList{"--resume"});
    s->after = first;
    s->prepare = [](const Scenario &s) { s.radios.at(4)->setRefuseCommand(QByteArray()); };
    s->check = [planned](const Scenario &s, const QString &) {
        QList<KcFleetRecordEntry> lines;
        planned(s, true, lines);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(configuredIn(s, i), i == 4);
    };
    s = make(QStringLiteral("check a configured pair"),
             {"check", "--model", "MR300", "--mode", "p2p", "{r0}", "{r1}"});
    s->after = first;
    auto checked = [](const Scenario &s, const QString &) {
        const QJsonArray radios = s.result.value(QStringLiteral("radios")).toArray();
        QCOMPARE(radios.size(), 2);
        QCOMPARE(radios.at(0).toObject().value(QStringLiteral("problems")).toArray().size(), 0);
        const QJsonArray problems =
            radios.at(1).toObject().value(QStringLiteral("problems")).toArray();
        QCOMPARE(problems.size(), s.exitCode);
        if (s.exitCode == 1)
            QCOMPARE(problems.first().toObject().value(QStringLiteral("register")).toString(),
                     QStringLiteral("S104"));
        QVERIFY(!configuredIn(s, 0) && !configuredIn(s, 1));
    };
    s->check = checked;
    s = make(QStringLiteral("check radios with different IDs"),
             {"check", "--model", "MR300", "--mode", "p2p", "{r0}", "{r1}"});
    s->fleet = {plain, plain};
    s->prepare = [](const Scenario &s) {
        s.radios.at(0)->setRegister(104, QStringLiteral("1111"));
        s.radios.at(1)->setRegister(104, QStringLiteral("2222"));
    };
    s->exitCode = 1;
    s->check = checked;

    const QByteArray pair = header + "p,ground,{r0},MR300,p2p,,,\np,airborne,{r1},MR300,p2p,,,\n";
    s = make(QStringLiteral("fleet: kill -9 mid-run"), fleetArguments + QStringList{"--jobs", "1"});
    s->fleet = {plain, plain};
    s->plan = pair;
    // The second radio is configured and back in data mode, not yet read
    // back nor recorded.
    s->killWhenLastHears = "ATA\r";
    s->check = [](const Scenario &s, const QString &) {
        // The first radio's line is whole and nothing more was written.
        QVERIFY(done(s, latestLines(s, 1), 0));
    };
    s = make(QStringLiteral("fleet: resume after kill -9"),
             fleetArguments + QStringList{"--jobs", "1", "--resume"});
    s->after = QStringLiteral("fleet: kill -9 mid-run");
    s->check = [](const Scenario &s, const QString &) {
        const QList<KcFleetRecordEntry> lines = latestLines(s, 2);
        QVERIFY(done(s, lines, 0) && done(s, lines, 1));
        QCOMPARE(lines.at(1).id, lines.at(0).id);
        QVERIFY(!configuredIn(s, 0) && configuredIn(s, 1));
    };
    // Run again without --resume: refused, the record and the radios untouched.
    s = make(QStringLiteral("fleet: a second run without --resume"), fleetArguments);
    s->after = QStringLiteral("fleet: resume after kill -9");
    s->expect(2, [](const Scenario &s, const QString &) {
        QVERIFY(s.result["problems"][0]["problem"].toString().contains("configured already"));
        QCOMPARE(s.radios.at(0)->commands().size(), s.heardBefore.at(0));
        QCOMPARE(s.radios.at(1)->commands().size(), s.heardBefore.at(1));
        QCOMPARE(KcFleetRecord::parse(s.record).entries.size(), 2);
    });
    s = make(QStringLiteral("record full"), fleetArguments + QStringList{"--jobs", "1"});
    s->fleet = {plain, plain};
    s->plan = pair;
    s->expect(3, [](const Scenario &s, const QString &) {
        // The record failed after the first radio: the second was never touched.
        QVERIFY(s.result.value(QStringLiteral("recordError")).toString().contains("cannot write"));
        QVERIFY(configuredIn(s, 0));
        QVERIFY(s.radios.at(1)->rawReceived().isEmpty());
    });

    // Each refused on one line of the plan, with nothing sent.
    const QList<std::tuple<QString, int, QByteArray>> refusedPlans{
        {QStringLiteral("duplicate ID"), 4,
         "a,ground,{r0},MR300,p2p,,,77\na,airborne,{r1},MR300,p2p,,,\n"
         "b,ground,{r2},MR300,p2p,,,77\nb,airborne,{r3},MR300,p2p,,,\n"},
        {QStringLiteral("duplicate index"), 4,
         "s,ground,{r0},MR300,star,,,\ns,airborne,{r1},MR300,star,,3,\n"
         "s,airborne,{r2},MR300,star,,3,\n"},
        {QStringLiteral("port named twice"), 3,
         "a,ground,{r0},MR300,p2p,,,\na,airborne,{link},MR300,p2p,,,\n"},
        {QStringLiteral("a folder as a port"), 3,
         "a,ground,{r0},MR300,p2p,,,\na,airborne,{dir},MR300,p2p,,,\n"},
        // Every problem in one pass: the port named twice too.
        {QStringLiteral("model, baud and port at once"), 234,
         "a,ground,{r0},MR999,p2p,,,\na,airborne,{r1},MR300,p2p,1200,,\n"
         "b,ground,{link},MR300,p2p,,,\nb,airborne,{r2},MR300,p2p,,,\n"}};
    for (const auto &[name, line, rows] : refusedPlans) {
        s = make(QStringLiteral("fleet: ") + name, fleetArguments);
        s->fleet = {plain, plain, plain, plain};
        s->plan = header + rows;
        s->expect(2, [line = line](const Scenario &s, const QString &) {
            QString lines; // the problems' line numbers, one digit each
            for (const QJsonValue &problem : s.result.value(QStringLiteral("problems")).toArray())
                lines += QString::number(problem["line"].toInt());
            QCOMPARE(lines, QString::number(line));
            for (const VirtualRadio *radio : s.radios)
                QVERIFY(radio->rawReceived().isEmpty());
            QVERIFY(!QFileInfo::exists(s.dir->filePath(QStringLiteral("record.jsonl"))));
        });
    }

    // A terminal hangs up: SIGHUP, stdout and stderr gone.
    s = make(QStringLiteral("fleet: SIGHUP, outputs closed"),
             fleetArguments + QStringList{"--jobs", "1"});
    s->fleet = {plain, plain};
    s->plan = pair;
    s->closeOutputs = true;
    s->interruptAtCommand = 3;
    s->interruptSignal = SIGHUP;
    s->expect(130, [](const Scenario &s, const QString &) {
        QCOMPARE(latestLines(s, 1).first().outcome, QStringLiteral("aborted"));
        leftInDataMode(*s.radios.at(0));
        QVERIFY(!QFileInfo::exists(s.dir->filePath(QStringLiteral("record.jsonl.lock"))));
    });

    // Radio 0 fails at once, the fourth waits; names alike once cleaned and a
    // second run in the folder: a transcript per radio and run, a port a line.
    const QStringList transcribed =
        fleetArguments + QStringList{"--jobs", "2", "--transcript", "{dir}/t"};
    s = make(QStringLiteral("fleet: --jobs 2, a port that fails at once"), transcribed);
    s->fleet = {plain, plain, plain, plain};
    s->plan = header + "Hangar 1,ground,{r0},MR300,p2p,,,\nHangar 1,airborne,{r1},MR300,p2p,,,\n"
                       "Hangar_1,ground,{r2},MR300,p2p,,,\nHangar_1,airborne,{r3},MR300,p2p,,,\n";
    s->lockAirborne = true;
    s->expect(3, [](const Scenario &s, const QString &progress) {
        const int ended = progress.indexOf(QStringLiteral("configured and verified"));
        QVERIFY(ended > 0 && progress.indexOf(s.radios.at(3)->portPath() + ": ") > ended);
    });
    make(QStringLiteral("fleet: a second run's transcripts"), transcribed + QStringList{"--again"})
        ->expect(3,
                 [](const Scenario &s, const QString &) {
                     const QDir dir(s.dir->filePath(QStringLiteral("t")));
                     QCOMPARE(dir.entryList(QDir::Files).size(), 8);
                     for (const QString &name : dir.entryList(QDir::Files)) {
                         QFile file(dir.filePath(name));
                         QVERIFY(file.open(QIODevice::ReadOnly));
                         const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
                         for (const QByteArray &line : lines)
                             QCOMPARE(line.split(' ').value(1), lines.first().split(' ').value(1));
                     }
                 })
        ->after = s->name;

    s = make(QStringLiteral("record full, all at once"),
             fleetArguments + QStringList{"--transcript", "{dir}/plan.csv"});
    s->fleet = {plain, plain};
    s->plan = pair;
    s->expect(3, [](const Scenario &s, const QString &) {
        // Both at work when the record failed: both finish, unrecorded.
        const QJsonArray warnings = s.result.value(QStringLiteral("warnings")).toArray();
        QVERIFY(warnings.first().toString().contains("Not a directory"));
        QVERIFY(warnings.last().toString().contains("not recorded"));
        for (const QJsonValue &radio : s.result.value(QStringLiteral("radios")).toArray())
            QCOMPARE(radio.toObject().value("recorded").toBool(true), false);
    });
}

namespace {

// Radios that hold an ID and a serial rate code, as configured radios do.
VirtualRadio::Options holding(int rate)
{
    VirtualRadio::Options options;
    options.baudRate = rate;
    return options;
}

void setUp(VirtualRadio *radio, const QString &id)
{
    radio->setRegister(104, id);
    radio->setRegister(102, radio->baudRate() == 9600 ? QStringLiteral("7") : QStringLiteral("1"));
}

QJsonArray directionsOf(const QJsonObject &result)
{
    return result.value(QStringLiteral("directions")).toArray();
}

// Every radio back in data mode, whatever the run did.
void allInDataMode(const Scenario &s)
{
    for (const VirtualRadio *radio :
         QList<const VirtualRadio *>{s.groundRadio.get(), s.airborneRadio.get()} +
             QList<const VirtualRadio *>(s.radios.cbegin(), s.radios.cend()))
        if (radio)
            QTRY_VERIFY(!radio->inCommandMode());
}

} // namespace

void TstKcRadio::addLinkScenarios(const Make &make)
{
    VirtualAir::Options air;
    air.seed = 20261210;
    auto pairOnAir = [&](const QString &name, const QStringList &arguments, const QString &groundId,
                         const QString &airborneId) {
        Scenario *s = make(name, arguments);
        s->secondRadio = true;
        s->ground = holding(9600);
        s->airborne = holding(115200);
        s->air = air;
        s->prepare = [groundId, airborneId](const Scenario &s) {
            setUp(s.groundRadio.get(), groundId);
            setUp(s.airborneRadio.get(), airborneId);
        };
        return s;
    };
    const QStringList link{"link", "{g}", "{a}"};
    pairOnAir(QStringLiteral("link: a linked pair"), link, "777", "00777")
        ->expect(0, [](const Scenario &s, const QString &) {
            const QJsonArray directions = directionsOf(s.result);
            QCOMPARE(directions.size(), 2);
            for (const QJsonValue &d : directions) {
                QVERIFY(d["framesSent"].toInt() >= 20);
                QCOMPARE(d["framesReceived"].toInt(), d["framesSent"].toInt());
                QCOMPARE(d["delivery"].toDouble(), 1.0);
                QVERIFY(d["latencyMs"]["max"].toInt() >= d["latencyMs"]["p50"].toInt());
            }
            // The slower line sets the load: half of 960 bytes/s.
            QCOMPARE(s.result["bytesPerSecond"].toInt(), 480);
            QCOMPARE(s.result["radios"][1]["rate"].toInt(), 115200);
            leftInDataMode(*s.groundRadio);
            leftInDataMode(*s.airborneRadio);
        });
    // Frames slower than the wait after sending once was: all of them come,
    // none is taken for lost.
    air.delayMs = 3500;
    pairOnAir(QStringLiteral("link: 3.5 s on the air"), link, "35", "35")
        ->expect(0, [](const Scenario &s, const QString &) {
            for (const QJsonValue &d : directionsOf(s.result)) {
                QCOMPARE(d["framesReceived"].toInt(), d["framesSent"].toInt());
                QVERIFY(d["latencyMs"]["p50"].toInt() >= 3500);
                // Measured over the span the frames took: never above the load.
                QVERIFY(d["goodputBytesPerSecond"].toInt() <= s.result["bytesPerSecond"].toInt());
            }
        });
    air.delayMs = VirtualAir::Options().delayMs;
    pairOnAir(QStringLiteral("link: different IDs"), link, "111", "222")
        ->expect(1, [](const Scenario &s, const QString &) {
            const QString reason = s.result["reason"].toString();
            QVERIFY2(reason.contains("111") && reason.contains("222"), qPrintable(reason));
            QVERIFY(directionsOf(s.result).isEmpty());
            QCOMPARE(s.groundRadio->airBytesPassedOut() + s.airborneRadio->airBytesPassedOut(), 0);
        });
    air.lossProbability = 0.2;
    Scenario *s = pairOnAir(QStringLiteral("link: 20 % air loss"),
                            link + QStringList{"--seconds", "4"}, "5", "5");
    s->airborne.baudRate = s->ground.baudRate = 115200;
    s->expect(1, [](const Scenario &s, const QString &) {
        for (const QJsonValue &d : directionsOf(s.result)) {
            QVERIFY2(qAbs(d["delivery"].toDouble() - 0.8) < 0.12,
                     qPrintable(QString::number(d["delivery"].toDouble())));
            QCOMPARE(d["framesLost"].toInt(),
                     d["framesSent"].toInt() - d["framesReceived"].toInt());
        }
        QVERIFY(s.result["reason"].toString().contains(QStringLiteral("of the frames")));
    });
    air.lossProbability = 1.0;
    for (const QStringList &run : {link, link + QStringList{"--min-delivery", "0"}})
        pairOnAir(QStringLiteral("link: nothing arrives") + run.mid(3).join(' ').prepend(' '), run,
                  "6", "6")
            ->expect(1, [](const Scenario &s, const QString &) {
                QCOMPARE(s.result["reason"].toString(),
                         QStringLiteral("no frame from ground %1 reached airborne %2 (IDs 6 and 6)")
                             .arg(s.groundRadio->portPath(), s.airborneRadio->portPath()));
            });
    air.lossProbability = 0;
    air.corruptionProbability = 0.3;
    pairOnAir(QStringLiteral("link: corruption"), link + QStringList{"--min-delivery", "0.3"}, "9",
              "9")
        ->expect(0, [](const Scenario &s, const QString &) {
            for (const QJsonValue &d : directionsOf(s.result)) {
                QVERIFY(d["framesCorrupt"].toInt() > 0);
                QCOMPARE(d["framesReceived"].toInt() + d["framesCorrupt"].toInt() +
                             d["framesLost"].toInt(),
                         d["framesSent"].toInt());
            }
        });
    air.corruptionProbability = 0;
    pairOnAir(QStringLiteral("link: every frame needed, every frame arrives"),
              link + QStringList{"--min-delivery", "1"}, "8", "8")
        ->expect(0, [](const Scenario &s, const QString &) { allInDataMode(s); });
    pairOnAir(QStringLiteral("link: a port that cannot be opened"),
              {"link", "{g}", "/dev/kcradio-no-such-port"}, "8", "8")
        ->expect(3, [](const Scenario &s, const QString &) { allInDataMode(s); });
    s = pairOnAir(QStringLiteral("link: SIGINT while the radios are read"), link, "8", "8");
    s->interruptAtCommand = 4; // the reader escapes twice at 115200, once at 230400, then at 9600
    s->expect(130, [](const Scenario &s, const QString &) { allInDataMode(s); });
    s = make(QStringLiteral("link: a star of four"), {"link", "{r0}", "{r1}", "{r2}", "{r3}"});
    s->fleet = {holding(115200), holding(115200), holding(9600), holding(115200)};
    s->air = air;
    s->prepare = [](const Scenario &s) {
        for (VirtualRadio *radio : s.radios)
            setUp(radio, "4242");
    };
    s->expect(0, [](const Scenario &s, const QString &) {
        const QJsonArray directions = directionsOf(s.result);
        QCOMPARE(directions.size(), 6);
        // The ground's frames reach each airborne radio, then each answers.
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(directions[i]["from"].toString().startsWith("ground"), i < 3);
            QCOMPARE(directions[i]["delivery"].toDouble(), 1.0);
        }
    });
    // Knocked into command mode while the ground's frames reach it.
    s = pairOnAir(QStringLiteral("link: airborne knocked into command mode"), link, "8", "8");
    s->knockAtAirPacket = 10;
    s->expect(1, [](const Scenario &s, const QString &) {
        QVERIFY2(s.result["reason"].toString().startsWith("left data mode during the traffic"),
                 qPrintable(s.result["reason"].toString()));
        QCOMPARE(s.result["leftDataMode"].toArray().size(), 1);
        leftInDataMode(*s.airborneRadio);
    });
    s = pairOnAir(QStringLiteral("link: SIGINT mid-traffic"), link + QStringList{"--seconds", "30"},
                  "3", "3");
    s->interruptAtAirPacket = 10;
    s->expect(130, [](const Scenario &s, const QString &) {
        allInDataMode(s);
        // Stopped at once: far fewer frames than 30 s would carry.
        const qint64 passed = s.airborneRadio->airBytesPassedOut();
        QVERIFY2(passed > 0 && passed < 100 * 32, qPrintable(QString::number(passed)));
    });
    pairOnAir(QStringLiteral("pair --link-test"),
              {"pair", "{g}", "{a}", "--model", "MR300", "--mode", "p2p", "--baud", "115200",
               "--link-test"},
              "0", "0")
        ->expect(0, [](const Scenario &s, const QString &) {
            const QJsonObject link = s.result["link"].toObject();
            QCOMPARE(link["outcome"].toString(), QStringLiteral("linked"));
            QCOMPARE(directionsOf(link).size(), 2);
            QCOMPARE(link["radios"][0]["id"].toString(), s.result["id"].toString());
            allInDataMode(s);
        });

    const QStringList fleet{"fleet", "{dir}/plan.csv", "--record", "{dir}/record.jsonl",
                            "--link-test"};
    s = make(QStringLiteral("fleet --link-test: two networks"), fleet);
    s->fleet = {holding(115200), holding(115200), holding(115200), holding(115200)};
    s->air = air;
    s->plan = "network,role,port,model,mode,baud,index,id\n"
              "a,ground,{r0},MR300,p2p,,,\na,airborne,{r1},MR300,p2p,,,\n"
              "b,ground,{r2},MR300,p2p,,,\nb,airborne,{r3},MR300,p2p,,,\n";
    auto linkLines = [](const Scenario &s, int expected) {
        const KcFleetRecord::Contents record = KcFleetRecord::parse(s.record);
        QVERIFY(record.problems.isEmpty());
        QCOMPARE(record.entries.size(), 4);
        QCOMPARE(record.links.size(), expected);
        for (const QJsonObject &line : record.links) {
            QCOMPARE(line["outcome"].toString(), QStringLiteral("linked"));
            QCOMPARE(directionsOf(line).size(), 2);
            QCOMPARE(line["id"].toString(), record.entries.at(line["network"] == "a" ? 0 : 2).id);
        }
        QCOMPARE(record.links.first()["network"].toString(), QStringLiteral("a"));
    };
    s->expect(0, [linkLines](const Scenario &s, const QString &) { linkLines(s, 2); });
    s = make(QStringLiteral("fleet --link-test: SIGINT mid-traffic"), fleet);
    s->fleet = {holding(115200), holding(115200)};
    s->air = air;
    s->plan = "network,role,port,model,mode,baud,index,id\n"
              "a,ground,{r0},MR300,p2p,,,\na,airborne,{r1},MR300,p2p,,,\n";
    s->interruptAtAirPacket = 10;
    s->expect(130, [](const Scenario &s, const QString &) {
        // An interrupted test proves nothing: the record keeps no line of it.
        const KcFleetRecord::Contents record = KcFleetRecord::parse(s.record);
        QCOMPARE(record.entries.size(), 2);
        QCOMPARE(record.links.size(), 0);
        allInDataMode(s);
    });
    s = make(QStringLiteral("fleet --link-test: resume skips linked networks"),
             fleet + QStringList{"--resume"});
    s->after = QStringLiteral("fleet --link-test: two networks");
    s->expect(0, [linkLines](const Scenario &s, const QString &) {
        linkLines(s, 2);
        for (int i = 0; i < 4; ++i)
            QVERIFY(!configuredIn(s, i));
        QCOMPARE(s.result["links"][1]["outcome"].toString(), QStringLiteral("skipped"));
    });
}

QTEST_GUILESS_MAIN(TstKcRadio)
#include "tst_kcradio.moc"
