// The serial command exchange against a virtual radio on a pseudo-terminal:
// baud-rate probing and command-mode entry for each of the three owners, the
// give-up, reply gathering and counting, the port object's life, a radio that
// vanishes, and the debug lines. The link runs at its real interval on the
// virtual clock, so times are exact.

#include "kcconfigjob.h"
#include "kcradiocommandlink.h"
#include "kcradiotiming.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

constexpr int TickMs = KcRadioTiming::DefaultCommandIntervalMs;
// A rate that none of the link's rates matches: the radio hears nothing.
constexpr int DeafRate = 57600;

QStringList gDebugLines;
QtMessageHandler gPreviousHandler = nullptr;

// Keeps the link's debug lines for the checks below instead of printing
// thousands of them; everything else goes to Qt Test's handler.
void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        gDebugLines.append(message);
        return;
    }
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
}

KcLinkProfile profileNamed(const QString &owner)
{
    if (owner == QLatin1String("reader"))
        return KcLinkProfile::reader();
    if (owner == QLatin1String("eraser"))
        return KcLinkProfile::eraser();
    return KcLinkProfile::panel();
}

void addOwnerColumnAndRows()
{
    QTest::addColumn<QString>("owner");
    QTest::newRow("panel") << QStringLiteral("panel");
    QTest::newRow("reader") << QStringLiteral("reader");
    QTest::newRow("eraser") << QStringLiteral("eraser");
}

// The rates at which the escapes of one unanswered entry go out.
QList<int> escapeRatesOfFullEntry(const KcLinkProfile &profile)
{
    QList<int> rates{115200, 230400, 9600, 115200, 230400, 9600};
    if (profile.escapeAtStart)
        rates.prepend(115200);
    return rates;
}

int linesStartingWith(const QString &prefix)
{
    int n = 0;
    for (const QString &line : qAsConst(gDebugLines))
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

QStringList linesWithPrefix(const QString &prefix)
{
    QStringList lines;
    for (const QString &line : qAsConst(gDebugLines)) {
        if (line.startsWith(prefix))
            lines.append(line);
    }
    return lines;
}

// The blank-separated values written after the text of a debug line.
QStringList valuesAfter(const QString &line, const QString &text)
{
    if (!line.startsWith(text))
        return {};
    return line.mid(text.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// True when the parts appear in the line in this order.
bool appearInOrder(const QString &line, const QStringList &parts)
{
    int from = 0;
    for (const QString &part : parts) {
        const int at = line.indexOf(part, from);
        if (at < 0)
            return false;
        from = at + part.size();
    }
    return true;
}

// Index of the first line at or after from that starts with prefix, or -1.
int findLine(const QString &prefix, int from)
{
    for (int i = qMax(0, from); i < gDebugLines.size(); ++i) {
        if (gDebugLines.at(i).startsWith(prefix))
            return i;
    }
    return -1;
}

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A virtual radio and a link of one owner on its port, with the radio's
// commands time-stamped on the virtual clock.
struct Escape
{
    qint64 atMs = 0; // since the entry started
    QByteArray bytes;
    int lineSpeed = 0;
    bool understood = false;
};

class Rig
{
public:
    Rig(const QString &owner, const VirtualRadio::Options &options)
        : radio(options), link(std::make_unique<KcRadioCommandLink>(profileNamed(owner)))
    {
        QObject::connect(
            &radio, &VirtualRadio::transcriptEntryAdded, &radio,
            [this](const VirtualRadio::Received &entry) {
                commands.append({elapsed(), entry.bytes, entry.lineSpeed, entry.understood});
            });
        QObject::connect(link.get(), &KcRadioCommandLink::gaveUp, link.get(),
                         [this] { gaveUpAtMs = elapsed(); });
        QObject::connect(link.get(), &KcRadioCommandLink::commandModeEntered, link.get(), [this] {
            enteredAtMs = elapsed();
            commandsAtEntry = commands.size();
        });
    }

    bool start()
    {
        if (!radio.start())
            return false;
        link->setPortName(radio.portPath());
        return true;
    }

    // Opens the port and starts command-mode entry; times count from here.
    bool openAndStartEntry()
    {
        if (!link->openSerialport())
            return false;
        startedAt = clock.now();
        commands.clear();
        link->startCommandModeEntry();
        return true;
    }

    qint64 elapsed() const { return clock.now() - startedAt; }

    VirtualClock &clock = VirtualClock::install();
    VirtualRadio radio;
    std::unique_ptr<KcRadioCommandLink> link;
    qint64 startedAt = 0;
    QList<Escape> commands;
    qint64 gaveUpAtMs = -1;
    qint64 enteredAtMs = -1;
    int commandsAtEntry = -1;
};

VirtualRadio::Options radioOptions(int baudRate, VirtualRadio::EscapeAnswer answer)
{
    VirtualRadio::Options options;
    options.baudRate = baudRate;
    options.escapeAnswer = answer;
    return options;
}

} // namespace

Q_DECLARE_METATYPE(VirtualRadio::EscapeAnswer)
Q_DECLARE_METATYPE(VirtualRadio::Options)

class TestCommandLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void profiles_data();
    void profiles();
    void acknowledgementPacing_data();
    void acknowledgementPacing();
    void radioOnlyAt9600_data();
    void radioOnlyAt9600();
    void silentRadioGivesUp_data();
    void silentRadioGivesUp();
    void okToEscapeIsNotEntry_data();
    void okToEscapeIsNotEntry();
    void noCarrierAfterOtherCommandDoesNothing_data();
    void noCarrierAfterOtherCommandDoesNothing();
    void answerSplitAcrossChunks_data();
    void answerSplitAcrossChunks();
    void positiveReplyCounting_data();
    void positiveReplyCounting();
    void openFailureKeepsObject_data();
    void openFailureKeepsObject();
    void reopenSameNameReusesObject_data();
    void reopenSameNameReusesObject();
    void otherNameReplacesObject_data();
    void otherNameReplacesObject();
    void closeReleasesByDeferredDeletion_data();
    void closeReleasesByDeferredDeletion();
    void tickWithoutPortNeitherReopensNorCounts_data();
    void tickWithoutPortNeitherReopensNorCounts();
    void radioVanishesDuringEntry_data();
    void radioVanishesDuringEntry();
    void destructorReleasesPort_data();
    void destructorReleasesPort();
    void debugLinesOfEntry_data();
    void debugLinesOfEntry();
    void debugLinesOfFailures_data();
    void debugLinesOfFailures();
};

void TestCommandLink::initTestCase()
{
    gPreviousHandler = qInstallMessageHandler(captureMessages);
}

void TestCommandLink::init()
{
    gDebugLines.clear();
}

void TestCommandLink::cleanupTestCase()
{
    qInstallMessageHandler(gPreviousHandler);
}

void TestCommandLink::profiles_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<int>("ownerKind");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("escapeAtStart");
    QTest::addColumn<bool>("escapeAfterFailedReopen");
    QTest::addColumn<bool>("countPositiveReplies");
    QTest::addColumn<bool>("logOpenFailure");

    QTest::newRow("panel") << "panel" << int(KcLinkProfile::Owner::Panel) << "KcRadioConfigItemForm"
                           << false << true << true << false;
    QTest::newRow("reader") << "reader" << int(KcLinkProfile::Owner::Reader) << "KcRadioParamReader"
                            << true << false << false << true;
    QTest::newRow("eraser") << "eraser" << int(KcLinkProfile::Owner::Eraser) << "KcRadioEraser"
                            << true << false << false << true;
}

