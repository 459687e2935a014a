// The radio eraser against the virtual radio, on the virtual clock:
// command-mode entry, the three steps and their timing, and the verdict from
// the "OK" count or an "ATA".
#include "kcradiocommandlink.h"
#include "kcradioeraser.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "linkjobtesting.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QPointer>
#include <QSerialPort>
#include <QtTest>

using namespace LinkJobTesting;

namespace {

constexpr int Tick = KcRadioTiming::DefaultCommandIntervalMs; // entry retry and step interval

const QByteArray Escape("+++");
const QByteArray ResetCmd("ATS102=7\r");
const QByteArray StoreCmd("AT&W\r");
const QByteArray DataModeCmd("ATA\r");
const QList<QByteArray> FullRun{Escape, ResetCmd, StoreCmd, DataModeCmd};

struct Outcome
{
    bool isSucc = false;
    bool portObjectAtSignal = false;
    bool portOpenAtSignal = false;
    qint64 atMs = -1;
};

// Records every result of an eraser with the state of its port at the
// moment of the signal, and the arrival time of every command at the radio,
// both on the virtual clock.
class Probe
{
public:
    Probe(KcRadioEraser *eraser, VirtualRadio *radio)
    {
        QObject::connect(eraser, &KcRadioEraser::sigEarseRadioResult, eraser,
                         [this, eraser](bool isSucc) {
                             Outcome outcome;
                             outcome.isSucc = isSucc;
                             outcome.portObjectAtSignal = eraser->link()->hasPort();
                             outcome.portOpenAtSignal = eraser->link()->isPortOpen();
                             outcome.atMs = now();
                             results.append(outcome);
                         });
        if (radio) {
            QObject::connect(
                radio, &VirtualRadio::commandReceived, radio,
                [this](const QByteArray &bytes, int) { arrivals.append(qMakePair(bytes, now())); });
        }
    }
    qint64 now() const { return clock.now() - mStart; }
    void restartClock() { mStart = clock.now(); }
    qint64 arrivalOf(const QByteArray &command) const
    {
        for (const auto &arrival : arrivals) {
            if (arrival.first == command)
                return arrival.second;
        }
        return -1;
    }

    VirtualClock &clock = VirtualClock::install();
    QList<Outcome> results;
    QList<QPair<QByteArray, qint64>> arrivals;

private:
    qint64 mStart = clock.now();
};

} // namespace

Q_DECLARE_METATYPE(VirtualRadio::EscapeAnswer)
Q_DECLARE_METATYPE(VirtualRadio::DataModeAnswer)

class TstEraser : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void openFailure_data();
    void openFailure();
    void silentRadio();
    void noCarrierOnly();
    void verdict_data();
    void verdict();
    void nothingBeforeConfirmationCounts();
    void bytesBeforeTheFirstStepDelayIt();
    void secondEraseStartsAtTheLastRate();
    void destroyedWhileStepping();
};

void TstEraser::cleanup()
{
    verifyNoPortObjectLeft();
}

void TstEraser::openFailure_data()
{
    addOpenFailureRows();
}

void TstEraser::openFailure()
{
    QFETCH(QString, portName);
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, nullptr);

    eraser.earseRadio(portName);

    QCOMPARE(probe.results.size(), 1);
    QCOMPARE(probe.results.first().isSucc, false);
    QVERIFY(eraser.link()->hasPort());
    QVERIFY(!eraser.link()->isPortOpen());
    QCOMPARE(eraser.link()->lastCmd(), QString());
    QCOMPARE(eraser.link()->sendStep(), 0);
    QVERIFY(!eraser.link()->isEntering());

    QVERIFY(probe.clock.advanceBy(3 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstEraser::silentRadio()
{
    VirtualRadio radio(radioOptions(115200, 0));
    QVERIFY(radio.start());
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, &radio);

    probe.restartClock();
    eraser.earseRadio(radio.portPath());
    QCOMPARE(eraser.link()->lastCmd(), QStringLiteral("+++"));
    QCOMPARE(eraser.link()->sendStep(), 1);

    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 1; }));
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, false);
    QVERIFY(!outcome.portObjectAtSignal);
    // One escape at the start, one per tick, the give-up at the seventh.
    QCOMPARE(outcome.atMs, qint64(7 * Tick));
    QCOMPARE(escapeSpeeds(radio), (QList<int>{115200, 115200, 230400, 9600, 115200, 230400, 9600}));
    QCOMPARE(radio.commands().size(), 7);
    QVERIFY(eraser.link()->recvBuffer().isEmpty());
    QCOMPARE(eraser.link()->entryAttempts(), 0);

    QVERIFY(probe.clock.advanceBy(3 * Tick));
    QCOMPARE(probe.results.size(), 1);
    QCOMPARE(radio.commands().size(), 7);
}

