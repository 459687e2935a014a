// The parameter reader against the virtual radio, on the virtual clock:
// command-mode entry and its retries, the settings listing, the verdict and
// its single result signal.
#include "kcradiocommandlink.h"
#include "kcradioparamreader.h"
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

constexpr int Tick = KcRadioTiming::DefaultCommandIntervalMs; // entry retry interval
// The verdict comes one second after confirmation: pinned here, not taken
// from the constant the reader itself uses.
constexpr int ReplyWait = 1000;

const QByteArray Escape("+++");
const QByteArray ListCmd("AT&V\r");
const QByteArray DataModeCmd("ATA\r");

struct Outcome
{
    bool isSucc = false;
    QString text;
    QString id;
    int flag = -1;
    bool portObjectAtSignal = false;
    bool portOpenAtSignal = false;
    qint64 atMs = -1;
};

// Records every result of a reader together with the state of its port at
// the moment of the signal.
class ResultProbe
{
public:
    explicit ResultProbe(KcRadioParamReader *reader)
    {
        QObject::connect(
            reader, &KcRadioParamReader::sigRadioIDReady, reader,
            [this, reader](bool isSucc, const QString &text, const QString &id, int flag) {
                Outcome outcome;
                outcome.isSucc = isSucc;
                outcome.text = text;
                outcome.id = id;
                outcome.flag = flag;
                outcome.portObjectAtSignal = reader->link()->hasPort();
                outcome.portOpenAtSignal = reader->link()->isPortOpen();
                outcome.atMs = clock.now() - mStart;
                results.append(outcome);
            });
    }
    void restartClock() { mStart = clock.now(); }
    // Runs the virtual clock until count results have come.
    bool waitForResults(int count)
    {
        return clock.runUntil([this, count] { return results.size() == count; });
    }

    VirtualClock &clock = VirtualClock::install();
    QList<Outcome> results;

private:
    qint64 mStart = clock.now();
};

// Writes the pieces to the tool one after the other, gapMs apart on the
// virtual clock, as soon as the radio has received "AT&V".
void answerListingWith(VirtualRadio *radio, const QList<QByteArray> &pieces, int gapMs)
{
    QObject::connect(radio, &VirtualRadio::commandReceived, radio,
                     [radio, pieces, gapMs](const QByteArray &bytes, int) {
                         if (bytes != ListCmd)
                             return;
                         for (int i = 0; i < pieces.size(); ++i) {
                             const QByteArray piece = pieces.at(i);
                             KcRadioTimer::singleShot(i * gapMs, radio, [radio, piece] {
                                 radio->sendUnsolicited(piece);
                             });
                         }
                     });
}

} // namespace

class TstParamReader : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void openFailure_data();
    void openFailure();
    void failedOpenThenReadOnAnotherPort();
    void silentRadio();
    void entryFindsTheRadioRate_data();
    void entryFindsTheRadioRate();
    void secondReadStartsAtTheLastRate();
    void radioOwnListing();
    void listings_data();
    void listings();
    void listingSplitByTheRadio_data();
    void listingSplitByTheRadio();
    void listingNotCompletedInTime_data();
    void listingNotCompletedInTime();
    void laterStartCancelsAPendingVerdict();
    void portReleasedAfterRead();
    void destroyedWhileEntering();
};

void TstParamReader::cleanup()
{
    verifyNoPortObjectLeft();
}

void TstParamReader::openFailure_data()
{
    addOpenFailureRows();
}