void TestCommandLink::profiles()
{
    QFETCH(QString, owner);
    QFETCH(int, ownerKind);
    QFETCH(QString, className);
    QFETCH(bool, escapeAtStart);
    QFETCH(bool, escapeAfterFailedReopen);
    QFETCH(bool, countPositiveReplies);
    QFETCH(bool, logOpenFailure);

    const KcLinkProfile profile = profileNamed(owner);
    QCOMPARE(int(profile.owner), ownerKind);
    QCOMPARE(QString::fromLatin1(profile.className), className);
    QCOMPARE(profile.escapeAtStart, escapeAtStart);
    QCOMPARE(profile.escapeAfterFailedReopen, escapeAfterFailedReopen);
    QCOMPARE(profile.countPositiveReplies, countPositiveReplies);
    QCOMPARE(profile.logOpenFailure, logOpenFailure);

    // A new link starts closed, at 115200, with the three rates in order.
    KcRadioCommandLink link(profile);
    QCOMPARE(link.baudRate(), 115200);
    QCOMPARE(link.baudRateList(), (QList<int>{115200, 230400, 9600}));
    QVERIFY(!link.hasPort());
    QVERIFY(!link.isEntering());
    QCOMPARE(link.entryAttempts(), 0);
    QCOMPARE(link.sendStep(), 0);
    QCOMPARE(link.okCount(), 0);
    QVERIFY(link.lastCmd().isEmpty());
    QVERIFY(link.recvBuffer().isEmpty());
}

void TestCommandLink::radioOnlyAt9600_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<VirtualRadio::EscapeAnswer>("answer");
    for (const char *owner : {"panel", "reader", "eraser"}) {
        QTest::addRow("%s, NO CARRIER", owner)
            << QString::fromLatin1(owner) << VirtualRadio::EscapeAnswer::NoCarrier;
        QTest::addRow("%s, greeting", owner)
            << QString::fromLatin1(owner) << VirtualRadio::EscapeAnswer::Greeting;
    }
}

void TestCommandLink::radioOnlyAt9600()
{
    QFETCH(QString, owner);
    QFETCH(VirtualRadio::EscapeAnswer, answer);

    Rig rig(owner, radioOptions(9600, answer));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    QSignalSpy gaveUp(rig.link.get(), &KcRadioCommandLink::gaveUp);
    QVERIFY(rig.openAndStartEntry());

    QVERIFY(rig.clock.runUntil([&] { return entered.count() == 1; }));

    // The panel's first escape goes out at the first tick, so the 9600 one is
    // its third; the reader and the eraser send one at once at 115200 first.
    const bool escapeAtStart = rig.link->profile().escapeAtStart;
    const QList<int> expectedRates =
        escapeAtStart ? QList<int>{115200, 115200, 230400, 9600} : QList<int>{115200, 230400, 9600};
    QCOMPARE(rig.commandsAtEntry, expectedRates.size());
    for (int i = 0; i < expectedRates.size(); ++i) {
        QCOMPARE(rig.commands.at(i).bytes, QByteArray("+++"));
        QCOMPARE(rig.commands.at(i).lineSpeed, expectedRates.at(i));
        QCOMPARE(rig.commands.at(i).understood, expectedRates.at(i) == 9600);
    }
    // Recognised at the tick of the 9600 escape, not later.
    QCOMPARE(rig.enteredAtMs, qint64(3 * TickMs));

    QCOMPARE(rig.link->baudRate(), 9600);
    QCOMPARE(rig.link->entryAttempts(), 0);
    QVERIFY(!rig.link->isEntering());
    QVERIFY(rig.link->isPortOpen());
    QCOMPARE(rig.link->lastCmd(), QStringLiteral("+++"));
    QCOMPARE(rig.link->sendStep(), 1);
    QVERIFY(rig.radio.inCommandMode());

    // Nothing more happens: no further escape, the rate stays.
    QVERIFY(rig.clock.advanceBy(3 * TickMs));
    QCOMPARE(rig.commands.size(), expectedRates.size());
    QCOMPARE(rig.link->baudRate(), 9600);
    QCOMPARE(entered.count(), 1);
    QCOMPARE(gaveUp.count(), 0);
    QCOMPARE(rig.radio.currentLineSpeed(), 9600);
}