void TstEraser::noCarrierOnly()
{
    // The radio answers the escape ("\r\nNO CARRIER\r\nOK\r\n") and nothing else.
    VirtualRadio radio(radioOptions(115200, 1));
    QVERIFY(radio.start());
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, &radio);

    eraser.earseRadio(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 1; }));
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, false);
    // The result comes on the open port, which is closed right after.
    QVERIFY(outcome.portOpenAtSignal);
    // Released once "ATA" has left.
    QVERIFY(probe.clock.runUntil([&] { return !eraser.link()->hasPort(); }));
    QCOMPARE(eraser.link()->sendStep(), 0);
    QCOMPARE(eraser.link()->lastCmd(), QString());
    QVERIFY(eraser.link()->recvBuffer().isEmpty());

    // The three commands went out one step apart all the same, the result a
    // step after the last.
    QCOMPARE(radio.commands(), FullRun);
    const qint64 escape = probe.arrivalOf(Escape);
    QCOMPARE(probe.arrivalOf(ResetCmd) - escape, qint64(Tick));
    QCOMPARE(probe.arrivalOf(StoreCmd) - escape, qint64(2 * Tick));
    QCOMPARE(probe.arrivalOf(DataModeCmd) - escape, qint64(3 * Tick));
    QCOMPARE(outcome.atMs - escape, qint64(4 * Tick));

    QVERIFY(probe.clock.advanceBy(3 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstEraser::verdict_data()
{
    QTest::addColumn<VirtualRadio::EscapeAnswer>("escapeAnswer");
    QTest::addColumn<int>("answerLimit");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QByteArray>("refuse");
    QTest::addColumn<VirtualRadio::DataModeAnswer>("ataAnswer");
    QTest::addColumn<bool>("isSucc");

    using A = VirtualRadio::EscapeAnswer;
    using D = VirtualRadio::DataModeAnswer;
    // ATS102=7 and AT&W must each be answered OK; ATA must not be refused,
    // and may be answered with CONNECT, OK or nothing.
    QTest::newRow("answers CONNECT to ATA")
        << A::NoCarrier << -1 << false << QByteArray() << D::Connect << true;
    QTest::newRow("greeting, ATA unanswered")
        << A::Greeting << -1 << false << QByteArray() << D::Silence << true;
    QTest::newRow("echoing radio")
        << A::NoCarrier << -1 << true << QByteArray() << D::OkOnly << true;
    QTest::newRow("falls silent after ATS102=7")
        << A::NoCarrier << 2 << false << QByteArray() << D::Connect << false;
    QTest::newRow("echoing radio refuses ATS102=7")
        << A::NoCarrier << -1 << true << QByteArray("ATS102=7") << D::Connect << false;
    QTest::newRow("refuses AT&W") << A::NoCarrier << -1 << false << QByteArray("AT&W") << D::Connect
                                  << false;
    QTest::newRow("refuses ATA") << A::NoCarrier << -1 << false << QByteArray("ATA") << D::Connect
                                 << false;
}

void TstEraser::verdict()
{
    QFETCH(VirtualRadio::EscapeAnswer, escapeAnswer);
    QFETCH(int, answerLimit);
    QFETCH(bool, echo);
    QFETCH(QByteArray, refuse);
    QFETCH(VirtualRadio::DataModeAnswer, ataAnswer);
    QFETCH(bool, isSucc);

    VirtualRadio::Options options = radioOptions(115200, answerLimit);
    options.escapeAnswer = escapeAnswer;
    options.echo = echo;
    options.refuseCommand = refuse;
    options.ataAnswer = ataAnswer;
    options.ataChangesRate = false;
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, &radio);

    eraser.earseRadio(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 1; }));
    QCOMPARE(probe.results.first().isSucc, isSucc);
    QCOMPARE(radio.commands(), FullRun);
    // Released once "ATA" has left.
    QVERIFY(probe.clock.runUntil([&] { return !eraser.link()->hasPort(); }));

    QVERIFY(probe.clock.advanceBy(2 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstEraser::nothingBeforeConfirmationCounts()
{
    // The radio hears only 230400 and falls silent after ATS102=7: an OK it
    // sends while the first escapes go unheard must not stand in for the
    // missing answer to AT&W.
    VirtualRadio::Options options = radioOptions(230400, 2);
    options.ataChangesRate = false;
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, &radio);

    eraser.earseRadio(radio.portPath());
    radio.sendUnsolicited("\r\nOK\r\n");
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 1; }));
    QCOMPARE(probe.results.first().isSucc, false);
    QCOMPARE(escapeSpeeds(radio), (QList<int>{115200, 115200, 230400}));
    QCOMPARE(radio.commands().mid(2), FullRun);
}