void TstParamReader::openFailure()
{
    QFETCH(QString, portName);
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(portName);

    // Reported before the call returned.
    QCOMPARE(probe.results.size(), 1);
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, false);
    QCOMPARE(outcome.text, QStringLiteral("MsgSerialPortOpenFailed"));
    QCOMPARE(outcome.id, QString());
    QCOMPARE(outcome.flag, 1);
    // The unopened port object stays; nothing was written, no entry runs.
    QVERIFY(reader.link()->hasPort());
    QVERIFY(!reader.link()->isPortOpen());
    QCOMPARE(reader.link()->lastCmd(), QString());
    QVERIFY(!reader.link()->isEntering());

    QVERIFY(probe.clock.advanceBy(3 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstParamReader::failedOpenThenReadOnAnotherPort()
{
    VirtualRadio radio(radioOptions());
    QVERIFY(radio.start());
    radio.setRegister(104, QStringLiteral("305"));
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(QStringLiteral("/nonexistent/kc-tty-none"));
    QCOMPARE(probe.results.size(), 1);
    QVERIFY(radio.transcript().isEmpty());

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(2));
    QCOMPARE(probe.results.at(1).isSucc, true);
    QCOMPARE(probe.results.at(1).id, QStringLiteral("305"));
    QCOMPARE(radio.commands(), (QList<QByteArray>{Escape, ListCmd, DataModeCmd}));
}

void TstParamReader::silentRadio()
{
    VirtualRadio radio(radioOptions(115200, 0));
    QVERIFY(radio.start());
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    probe.restartClock();
    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.results.isEmpty());
    QCOMPARE(reader.link()->lastCmd(), QStringLiteral("+++"));

    QVERIFY(probe.waitForResults(1));
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, false);
    QCOMPARE(outcome.text, QStringLiteral("MsgEnterCmdModeFailed"));
    QCOMPARE(outcome.id, QString());
    QCOMPARE(outcome.flag, 1);
    // Closed before the signal.
    QVERIFY(!outcome.portObjectAtSignal);
    // Given up at the seventh tick: one escape at the start, six retries.
    QCOMPARE(outcome.atMs, qint64(7 * Tick));

    const QList<int> speeds = escapeSpeeds(radio);
    QCOMPARE(speeds, (QList<int>{115200, 115200, 230400, 9600, 115200, 230400, 9600}));
    QCOMPARE(radio.commands().size(), 7);
    const QList<VirtualRadio::Received> transcript = radio.transcript();
    for (int i = 1; i < transcript.size(); ++i)
        QCOMPARE(transcript.at(i).msecs - transcript.at(i - 1).msecs, qint64(Tick));
    QCOMPARE(reader.link()->entryAttempts(), 0);
    QVERIFY(reader.link()->recvBuffer().isEmpty());
    QCOMPARE(reader.link()->baudRate(), 9600);

    QVERIFY(probe.clock.advanceBy(3 * Tick));
    QCOMPARE(probe.results.size(), 1);
    QCOMPARE(radio.commands().size(), 7);
}

void TstParamReader::entryFindsTheRadioRate_data()
{
    QTest::addColumn<int>("radioRate");
    QTest::addColumn<QList<int>>("speeds");
    QTest::newRow("115200: the first escape") << 115200 << QList<int>{115200};
    QTest::newRow("230400: the second retry") << 230400 << QList<int>{115200, 115200, 230400};
    QTest::newRow("9600: the third retry") << 9600 << QList<int>{115200, 115200, 230400, 9600};
}

void TstParamReader::entryFindsTheRadioRate()
{
    QFETCH(int, radioRate);
    QFETCH(QList<int>, speeds);
    VirtualRadio::Options options = radioOptions(radioRate);
    options.ataChangesRate = false;
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    radio.setRegister(104, QStringLiteral("77"));
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(1));
    QCOMPARE(probe.results.first().isSucc, true);
    QCOMPARE(probe.results.first().id, QStringLiteral("77"));
    QCOMPARE(escapeSpeeds(radio), speeds);
    QCOMPARE(reader.link()->baudRate(), radioRate);
}

void TstParamReader::secondReadStartsAtTheLastRate()
{
    VirtualRadio radio(radioOptions(230400));
    QVERIFY(radio.start());
    // S102=0 keeps the radio at 230400 when "ATA" applies its code.
    radio.setRegister(102, QStringLiteral("0"));
    radio.setRegister(104, QStringLiteral("4242"));
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(1));
    QCOMPARE(probe.results.at(0).isSucc, true);
    QCOMPARE(probe.results.at(0).flag, 0);
    QCOMPARE(escapeSpeeds(radio), (QList<int>{115200, 115200, 230400}));

    // The next read makes its first attempt at the rate the last one ended with.
    radio.clearTranscript();
    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(2));
    QCOMPARE(probe.results.at(1).isSucc, true);
    QCOMPARE(probe.results.at(1).id, QStringLiteral("4242"));
    QCOMPARE(radio.commands(), (QList<QByteArray>{Escape, ListCmd, DataModeCmd}));
    QCOMPARE(radio.transcript().first().lineSpeed, 230400);
    QVERIFY(radio.transcript().first().understood);

    // A third read to a radio that no longer hears: first at 230400, then the
    // retries from the top of the list.
    radio.clearTranscript();
    radio.setBaudRate(57600);
    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(3));
    QCOMPARE(probe.results.at(2).text, QStringLiteral("MsgEnterCmdModeFailed"));
    QCOMPARE(escapeSpeeds(radio), (QList<int>{230400, 115200, 230400, 9600, 115200, 230400, 9600}));
    QVERIFY(probe.clock.advanceBy(2 * Tick));
    QCOMPARE(probe.results.size(), 3);
}