void TestCommandLink::silentRadioGivesUp_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::silentRadioGivesUp()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(DeafRate, VirtualRadio::EscapeAnswer::Silence));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    QSignalSpy gaveUp(rig.link.get(), &KcRadioCommandLink::gaveUp);
    QSignalSpy replies(rig.link.get(), &KcRadioCommandLink::replyReceived);
    QVERIFY(rig.openAndStartEntry());
    const KcLinkProfile profile = rig.link->profile();

    // Bytes that are no answer still fill the buffer (and count for the panel).
    QVERIFY(rig.clock.runUntil([&] { return !rig.commands.isEmpty(); }));
    rig.radio.sendUnsolicited("\r\nOK\r\nnoise");
    QVERIFY(VirtualClock::settle());
    QCOMPARE(replies.count(), 1);
    QCOMPARE(rig.link->recvBuffer().bytes(), QByteArray("\r\nOK\r\nnoise"));
    QCOMPARE(rig.link->okCount(), profile.countPositiveReplies ? 1 : 0);
    QVERIFY(rig.link->isEntering());

    QVERIFY(rig.clock.runUntil([&] { return gaveUp.count() == 1; }));
    QCOMPARE(entered.count(), 0);

    // The escapes: one per tick from the first (and one at once for the reader
    // and the eraser), through the three rates twice.
    const QList<int> rates = escapeRatesOfFullEntry(profile);
    QCOMPARE(rig.commands.size(), rates.size());
    for (int i = 0; i < rates.size(); ++i) {
        const int tick = profile.escapeAtStart ? i : i + 1;
        const Escape &escape = rig.commands.at(i);
        QCOMPARE(escape.bytes, QByteArray("+++"));
        QCOMPARE(escape.lineSpeed, rates.at(i));
        QCOMPARE(escape.atMs, qint64(tick * TickMs));
    }
    // The seventh tick gives up.
    QCOMPARE(rig.gaveUpAtMs, qint64(7 * TickMs));

    QVERIFY(!rig.link->hasPort());
    QVERIFY(!rig.link->isPortOpen());
    QVERIFY(!rig.link->isEntering());
    QVERIFY(rig.link->recvBuffer().isEmpty());
    QCOMPARE(rig.link->okCount(), 0);
    QCOMPARE(rig.link->entryAttempts(), 0);
    // The panel keeps these until its next start.
    QCOMPARE(rig.link->lastCmd(), QStringLiteral("+++"));
    QCOMPARE(rig.link->sendStep(), 1);

    // Nothing after the give-up.
    QVERIFY(rig.clock.advanceBy(3 * TickMs));
    QCOMPARE(rig.commands.size(), rates.size());
    QCOMPARE(gaveUp.count(), 1);
}

void TestCommandLink::okToEscapeIsNotEntry_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::okToEscapeIsNotEntry()
{
    QFETCH(QString, owner);

    // The radio hears every escape at 115200 and answers each with a bare OK.
    Rig rig(owner, radioOptions(115200, VirtualRadio::EscapeAnswer::OkOnly));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    QSignalSpy gaveUp(rig.link.get(), &KcRadioCommandLink::gaveUp);
    QSignalSpy replies(rig.link.get(), &KcRadioCommandLink::replyReceived);
    QVERIFY(rig.openAndStartEntry());

    QVERIFY(rig.clock.runUntil([&] { return !replies.isEmpty(); }));
    QCOMPARE(rig.link->lastCmd(), QStringLiteral("+++"));
    QVERIFY(rig.link->recvBuffer().contains("OK"));
    QCOMPARE(entered.count(), 0);
    QVERIFY(rig.link->isEntering());

    QVERIFY(rig.clock.runUntil([&] { return gaveUp.count() == 1; }));
    QCOMPARE(entered.count(), 0);
    QCOMPARE(rig.gaveUpAtMs, qint64(7 * TickMs));
    // Two of the six rates are 115200: their escapes were heard and answered,
    // and so was the reader's and the eraser's escape at the start.
    QCOMPARE(replies.count(), rig.link->profile().escapeAtStart ? 3 : 2);
    for (const QList<QVariant> &reply : qAsConst(replies))
        QVERIFY(reply.at(0).toByteArray().contains("OK"));
}

void TestCommandLink::noCarrierAfterOtherCommandDoesNothing_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::noCarrierAfterOtherCommandDoesNothing()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(DeafRate, VirtualRadio::EscapeAnswer::Silence));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    QSignalSpy replies(rig.link.get(), &KcRadioCommandLink::replyReceived);
    QVERIFY(rig.openAndStartEntry());
    const int escapesBefore = rig.link->profile().escapeAtStart ? 2 : 1;
    QVERIFY(rig.clock.runUntil([&] { return rig.commands.size() == escapesBefore; }));
    const int attempts = rig.link->entryAttempts();
    QCOMPARE(attempts, 1);

    QVERIFY(rig.link->writeCommand(QStringLiteral("AT&W")));
    QCOMPARE(rig.link->lastCmd(), QStringLiteral("AT&W"));
    rig.radio.sendUnsolicited("\r\nNO CARRIER\r\n");
    QVERIFY(VirtualClock::settle());
    QCOMPARE(replies.count(), 1);
    QCOMPARE(replies.at(0).at(0).toByteArray(), QByteArray("\r\nNO CARRIER\r\n"));
    QCOMPARE(entered.count(), 0);
    QVERIFY(rig.link->isEntering());
    QCOMPARE(rig.link->entryAttempts(), attempts);
    QVERIFY(rig.link->recvBuffer().contains("NO CARRIER"));

    // The buffer is not cleared between attempts: once the next tick has
    // written "+++" again, any chunk finds the old "NO CARRIER".
    QVERIFY(rig.clock.runUntil([&] { return rig.link->lastCmd() == QLatin1String("+++"); }));
    QCOMPARE(entered.count(), 0);
    rig.radio.sendUnsolicited("x");
    QVERIFY(VirtualClock::settle());
    QCOMPARE(entered.count(), 1);
    QCOMPARE(replies.count(), 1);
    QVERIFY(!rig.link->isEntering());
    QCOMPARE(rig.link->entryAttempts(), 0);
}