void TstEraser::bytesBeforeTheFirstStepDelayIt()
{
    VirtualRadio radio(radioOptions(115200, 1));
    QVERIFY(radio.start());
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, &radio);

    // After the escape: four chunks of data, half a step apart, each of
    // which arrives while "+++" is still the last command.
    constexpr int Chunks = 4;
    QList<qint64> sentAt;
    connect(&radio, &VirtualRadio::commandReceived, &radio,
            [&radio, &sentAt, &probe](const QByteArray &bytes) {
                if (bytes != Escape)
                    return;
                for (int i = 1; i <= Chunks; ++i) {
                    KcRadioTimer::singleShot(i * Tick / 2, &radio, [&radio, &sentAt, &probe] {
                        sentAt.append(probe.now());
                        radio.sendUnsolicited("data");
                    });
                }
            });

    eraser.earseRadio(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 1; }));
    QCOMPARE(sentAt.size(), Chunks);
    QCOMPARE(radio.commands(), FullRun);
    const qint64 escape = probe.arrivalOf(Escape);
    // Without the restarts the first step would have come one step after the
    // escape, before the last chunk was even sent.
    QCOMPARE(sentAt.last() - escape, qint64(Chunks * Tick / 2));
    QCOMPARE(probe.arrivalOf(ResetCmd) - sentAt.last(), qint64(Tick));
    QCOMPARE(probe.results.first().isSucc, false);
}

void TstEraser::secondEraseStartsAtTheLastRate()
{
    // The radio hears 9600 only; "ATS102=7" and "ATA" keep it there.
    VirtualRadio radio(radioOptions(9600));
    QVERIFY(radio.start());
    KcRadioEraser eraser(nullptr);
    Probe probe(&eraser, &radio);

    eraser.earseRadio(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 1; }));
    QCOMPARE(escapeSpeeds(radio), (QList<int>{115200, 115200, 230400, 9600}));
    QCOMPARE(radio.registers().value(102), QStringLiteral("7"));
    QCOMPARE(radio.storedRegisters().value(102), QStringLiteral("7"));
    QCOMPARE(eraser.link()->baudRate(), 9600);

    radio.clearTranscript();
    eraser.earseRadio(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 2; }));
    QCOMPARE(radio.commands(), FullRun);
    QCOMPARE(radio.transcript().first().lineSpeed, 9600);
    QVERIFY(radio.transcript().first().understood);

    // A radio gone deaf: first at 9600 again, then from the top of the list.
    radio.clearTranscript();
    radio.setBaudRate(57600);
    eraser.earseRadio(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return probe.results.size() == 3; }));
    QCOMPARE(probe.results.at(2).isSucc, false);
    QCOMPARE(escapeSpeeds(radio), (QList<int>{9600, 115200, 230400, 9600, 115200, 230400, 9600}));
    QVERIFY(probe.clock.advanceBy(2 * Tick));
    QCOMPARE(probe.results.size(), 3);
}

void TstEraser::destroyedWhileStepping()
{
    VirtualRadio radio(radioOptions());
    QVERIFY(radio.start());
    auto *eraser = new KcRadioEraser(nullptr);
    int results = 0;
    connect(eraser, &KcRadioEraser::sigEarseRadioResult, this, [&results] { ++results; });
    VirtualClock &clock = VirtualClock::install();

    eraser->earseRadio(radio.portPath());
    QVERIFY(clock.runUntil([&] { return radio.commands().size() == 2; }));
    const QPointer<QSerialPort> port = eraser->link()->serialPort();
    QVERIFY(!port.isNull());
    delete eraser;
    QVERIFY(port.isNull());
    QVERIFY(clock.advanceBy(3 * Tick));
    QCOMPARE(radio.commands(), (QList<QByteArray>{Escape, ResetCmd}));
    QCOMPARE(results, 0);
}

QTEST_GUILESS_MAIN(TstEraser)
#include "tst_eraser.moc"