void TstParamReader::radioOwnListing()
{
    VirtualRadio radio(radioOptions());
    QVERIFY(radio.start());
    radio.setRegister(102, QStringLiteral("7"));
    radio.setRegister(104, QStringLiteral("00567"));
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    probe.restartClock();
    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(1));
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, true);
    QCOMPARE(outcome.text, QStringLiteral("MsgRadioIDReadSuccessfully"));
    QCOMPARE(outcome.id, QStringLiteral("00567"));
    QCOMPARE(outcome.flag, 7);
    // The verdict comes a full wait after confirmation (the escape at the
    // start was answered at once), on the open port, which is closed right
    // after the signal.
    QCOMPARE(outcome.atMs, qint64(ReplyWait));
    QVERIFY(outcome.portObjectAtSignal);
    QVERIFY(outcome.portOpenAtSignal);
    // Released once "ATA" has left.
    QVERIFY(probe.clock.runUntil([&] { return !reader.link()->hasPort(); }));
    QCOMPARE(radio.commands(), (QList<QByteArray>{Escape, ListCmd, DataModeCmd}));
    QVERIFY(!radio.inCommandMode());

    QVERIFY(probe.clock.advanceBy(2 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstParamReader::listings_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("isSucc");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("flag");

    const QString ok = QStringLiteral("MsgRadioIDReadSuccessfully");
    QTest::newRow("entries separated by blanks")
        << QList<QByteArray>{"\r\nS101=0 S102=1 S103=0 S104=305 S105=1\r\nOK\r\n"} << true
        << QStringLiteral("305") << 1;
    QTest::newRow("CR LF before a blank")
        << QList<QByteArray>{"\r\nS102=0\r\n S104=12345\r\n S105=1\r\nOK\r\n"} << true
        << QStringLiteral("12345") << 0;
    QTest::newRow("S104=00567 then CR LF and OK, no blank")
        << QList<QByteArray>{"S104=00567\r\nOK\r\n"} << true << QStringLiteral("00567") << 115200;
    QTest::newRow("no S102") << QList<QByteArray>{"\r\nS101=0 S104=9 S105=1\r\nOK\r\n"} << true
                             << QStringLiteral("9") << 115200;
    QTest::newRow("S102=7, CR LF, then a blank")
        << QList<QByteArray>{"\r\nS102=7\r\n S104=31\r\n OK\r\n"} << true << QStringLiteral("31")
        << 7;
    QTest::newRow("S102 not a number")
        << QList<QByteArray>{"S102=x S104=8 OK"} << true << QStringLiteral("8") << 0;
    QTest::newRow("OK but no S104")
        << QList<QByteArray>{"\r\nS101=0 S102=1\r\nOK\r\n"} << false << QString() << 1;
    QTest::newRow("S104 with nothing after the equals sign")
        << QList<QByteArray>{"\r\nS102=1 S104= S105=1\r\nOK\r\n"} << false << QString() << 1;
    QTest::newRow("split inside entries and inside OK")
        << QList<QByteArray>{"\r\nS101=0 S1", "02=1 S10", "4=305 S105=1\r\nO", "K\r\n"} << true
        << QStringLiteral("305") << 1;
    QTest::newRow("OK alone in the last piece")
        << QList<QByteArray>{"S104=", "61 ", "S102=0 ", "OK"} << true << QStringLiteral("61") << 0;
    // The listing counts as complete at the first piece that leaves "OK" in
    // the buffer; an ID that comes later is not read.
    QTest::newRow("OK before the ID entry")
        << QList<QByteArray>{"S102=1 OK\r\n", "S104=305 \r\n"} << false << QString() << 1;
    QTest::newRow("zero byte before the ID")
        << QList<QByteArray>{QByteArray("S102=1 \0S104=5 OK", 17)} << false << QString() << 1;
    // Paced, after an escape answer in 4-byte pieces with a second "OK".
    QTest::newRow("paced: second OK after the escape's answer")
        << QList<QByteArray>{"\r\nS102=1 S104=305\r\nOK\r\n"} << true << QStringLiteral("305") << 1;
    QTest::newRow("paced: OK but no S104")
        << QList<QByteArray>{"\r\nS101=0 S102=1\r\nOK\r\n"} << false << QString() << 1;
}

void TstParamReader::listings()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, isSucc);
    QFETCH(QString, id);
    QFETCH(int, flag);

    // The radio answers the escape only; the listing is written piece by piece.
    const bool paced = QByteArray(QTest::currentDataTag()).startsWith("paced");
    VirtualRadio::Options options = radioOptions(115200, 1);
    options.chunkSize = paced ? 4 : 0;
    options.afterEscapeAnswer = paced ? "\r\nOK\r\n" : "";
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    answerListingWith(&radio, pieces, 15);
    KcRadioParamReader reader(nullptr);
    reader.setCadence(paced ? KcCadence::Acknowledged : KcCadence::Fixed);
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(1));
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, isSucc);
    QCOMPARE(outcome.text, isSucc ? QStringLiteral("MsgRadioIDReadSuccessfully")
                                  : QStringLiteral("MsgRadioIDReadFailed"));
    QCOMPARE(outcome.id, id);
    QCOMPARE(outcome.flag, flag);
    // A completed listing is always followed by "ATA", whatever it held.
    QCOMPARE(radio.commands(), (QList<QByteArray>{Escape, ListCmd, DataModeCmd}));
    // Released once "ATA" has left.
    QVERIFY(probe.clock.runUntil([&] { return !reader.link()->hasPort(); }));

    QVERIFY(probe.clock.advanceBy(2 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstParamReader::listingSplitByTheRadio_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("chunkSize"); // 0: every reply whole
    QTest::addColumn<QByteArray>("lineEnd");
    // The radio's listing has blanks between entries and a line end after
    // every fourth. In pieces of 1 or 4 bytes the escape answer's closing
    // "OK" arrives after command mode was confirmed, even after "AT&V" was
    // written: it must not be taken for the end of the listing.
    for (const int rate : {9600, 115200})
        for (const int chunkSize : {1, 4, 0})
            for (const QByteArray &lineEnd : {QByteArray("\r\n"), QByteArray("\n")})
                QTest::addRow("%d baud, pieces of %d, %s", rate, chunkSize,
                              lineEnd.size() == 2 ? "CR LF" : "LF")
                    << rate << chunkSize << lineEnd;
    // Paced, a second "OK" to the escape comes after "AT&V": no listing ends before its entries.
    QTest::newRow("paced: two OKs to the escape, pieces of 4 50 ms apart")
        << 115200 << 4 << QByteArray("\r\n");
    // The same at the window's fixed cadence, where "AT&V" follows the
    // "NO CARRIER" at once.
    QTest::newRow("fixed: two OKs to the escape, pieces of 4 50 ms apart")
        << 115200 << 4 << QByteArray("\r\n");
}

void TstParamReader::listingSplitByTheRadio()
{
    QFETCH(int, rate);
    QFETCH(int, chunkSize);
    QFETCH(QByteArray, lineEnd);
    VirtualRadio::Options options = radioOptions(rate);
    options.chunkSize = chunkSize;
    options.lineEnd = lineEnd;
    const bool paced = QByteArray(QTest::currentDataTag()).startsWith("paced");
    const bool twoOks = QByteArray(QTest::currentDataTag()).contains("two OKs");
    options.chunkGapMs = twoOks ? 50 : 0;
    options.afterEscapeAnswer = twoOks ? "\r\nOK\r\n" : "";
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    radio.setRegister(104, QStringLiteral("1234567"));
    radio.setRegister(102, QStringLiteral("7"));
    KcRadioParamReader reader(nullptr);
    reader.setCadence(paced ? KcCadence::Acknowledged : KcCadence::Fixed);
    reader.setListingWaitMs(twoOks ? Tick : -1); // a listing at 80 bytes a second
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(1));
    QCOMPARE(probe.results.first().isSucc, true);
    QCOMPARE(probe.results.first().id, QStringLiteral("1234567"));
    QCOMPARE(probe.results.first().flag, 7);
    QCOMPARE(radio.commands().mid(radio.commands().size() - 3),
             (QList<QByteArray>{Escape, ListCmd, DataModeCmd}));
}