void TestCommandLink::answerSplitAcrossChunks_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");

    const QByteArray greeting("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n");
    for (const char *owner : {"panel", "reader", "eraser"}) {
        for (int split : {3, 5, 20, 30}) {
            QTest::addRow("%s, greeting split at %d", owner, split)
                << QString::fromLatin1(owner) << greeting.left(split) << greeting.mid(split);
        }
        QTest::addRow("%s, NO CARRIER split", owner)
            << QString::fromLatin1(owner) << QByteArray("\r\nNO CAR") << QByteArray("RIER\r\n");
    }
}

void TestCommandLink::answerSplitAcrossChunks()
{
    QFETCH(QString, owner);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);

    Rig rig(owner, radioOptions(DeafRate, VirtualRadio::EscapeAnswer::Silence));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    QSignalSpy replies(rig.link.get(), &KcRadioCommandLink::replyReceived);
    QVERIFY(rig.openAndStartEntry());
    QVERIFY(rig.clock.runUntil([&] { return rig.link->lastCmd() == QLatin1String("+++"); }));

    rig.radio.sendUnsolicited(first);
    QVERIFY(VirtualClock::settle());
    QCOMPARE(replies.count(), 1);
    QCOMPARE(entered.count(), 0);
    QVERIFY(rig.link->isEntering());

    rig.radio.sendUnsolicited(second);
    QVERIFY(VirtualClock::settle());
    QCOMPARE(entered.count(), 1);
    QCOMPARE(replies.count(), 1);
    QCOMPARE(rig.link->recvBuffer().bytes(), first + second);
    QVERIFY(!rig.link->isEntering());
    QCOMPARE(rig.link->entryAttempts(), 0);
}

void TestCommandLink::positiveReplyCounting_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<int>("okReplies");    // answers "OK" to drive the count first
    QTest::addColumn<QByteArray>("chunk"); // then this chunk arrives
    QTest::addColumn<int>("expected");

    const QByteArray connect("\r\nCONNECT 115200\r\n");
    QTest::newRow("panel, two OK in one chunk")
        << "panel" << 0 << QByteArray("\r\nOK\r\n\r\nOK\r\n") << 1;
    QTest::newRow("panel, two OK at 3") << "panel" << 3 << QByteArray("OKOK") << 4;
    QTest::newRow("panel, connect at 6") << "panel" << 6 << connect << 6;
    QTest::newRow("panel, connect at 7") << "panel" << 7 << connect << 8;
    QTest::newRow("panel, connect at 8") << "panel" << 8 << connect << 8;
    QTest::newRow("panel, no token at 7") << "panel" << 7 << QByteArray("\r\nERROR\r\n") << 7;
    QTest::newRow("panel, OK with connect at 6") << "panel" << 6 << QByteArray("OK") + connect << 7;
    QTest::newRow("reader, OK not counted") << "reader" << 3 << QByteArray("\r\nOK\r\n") << 0;
    QTest::newRow("eraser, OK not counted") << "eraser" << 3 << QByteArray("\r\nOK\r\n") << 0;
}

void TestCommandLink::positiveReplyCounting()
{
    QFETCH(QString, owner);
    QFETCH(int, okReplies);
    QFETCH(QByteArray, chunk);
    QFETCH(int, expected);

    // A radio at 115200 answers the first escape: command mode, then each "AT"
    // written is answered with one "OK" chunk.
    Rig rig(owner, radioOptions(115200, VirtualRadio::EscapeAnswer::NoCarrier));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    QSignalSpy replies(rig.link.get(), &KcRadioCommandLink::replyReceived);
    QVERIFY(rig.openAndStartEntry());
    QVERIFY(rig.clock.runUntil([&] { return entered.count() == 1; }));
    const bool counts = rig.link->profile().countPositiveReplies;
    // The answer to the escape held "OK" too.
    QCOMPARE(rig.link->okCount(), counts ? 1 : 0);
    rig.link->resetOkCount();
    QCOMPARE(rig.link->okCount(), 0);
    // The owner's first command: from now on chunks are replies, not a
    // repeated confirmation of command mode.
    rig.link->setLastCmd(QStringLiteral("AT&F10"));

    for (int i = 0; i < okReplies; ++i) {
        QVERIFY(rig.link->writeCommand(QStringLiteral("AT")));
        QVERIFY(VirtualClock::settle());
        QCOMPARE(replies.count(), i + 1);
        QCOMPARE(replies.last().at(0).toByteArray(), QByteArray("\r\nOK\r\n"));
        QCOMPARE(rig.link->okCount(), counts ? i + 1 : 0);
    }

    rig.radio.sendUnsolicited(chunk);
    QVERIFY(VirtualClock::settle());
    QCOMPARE(replies.count(), okReplies + 1);
    QCOMPARE(replies.last().at(0).toByteArray(), chunk);
    QCOMPARE(rig.link->okCount(), expected);
    QCOMPARE(rig.link->recvBuffer().count("OK"), 1 + okReplies + chunk.count("OK"));
}

