// kcradio end to end: the built executable against virtual radios at the
// real cadence. The scenarios run side by side (each with radios of its
// own), started in initTestCase; each row then checks its own scenario.
#include "virtualradio.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>
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
    int interruptAtCommand = -1; // SIGINT once the ground radio heard this many

    std::unique_ptr<VirtualRadio> groundRadio;
    std::unique_ptr<VirtualRadio> airborneRadio;
    std::unique_ptr<QProcess> process;
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

    auto make = [this](const QString &name, const QStringList &arguments) {
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
                                         "--role", "ground", "--id", "42"})
        ->interruptAtCommand = 3;

    for (const std::unique_ptr<Scenario> &s : mScenarios) {
        s->groundRadio = std::make_unique<VirtualRadio>(s->ground);
        QVERIFY(s->groundRadio->start());
        if (s->secondRadio) {
            s->airborneRadio = std::make_unique<VirtualRadio>(s->airborne);
            QVERIFY(s->airborneRadio->start());
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

    if (exitCode == 2) {
        // Said in one line, and nothing sent.
        QCOMPARE(stderrText.trimmed().count(QLatin1Char('\n')), 0);
        QVERIFY(stderrText.contains(QStringLiteral("MR999")));
        QVERIFY(radio.rawReceived().isEmpty());
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
}

QTEST_GUILESS_MAIN(TstKcRadio)
#include "tst_kcradio.moc"