void TstParamReader::listingNotCompletedInTime_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("gapMs");
    QTest::newRow("no answer to AT&V") << QList<QByteArray>{} << 0;
    QTest::newRow("listing without OK") << QList<QByteArray>{"\r\nS102=1 S104=305 \r\n"} << 0;
    QTest::newRow("OK after the wait")
        << QList<QByteArray>{"\r\nS102=1 S104=305 \r\n", "OK\r\n"} << 2 * ReplyWait;
}

void TstParamReader::listingNotCompletedInTime()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, gapMs);
    VirtualRadio radio(radioOptions(115200, 1));
    QVERIFY(radio.start());
    answerListingWith(&radio, pieces, gapMs);
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.waitForResults(1));
    const Outcome outcome = probe.results.first();
    QCOMPARE(outcome.isSucc, false);
    QCOMPARE(outcome.text, QStringLiteral("MsgRadioIDReadFailed"));
    QCOMPARE(outcome.id, QString());
    QCOMPARE(outcome.flag, 1);
    QVERIFY(outcome.portOpenAtSignal);

    // Whatever the listing came to, "ATA" goes out before the port is
    // released, and the radio hears it at its own rate.
    QVERIFY(probe.clock.runUntil([&] { return !reader.link()->hasPort(); }));
    QCOMPARE(radio.commands(), (QList<QByteArray>{Escape, ListCmd, DataModeCmd}));
    QVERIFY(radio.transcript().last().understood);
    QVERIFY(probe.clock.advanceBy(gapMs + 2 * Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstParamReader::laterStartCancelsAPendingVerdict()
{
    // A radio that confirms but never lists: the first read waits for its
    // verdict when the second one starts.
    VirtualRadio radio(radioOptions(115200, 1));
    QVERIFY(radio.start());
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    QVERIFY(probe.clock.runUntil([&] { return radio.commands().size() == 2; }));
    QCOMPARE(radio.commands().last(), ListCmd);
    QVERIFY(probe.clock.advanceBy(ReplyWait / 4));
    QVERIFY(probe.results.isEmpty());

    probe.restartClock();
    reader.readRadioParam(radio.portPath());
    // The radio stays mute in command mode, so the second read retries and
    // gives up; the first read's verdict never fires into it.
    QVERIFY(probe.clock.advanceBy(ReplyWait + Tick));
    QVERIFY(probe.results.isEmpty());
    QVERIFY(probe.waitForResults(1));
    QCOMPARE(probe.results.first().text, QStringLiteral("MsgEnterCmdModeFailed"));
    QCOMPARE(probe.results.first().atMs, qint64(7 * Tick));
    QVERIFY(probe.clock.advanceBy(ReplyWait + Tick));
    QCOMPARE(probe.results.size(), 1);
}

void TstParamReader::portReleasedAfterRead()
{
    VirtualRadio radio(radioOptions());
    QVERIFY(radio.start());
    KcRadioParamReader reader(nullptr);
    ResultProbe probe(&reader);

    reader.readRadioParam(radio.portPath());
    const QPointer<QSerialPort> port = reader.link()->serialPort();
    QVERIFY(!port.isNull());
    QVERIFY(probe.waitForResults(1));
    // The default radio lists S104=0 and S102=1.
    QCOMPARE(probe.results.first().isSucc, true);
    QCOMPARE(probe.results.first().id, QStringLiteral("0"));
    QCOMPARE(probe.results.first().flag, 1);
    QVERIFY(probe.clock.runUntil([&] { return port.isNull(); }));
}

void TstParamReader::destroyedWhileEntering()
{
    VirtualRadio radio(radioOptions(115200, 0));
    QVERIFY(radio.start());
    auto *reader = new KcRadioParamReader(nullptr);
    int results = 0;
    connect(reader, &KcRadioParamReader::sigRadioIDReady, this, [&results] { ++results; });
    VirtualClock &clock = VirtualClock::install();

    reader->readRadioParam(radio.portPath());
    QVERIFY(clock.advanceBy(Tick + Tick / 2));
    const QPointer<QSerialPort> port = reader->link()->serialPort();
    QVERIFY(!port.isNull());
    QVERIFY(port->isOpen());
    delete reader;
    // The port object goes with the reader at once, and nothing fires later.
    QVERIFY(port.isNull());
    const int escapes = radio.commands().size();
    QVERIFY(clock.advanceBy(3 * Tick));
    QCOMPARE(radio.commands().size(), escapes);
    QCOMPARE(results, 0);
}

QTEST_GUILESS_MAIN(TstParamReader)
#include "tst_paramreader.moc"