void TestCommandLink::openFailureKeepsObject_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::openFailureKeepsObject()
{
    QFETCH(QString, owner);

    const QString missing = QStringLiteral("/dev/kc-no-such-serial-port");
    QVERIFY(!QFile::exists(missing));
    KcRadioCommandLink link(profileNamed(owner));
    link.setPortName(missing);
    QSignalSpy failed(&link, &KcRadioCommandLink::openFailed);

    QVERIFY(!link.openSerialport());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), missing);
    QVERIFY(!failed.at(0).at(1).toString().isEmpty());
    // The object stays, closed.
    QVERIFY(link.hasPort());
    QVERIFY(!link.isPortOpen());
    QPointer<QSerialPort> port = link.serialPort();
    QVERIFY(!port.isNull());

    // A second try for the same name uses the same object.
    QVERIFY(!link.openSerialport());
    QCOMPARE(failed.count(), 2);
    QCOMPARE(link.serialPort(), port.data());

    // Closing it releases it: there was an object.
    QVERIFY(link.closeSerialPort());
    QVERIFY(!link.hasPort());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(port.isNull());
}

void TestCommandLink::reopenSameNameReusesObject_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::reopenSameNameReusesObject()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(115200, VirtualRadio::EscapeAnswer::NoCarrier));
    QVERIFY(rig.start());
    QSignalSpy replies(rig.link.get(), &KcRadioCommandLink::replyReceived);

    QVERIFY(rig.link->openSerialport());
    QPointer<QSerialPort> port = rig.link->serialPort();
    QVERIFY(!port.isNull());
    // Open already: the same object answers.
    QVERIFY(rig.link->openSerialport());
    QCOMPARE(rig.link->serialPort(), port.data());
    // Closed behind the link's back: reopened on the same object.
    port->close();
    QVERIFY(rig.link->openSerialport());
    QCOMPARE(rig.link->serialPort(), port.data());
    QVERIFY(port->isOpen());

    // One chunk is handled once: the ready-read notification is connected once.
    const QString readLine =
        QString::fromLatin1(rig.link->profile().className) + QStringLiteral("::onSerialReadyRead");
    gDebugLines.clear();
    rig.radio.sendUnsolicited("\r\nOK\r\n");
    QVERIFY(VirtualClock::settle());
    QCOMPARE(replies.count(), 1);
    QCOMPARE(replies.at(0).at(0).toByteArray(), QByteArray("\r\nOK\r\n"));
    QCOMPARE(linesStartingWith(readLine), 1);
    QCOMPARE(rig.link->okCount(), rig.link->profile().countPositiveReplies ? 1 : 0);
    QCOMPARE(rig.link->recvBuffer().bytes(), QByteArray("\r\nOK\r\n"));
}

void TestCommandLink::otherNameReplacesObject_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::otherNameReplacesObject()
{
    QFETCH(QString, owner);

    VirtualRadio first(radioOptions(115200, VirtualRadio::EscapeAnswer::NoCarrier));
    VirtualRadio second(radioOptions(115200, VirtualRadio::EscapeAnswer::NoCarrier));
    QVERIFY(first.start());
    QVERIFY(second.start());
    KcRadioCommandLink link(profileNamed(owner));
    QSignalSpy replies(&link, &KcRadioCommandLink::replyReceived);

    link.setPortName(first.portPath());
    QVERIFY(link.openSerialport());
    QPointer<QSerialPort> oldPort = link.serialPort();

    link.setPortName(second.portPath());
    QVERIFY(link.openSerialport());
    // The old object is closed and deleted at once, not later.
    QVERIFY(oldPort.isNull());
    QVERIFY(link.serialPort() != nullptr);
    QVERIFY(link.isPortOpen());

    first.sendUnsolicited("from first");
    second.sendUnsolicited("from second");
    QVERIFY(VirtualClock::settle());
    QCOMPARE(replies.count(), 1);
    QCOMPARE(replies.at(0).at(0).toByteArray(), QByteArray("from second"));
    QCOMPARE(link.recvBuffer().bytes(), QByteArray("from second"));

    // Commands go to the new port only.
    QVERIFY(link.writeCommand(QStringLiteral("AT")));
    QVERIFY(VirtualClock::settle());
    QCOMPARE(second.commands().size(), 1);
    QCOMPARE(second.commands().at(0), QByteArray("AT\r"));
    QVERIFY(first.commands().isEmpty());
}

void TestCommandLink::closeReleasesByDeferredDeletion_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::closeReleasesByDeferredDeletion()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(115200, VirtualRadio::EscapeAnswer::NoCarrier));
    QVERIFY(rig.start());
    KcRadioCommandLink &link = *rig.link;

    // Nothing to close yet.
    QVERIFY(!link.closeSerialPort());

    QVERIFY(link.openSerialport());
    QPointer<QSerialPort> port = link.serialPort();
    QVERIFY(link.closeSerialPort());
    QVERIFY(!link.hasPort());
    QCOMPARE(link.serialPort(), nullptr);
    // Closed now, deleted when control returns to the event loop.
    QVERIFY(!port.isNull());
    QVERIFY(!port->isOpen());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(port.isNull());

    QVERIFY(!link.closeSerialPort());
    // Writing needs a port object.
    QVERIFY(!link.writeCommand(QStringLiteral("AT")));

    // The device is free again at once: a new object opens it.
    QVERIFY(link.openSerialport());
    QVERIFY(link.isPortOpen());
}

