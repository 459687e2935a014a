// kcradio end to end: the built executable against virtual radios at the
// real cadence. The scenarios run side by side (each with radios of its
// own), started in initTestCase; each row then checks its own scenario.
#include "virtualradio.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
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
    int interruptAtCommand = -1; // SIGINT once the ground radio heard this many
    QString extraPorts;          // KC_EXTRA_SERIAL_PORTS, "{g}" and "{a}" replaced
    bool lockAirborne = false;   // the airborne radio's port held open by this test
    // The row's own checks, after the exit status; stderr is the progress.
    std::function<void(const Scenario &, const QString &stderrText)> check;

    std::unique_ptr<VirtualRadio> groundRadio;
    std::unique_ptr<VirtualRadio> airborneRadio;
    std::unique_ptr<QProcess> process;
    std::unique_ptr<QSerialPort> lock;
    QJsonObject result;
};

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

    std::vector<std::unique_ptr<Scenario>> mScenarios;
    Scenario *scenario(const QString &name);
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
    const QStringList json{QStringLiteral("--json")};

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
    Scenario *read = make(QStringLiteral("read"), {"read", "{g}"});
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

    for (const std::unique_ptr<Scenario> &s : mScenarios) {
        s->groundRadio = std::make_unique<VirtualRadio>(s->ground);
        QVERIFY(s->groundRadio->start());
        if (s->secondRadio) {
            s->airborneRadio = std::make_unique<VirtualRadio>(s->airborne);
            QVERIFY(s->airborneRadio->start());
        }
        if (s->lockAirborne) {
            s->lock = std::make_unique<QSerialPort>(s->airborneRadio->portPath());
            QVERIFY(s->lock->open(QIODevice::ReadWrite));
        }
        if (s->name == QLatin1String("read")) {
            s->groundRadio->setRegister(104, QStringLiteral("00305"));
            s->groundRadio->setRegister(102, QStringLiteral("0"));
        }
        QStringList arguments;
        for (QString argument : s->arguments) {
            argument.replace(QStringLiteral("{g}"), s->groundRadio->portPath());
            if (s->airborneRadio)
                argument.replace(QStringLiteral("{a}"), s->airborneRadio->portPath());
            arguments << argument;
        }
        s->process = std::make_unique<QProcess>();
        s->process->setProgram(program);
        s->process->setArguments(arguments + json);
        if (!s->extraPorts.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            QString paths = s->extraPorts;
            paths.replace(QStringLiteral("{g}"), s->groundRadio->portPath());
            if (s->airborneRadio)
                paths.replace(QStringLiteral("{a}"), s->airborneRadio->portPath());
            environment.insert(QStringLiteral("KC_EXTRA_SERIAL_PORTS"), paths);
            s->process->setProcessEnvironment(environment);
        }
        if (s->interruptAtCommand > 0) {
            QProcess *process = s->process.get();
            const int at = s->interruptAtCommand;
            VirtualRadio *radio = s->groundRadio.get();
            connect(radio, &VirtualRadio::commandReceived, this, [radio, process, at]() {
                if (radio->commands().size() == at)
                    ::kill(pid_t(process->processId()), SIGINT);
            });
        }
        s->process->start();
    }
    // The longest scenario, a star pair with an airborne radio at 9600 and
    // both read back, takes about 25 s at the real cadence.
    const bool allDone = QTest::qWaitFor(
        [this]() {
            for (const std::unique_ptr<Scenario> &s : mScenarios)
                if (s->process->state() != QProcess::NotRunning)
                    return false;
            return true;
        },
        120000);
    QVERIFY(allDone);
    for (const std::unique_ptr<Scenario> &s : mScenarios) {
        const QByteArray out = s->process->readAllStandardOutput();
        if (!out.isEmpty()) {
            QJsonParseError error;
            s->result = QJsonDocument::fromJson(out, &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError,
                     qPrintable(s->name + QStringLiteral(": stdout is not one JSON object: ") +
                                QString::fromUtf8(out)));
        }
    }
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
    QTest::newRow("SIGINT mid-run") << "interrupted" << 130 << "";
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
    QVERIFY2(s->process->exitStatus() == QProcess::NormalExit, qPrintable(stderrText));
    QCOMPARE(s->process->exitCode(), exitCode);
    VirtualRadio &radio = *s->groundRadio;
    if (s->check) {
        s->check(*s, stderrText);
        return;
    }

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
        QCOMPARE(s->result.value(QStringLiteral("airborne"))
                     .toObject()
                     .value(QStringLiteral("rate"))
                     .toInt(),
                 star ? 9600 : 115200);
        return;
    }
    if (name == QLatin1String("read")) {
        QCOMPARE(s->result.value(QStringLiteral("id")).toString(), outcome);
        QCOMPARE(s->result.value(QStringLiteral("rate")).toInt(), 230400);
        QCOMPARE(s->result.value(QStringLiteral("answeredAt")).toInt(), 230400);
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
        QCOMPARE(radio.commands().mid(4), (QList<QByteArray>{"ATS104=12345\r", "ATA\r"}));
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
    Scenario *s = make(QStringLiteral("listing just before the wait ends"), Configure);
    s->ground.replyDelayMs = 950;
    s->check = configured;
    s = make(QStringLiteral("slow radio, every answer 1.5 s late"), Configure);
    s->ground.replyDelayMs = 1500;
    s->check = configured;
    s = make(QStringLiteral("left in command mode"), Configure);
    s->ground.startInCommandMode = true;
    s->check = configured;
    s = make(QStringLiteral("escape answered by a bare OK"), Configure);
    s->ground.escapeAnswer = VirtualRadio::EscapeAnswer::OkOnly;
    s->check = configured;

    auto interrupted = [](const Scenario &s, const QString &) { leftInDataMode(*s.groundRadio); };
    s = make(QStringLiteral("SIGINT while the escape may be answered"), Configure);
    s->ground.replyDelayMs = 700;
    s->interruptAtCommand = 1;
    s->exitCode = 130;
    s->check = interrupted;
    s = make(QStringLiteral("SIGINT during read"), {"read", "{g}"});
    s->ground.replyDelayMs = 300;
    s->interruptAtCommand = 2;
    s->exitCode = 130;
    s->check = interrupted;
    s = make(QStringLiteral("SIGINT during erase"), {"erase", "{g}"});
    s->ground.replyDelayMs = 300;
    s->interruptAtCommand = 2;
    s->exitCode = 130;
    s->check = [](const Scenario &s, const QString &) {
        leftInDataMode(*s.groundRadio);
        // Nothing after the interrupt but "ATA": no step reaches the air.
        QCOMPARE(s.groundRadio->commands(), (QList<QByteArray>{"+++", "ATS102=7\r", "ATA\r"}));
    };

    s = make(QStringLiteral("unplugged mid-run"), Configure);
    s->ground.unplugAfterCommands = 3;
    s->exitCode = 3;
    s->check = [](const Scenario &s, const QString &progress) {
        QCOMPARE(radioResult(s).value(QStringLiteral("outcome")).toString(),
                 QStringLiteral("port-lost"));
        QVERIFY(radioResult(s)
                    .value(QStringLiteral("reason"))
                    .toString()
                    .contains(s.groundRadio->portPath()));
        // No command is claimed for the port that was gone.
        QVERIFY2(!progress.contains(QStringLiteral("> ATS103")), qPrintable(progress));
    };

    auto usageError = [](const QString &word) {
        return [word](const Scenario &s, const QString &) {
            QVERIFY(s.groundRadio->rawReceived().isEmpty());
            QCOMPARE(s.result.value(QStringLiteral("ok")).toBool(), false);
            QVERIFY2(s.result.value(QStringLiteral("error")).toString().contains(word),
                     qPrintable(s.result.value(QStringLiteral("error")).toString()));
        };
    };
    s = make(QStringLiteral("pair with one port twice"),
             {"pair", "{g}", "{g}", "--model", "MR300", "--mode", "p2p"});
    s->exitCode = 2;
    s->check = usageError(QStringLiteral("twice"));
    s = make(QStringLiteral("index 0"), {"configure", "{g}", "--model", "MR300", "--mode", "star",
                                         "--role", "airborne", "--id", "1", "--index", "0"});
    s->exitCode = 2;
    s->check = usageError(QStringLiteral("--index"));
    s = make(QStringLiteral("read with a second port"), {"read", "{g}", "/dev/kcradio-other"});
    s->exitCode = 2;
    s->check = usageError(QStringLiteral("one port"));

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
    s->exitCode = 1;
    s->check = [](const Scenario &s, const QString &) {
        QCOMPARE(s.result.value("ground").toObject().value("outcome").toString(),
                 QStringLiteral("refused"));
        QCOMPARE(s.result.value("airborne").toObject().value("outcome").toString(),
                 QStringLiteral("configured"));
        leftInDataMode(*s.groundRadio);
    };
    s = make(QStringLiteral("configure, dead radio"), Configure);
    s->ground.answerLimit = 0;
    s->exitCode = 4;
    s->check = [](const Scenario &s, const QString &) {
        QCOMPARE(radioResult(s).value(QStringLiteral("outcome")).toString(),
                 QStringLiteral("silent"));
    };
    s = make(QStringLiteral("a command never answered"), Configure);
    s->ground.answerLimit = 2; // the escape and the preset
    s->exitCode = 1;
    s->check = [](const Scenario &s, const QString &) {
        QCOMPARE(radioResult(s).value(QStringLiteral("reason")).toString(),
                 QStringLiteral("ATS102=7 not acknowledged"));
        // Given up on after the full command interval (the command itself
        // may have been heard late), then "ATA".
        const QList<VirtualRadio::Received> heard = s.groundRadio->transcript();
        QCOMPARE(heard.at(heard.size() - 2).bytes, QByteArray("ATS102=7\r"));
        QCOMPARE(heard.last().bytes, QByteArray("ATA\r"));
        QVERIFY(heard.last().msecs - heard.at(heard.size() - 2).msecs >= 2000 - 250);
    };
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

QTEST_GUILESS_MAIN(TstKcRadio)
#include "tst_kcradio.moc"