void TestCommandLink::tickWithoutPortNeitherReopensNorCounts_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::tickWithoutPortNeitherReopensNorCounts()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(DeafRate, VirtualRadio::EscapeAnswer::Silence));
    QVERIFY(rig.start());
    QSignalSpy gaveUp(rig.link.get(), &KcRadioCommandLink::gaveUp);
    QVERIFY(rig.openAndStartEntry());
    const int escapes = rig.link->profile().escapeAtStart ? 2 : 1;
    QVERIFY(rig.clock.runUntil([&] { return rig.commands.size() == escapes; }));
    QCOMPARE(rig.link->entryAttempts(), 1);

    QVERIFY(rig.link->closeSerialPort());
    const QString cls = QString::fromLatin1(rig.link->profile().className);
    const QString attemptLine = cls + QStringLiteral("::onSendDLCmdModeCmd: ");
    const QString openLine = cls + QStringLiteral("::openSerialport");
    const int ticksBefore = linesStartingWith(attemptLine);
    const int opensBefore = linesStartingWith(openLine);

    // Three ticks find no port object: nothing is reopened, written or counted,
    // and the timer keeps running.
    QVERIFY(rig.clock.advanceBy(3 * TickMs));
    QCOMPARE(linesStartingWith(attemptLine), ticksBefore + 3);
    QCOMPARE(rig.link->entryAttempts(), 1);
    QCOMPARE(rig.commands.size(), escapes);
    QVERIFY(!rig.link->hasPort());
    QVERIFY(rig.link->isEntering());
    QCOMPARE(gaveUp.count(), 0);
    QCOMPARE(linesStartingWith(openLine), opensBefore);
    for (const QString &line : linesWithPrefix(attemptLine).mid(ticksBefore)) {
        const QStringList values = valuesAfter(line, attemptLine);
        QVERIFY2(!values.isEmpty(), qPrintable(line));
        // Panel: the count; reader and eraser: reopened (false), then the count.
        if (rig.link->profile().owner == KcLinkProfile::Owner::Panel) {
            QCOMPARE(values.at(0), QStringLiteral("1"));
        } else {
            QCOMPARE(values.at(0), QStringLiteral("false"));
            QCOMPARE(values.at(1), QStringLiteral("1"));
        }
    }
}

void TestCommandLink::radioVanishesDuringEntry_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::radioVanishesDuringEntry()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(DeafRate, VirtualRadio::EscapeAnswer::Silence));
    QVERIFY(rig.start());
    QSignalSpy gaveUp(rig.link.get(), &KcRadioCommandLink::gaveUp);
    QSignalSpy failed(rig.link.get(), &KcRadioCommandLink::openFailed);
    QVERIFY(rig.openAndStartEntry());
    const KcLinkProfile profile = rig.link->profile();
    const int escapes = profile.escapeAtStart ? 2 : 1;
    QVERIFY(rig.clock.runUntil([&] { return rig.commands.size() == escapes; }));
    QCOMPARE(rig.link->entryAttempts(), 1);

    rig.radio.unplug();
    // Until the next tick the port stays open on the vanished device, which
    // reports errors without end: the link closes it at the first one
    // instead of spinning on them.
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(1000);
    const double cpu = processCpuSeconds() - cpuBefore;
    const double share = cpu / (double(wall.elapsed()) / 1000.0);
    QVERIFY2(share < 0.10, qPrintable(QStringLiteral("%1 s of CPU in %2 ms (%3 %)")
                                          .arg(cpu, 0, 'f', 3)
                                          .arg(wall.elapsed())
                                          .arg(share * 100.0, 0, 'f', 1)));
    QVERIFY(rig.link->hasPort());
    QVERIFY(!rig.link->isPortOpen());

    // Marks that show whether the next tick writes the escape.
    rig.link->setLastCmd(QStringLiteral("marker"));
    rig.link->setSendStep(0);

    // The next rate's open fails: no escape can reach the radio any more,
    // so entry ends there as a lost port, not at a give-up that would blame
    // the radio.
    const int lostBefore = rig.link->portsLost();
    QVERIFY(rig.clock.runUntil([&] { return failed.count() == 1; }));
    QCOMPARE(rig.elapsed(), qint64(2 * TickMs));
    QCOMPARE(rig.link->portsLost(), lostBefore + 1);
    QVERIFY(!rig.link->isEntering());
    QCOMPARE(rig.link->lostReason(), failed.first().at(1).toString());
    if (profile.escapeAfterFailedReopen) {
        // The panel writes the escape whatever the reopen gave; it is lost.
        QCOMPARE(rig.link->lastCmd(), QStringLiteral("+++"));
        QCOMPARE(rig.link->sendStep(), 1);
    } else {
        QCOMPARE(rig.link->lastCmd(), QStringLiteral("marker"));
        QCOMPARE(rig.link->sendStep(), 0);
    }
    QVERIFY(!rig.clock.runUntil([&] { return gaveUp.count() > 0; }, 10 * TickMs));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(rig.commands.size(), escapes);
}

void TestCommandLink::destructorReleasesPort_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<bool>("entering");
    for (const char *owner : {"panel", "reader", "eraser"}) {
        QTest::addRow("%s, open", owner) << QString::fromLatin1(owner) << false;
        QTest::addRow("%s, during entry", owner) << QString::fromLatin1(owner) << true;
    }
}

void TestCommandLink::destructorReleasesPort()
{
    QFETCH(QString, owner);
    QFETCH(bool, entering);

    VirtualRadio radio(radioOptions(DeafRate, VirtualRadio::EscapeAnswer::Silence));
    QVERIFY(radio.start());
    auto *link = new KcRadioCommandLink(profileNamed(owner));
    link->setPortName(radio.portPath());
    QVERIFY(link->openSerialport());
    VirtualClock &clock = VirtualClock::install();
    if (entering) {
        link->startCommandModeEntry();
        QVERIFY(clock.runUntil([&] { return link->entryAttempts() == 1; }));
    }
    QPointer<QSerialPort> port = link->serialPort();
    QVERIFY(!port.isNull());

    delete link;
    QVERIFY(port.isNull());

    // Nothing is left that still reacts: no tick, no escape, no crash.
    const int commands = radio.commands().size();
    QCOMPARE(clock.pendingTimers(), 0);
    QVERIFY(clock.advanceBy(3 * TickMs));
    QCOMPARE(radio.commands().size(), commands);

    // The device is free: another link opens it.
    KcRadioCommandLink other(profileNamed(owner));
    other.setPortName(radio.portPath());
    QVERIFY(other.openSerialport());
}

void TestCommandLink::debugLinesOfEntry_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::debugLinesOfEntry()
{
    QFETCH(QString, owner);

    Rig rig(owner, radioOptions(9600, VirtualRadio::EscapeAnswer::NoCarrier));
    QVERIFY(rig.start());
    QSignalSpy entered(rig.link.get(), &KcRadioCommandLink::commandModeEntered);
    const KcLinkProfile profile = rig.link->profile();
    const QString cls = QString::fromLatin1(profile.className);
    const qint64 epochBefore = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(rig.openAndStartEntry());
    QVERIFY(rig.clock.runUntil([&] { return entered.count() == 1; }));
    const qint64 epochAfter = QDateTime::currentMSecsSinceEpoch();

    // Opens: the text ends in a blank and the rate follows.
    const QString openText = cls + QStringLiteral("::openSerialport ");
    const QStringList opens = linesWithPrefix(openText);
    QCOMPARE(opens.size(), 4); // the owner's open and one per tick
    const QList<int> openRates{115200, 115200, 230400, 9600};
    for (int i = 0; i < opens.size(); ++i)
        QCOMPARE(valuesAfter(opens.at(i), openText), QStringList{QString::number(openRates.at(i))});

    // Closes, one per tick.
    const QString closeText = profile.owner == KcLinkProfile::Owner::Panel
                                  ? QStringLiteral("close serial port")
                                  : cls + QStringLiteral("::closeSerialPort");
    QCOMPARE(linesStartingWith(closeText), 3);
    for (const QString &line : linesWithPrefix(closeText))
        QCOMPARE(line, closeText);

    // One attempt line per tick, with its values in order.
    const QString attemptText = cls + QStringLiteral("::onSendDLCmdModeCmd: ");
    const QStringList attempts = linesWithPrefix(attemptText);
    QCOMPARE(attempts.size(), 3);
    const QList<int> tickRates{115200, 230400, 9600};
    for (int i = 0; i < attempts.size(); ++i) {
        const QStringList values = valuesAfter(attempts.at(i), attemptText);
        const QString count = QString::number(i + 1);
        switch (profile.owner) {
        case KcLinkProfile::Owner::Panel:
            QCOMPARE(values, QStringList{count});
            break;
        case KcLinkProfile::Owner::Reader:
            QCOMPARE(values, (QStringList{QStringLiteral("true"), count}));
            break;
        case KcLinkProfile::Owner::Eraser:
            QCOMPARE(values, (QStringList{QStringLiteral("true"), count,
                                          QString::number(tickRates.at(i))}));
            break;
        }
    }

    // Within a tick: close, reopen at the tick's rate, (eraser: escape line),
    // then the attempt line.
    int from = findLine(openText, 0) + 1;
    for (int i = 0; i < 3; ++i) {
        const int close = findLine(closeText, from);
        const int open = findLine(openText, close);
        const int attempt = findLine(attemptText, open);
        QVERIFY(close >= 0 && open > close && attempt > open);
        if (profile.owner == KcLinkProfile::Owner::Eraser) {
            const int escape = findLine(QStringLiteral("KcRadioEraser::sendEnterCmdModeCmd"), open);
            QVERIFY(escape > open && escape < attempt);
        }
        if (profile.owner == KcLinkProfile::Owner::Reader) {
            // The reader's first line of a tick carries the time in ms since the epoch.
            const int stamp =
                findLine(QStringLiteral("KcRadioParamReader::onSendDLCmdModeCmd "), from);
            QVERIFY(stamp >= 0 && stamp < close);
            const QStringList values = valuesAfter(
                gDebugLines.at(stamp), QStringLiteral("KcRadioParamReader::onSendDLCmdModeCmd"));
            QCOMPARE(values.size(), 1);
            const qint64 epoch = values.at(0).toLongLong();
            QVERIFY(epoch >= epochBefore && epoch <= epochAfter);
        }
        from = attempt + 1;
    }
    if (profile.owner == KcLinkProfile::Owner::Eraser) {
        // The escape at the start and one per tick.
        QCOMPARE(linesStartingWith(QStringLiteral("KcRadioEraser::sendEnterCmdModeCmd")), 4);
    } else {
        QCOMPARE(linesStartingWith(cls + QStringLiteral("::sendEnterCmdModeCmd")), 0);
    }

    // The chunk that answered the escape.
    const QString readText = cls + QStringLiteral("::onSerialReadyRead");
    const QStringList reads = linesWithPrefix(readText);
    QCOMPARE(reads.size(), 1);
    if (profile.owner == KcLinkProfile::Owner::Panel) {
        QCOMPARE(valuesAfter(reads.at(0), readText), QStringList{QStringLiteral("9600")});
        const QStringList readAll = linesWithPrefix(QStringLiteral("readAll:"));
        QCOMPARE(readAll.size(), 1);
        // "readAll:", the chunk, "bytesAvailable:", its length, the chunk
        // again, the banner result, the OK count.
        QVERIFY2(
            appearInOrder(readAll.at(0), {QStringLiteral("readAll:"), QStringLiteral("NO CARRIER"),
                                          QStringLiteral("bytesAvailable:"), QStringLiteral(" 18 "),
                                          QStringLiteral("NO CARRIER"), QStringLiteral(" false"),
                                          QStringLiteral(" 1")}),
            qPrintable(readAll.at(0)));
        QVERIFY(readAll.at(0).endsWith(QStringLiteral(" 1")));
        QVERIFY(findLine(QStringLiteral("readAll:"), 0) > findLine(readText, 0));
    } else {
        // The last command, then the chunk.
        QVERIFY2(appearInOrder(reads.at(0),
                               {readText, QStringLiteral("+++"), QStringLiteral("NO CARRIER")}),
                 qPrintable(reads.at(0)));
        QCOMPARE(linesStartingWith(QStringLiteral("readAll:")), 0);
    }
}

void TestCommandLink::debugLinesOfFailures_data()
{
    addOwnerColumnAndRows();
}

void TestCommandLink::debugLinesOfFailures()
{
    QFETCH(QString, owner);

    KcRadioCommandLink link(profileNamed(owner));
    const KcLinkProfile profile = link.profile();
    const QString cls = QString::fromLatin1(profile.className);

    // The escape with no port object.
    link.sendEnterCmdModeCmd();
    QCOMPARE(link.sendStep(), 0);
    QVERIFY(link.lastCmd().isEmpty());
    const QString nullText = profile.owner == KcLinkProfile::Owner::Panel
                                 ? QStringLiteral("KcRadioConfigItemForm::radioEnterCmdMode "
                                                  "failed: serialPort is null")
                                 : cls + QStringLiteral("::sendEnterCmdModeCmd failed: serialPort "
                                                        "is null");
    QCOMPARE(gDebugLines, QStringList{nullText});

    // An open that fails: the reader and the eraser log the error string
    // after the text (no blank at its end); the panel tells the operator instead.
    gDebugLines.clear();
    link.setPortName(QStringLiteral("/dev/kc-no-such-serial-port"));
    QVERIFY(!link.openSerialport());
    const QString errorString = link.serialPort()->errorString();
    QVERIFY(!errorString.isEmpty());
    if (profile.logOpenFailure) {
        QCOMPARE(gDebugLines.size(), 1);
        const QString text = cls + QStringLiteral("::openSerialport");
        QVERIFY(gDebugLines.at(0).startsWith(text + QLatin1Char(' ')));
        QVERIFY2(gDebugLines.at(0).contains(errorString), qPrintable(gDebugLines.at(0)));
    } else {
        QCOMPARE(gDebugLines, QStringList());
    }
}

void TestCommandLink::acknowledgementPacing_data()
{
    // Arrival of the escape and of each command after it, in virtual ms from
    // the start; "ATA" the last.
    QTest::addColumn<VirtualRadio::Options>("options");
    QTest::addColumn<QList<qint64>>("arrivals");
    QTest::addColumn<QString>("reason");
    VirtualRadio::Options prompt;
    // Escape after 1000 ms of silence, then 20 ms after each answer.
    // (The first command comes with a lone CR before it.)
    QTest::newRow("prompt radio") << prompt << QList<qint64>{1000, 1020, 1020, 1040, 1060,
                                                             1080, 1100, 1120, 1140}
                                  << QString();
    VirtualRadio::Options slow;
    slow.replyDelayMs = 1500;
    QTest::newRow("every answer 1.5 s late")
        << slow << QList<qint64>{1000, 2520, 2520, 4040, 5560, 7080, 8600, 10120, 11640}
        << QString();
    slow.replyDelayMs = 1900; // just inside the wait for each answer
    QTest::newRow("every answer 1.9 s late")
        << slow << QList<qint64>{1000, 2920, 2920, 4840, 6760, 8680, 10600, 12520, 14440}
        << QString();
    slow.replyDelayMs = 2500; // the preset's answer comes while "ATA" is awaited
    QTest::newRow("every answer 2.5 s late")
        << slow << QList<qint64>{1000, 3520, 3520, 5520}
        << "no answer to AT&F10 within 2000 ms; the radio answered too late";
    VirtualRadio::Options noOk; // the first command waits for the escape's "OK" in vain
    noOk.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    noOk.dataBeforeEscapeAnswer = "\r\nNO CARRIER\r\n";
    QTest::newRow("escape answered without its OK")
        << noOk << QList<qint64>{1000, 1500, 1500, 1520, 1540, 1560, 1580, 1600, 1620} << QString();
    VirtualRadio::Options refusing;
    refusing.refuseCommand = "ATS103=0";
    QTest::newRow("ERROR ends the run at once")
        << refusing << QList<qint64>{1000, 1020, 1020, 1040, 1060, 1060} << "ATS103=0 refused";
    VirtualRadio::Options hanging;
    hanging.answerLimit = 2;
    QTest::newRow("no answer within the interval")
        << hanging << QList<qint64>{1000, 1020, 1020, 1040, 3040} << "ATS102=7 not acknowledged";
}

void TestCommandLink::acknowledgementPacing()
{
    QFETCH(VirtualRadio::Options, options);
    QFETCH(QList<qint64>, arrivals);
    QFETCH(QString, reason);
    VirtualClock &clock = VirtualClock::install();
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    KcRadioSettings settings;
    settings.radioId = QStringLiteral("4711");
    KcConfigJob job(radio.portPath(), settings, false);
    QSignalSpy finished(&job, &KcConfigJob::finished);
    job.start();
    QVERIFY(clock.runUntil([&] { return finished.count() == 1; }));

    QList<qint64> heard;
    for (const VirtualRadio::Received &entry : radio.transcript())
        heard << entry.msecs;
    QCOMPARE(heard, arrivals);
    QCOMPARE(radio.commands().last(), QByteArray("ATA\r"));
    QCOMPARE(job.reason(), reason);
}

QTEST_GUILESS_MAIN(TestCommandLink)
#include "tst_commandlink.moc"
