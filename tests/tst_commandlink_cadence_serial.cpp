// The panel's command-mode entry at its real pace on the event loop's clock:
// one escape every 2000 ms, each at the next rate, against a radio that
// answers only at 9600. Runs alone (RUN_SERIAL). Each escape is judged
// against its own grid point, so a late wake-up delays that escape only.
//
// Every escape follows its tick by the reopen at the next rate (which syncs
// the port's lock file to disk) and reaches the radio an event-loop turn or
// two later: on a loaded machine all of that varies by a few hundred ms
// whatever the link does. So the test blocks its own event loop across the
// second tick, the way a process that is not scheduled for a while is
// blocked: that escape is late by the block, and the third must still come
// on the grid, where a tick counted from the late one would come 1500 ms
// later. The bound for lateness is then far above what the scheduler adds.

#include "kcradiocommandlink.h"
#include "kcradiotiming.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int IntervalMs = 2000;
// The event loop is blocked from the first escape until then.
constexpr qint64 BlockedUntilMs = 5500;
// Several times the longest delay seen on two busy cores (about 270 ms), and
// half what a tick counted from a late one would be off.
constexpr qint64 LateMs = 750;
// Both clocks count whole milliseconds.
constexpr qint64 EarlyMs = 2;

QtMessageHandler gPreviousHandler = nullptr;

// The link's debug lines are not what this test looks at.
void dropDebugMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg && gPreviousHandler)
        gPreviousHandler(type, context, message);
}

} // namespace

class TestCommandLinkCadence : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void panelEscapesTwoSecondsApart();
};

void TestCommandLinkCadence::initTestCase()
{
    QCOMPARE(KcRadioTiming::commandIntervalMs(), IntervalMs);
    QVERIFY(!VirtualClock::active());
    gPreviousHandler = qInstallMessageHandler(dropDebugMessages);
}

void TestCommandLinkCadence::cleanupTestCase()
{
    qInstallMessageHandler(gPreviousHandler);
}

void TestCommandLinkCadence::panelEscapesTwoSecondsApart()
{
    VirtualRadio::Options options;
    options.baudRate = 9600;
    options.escapeAnswer = VirtualRadio::EscapeAnswer::NoCarrier;
    VirtualRadio radio(options);
    QVERIFY(radio.start());

    KcRadioCommandLink link(KcLinkProfile::panel());
    link.setPortName(radio.portPath());
    QSignalSpy entered(&link, &KcRadioCommandLink::commandModeEntered);
    QSignalSpy gaveUp(&link, &KcRadioCommandLink::gaveUp);

    QElapsedTimer clock;
    QList<qint64> escapeTimes; // on the test's clock, from the start of the entry
    qint64 enteredAt = -1;
    connect(&radio, &VirtualRadio::transcriptEntryAdded, this, [&](const VirtualRadio::Received &) {
        escapeTimes.append(clock.elapsed());
        while (escapeTimes.size() == 1 && clock.elapsed() < BlockedUntilMs)
            QThread::msleep(quint32(BlockedUntilMs - clock.elapsed()));
    });
    connect(&link, &KcRadioCommandLink::commandModeEntered, this,
            [&] { enteredAt = clock.elapsed(); });

    QVERIFY(link.openSerialport());
    clock.start();
    link.startCommandModeEntry();

    QTRY_COMPARE_WITH_TIMEOUT(entered.count(), 1, 4 * IntervalMs);
    QCOMPARE(gaveUp.count(), 0);

    const QList<VirtualRadio::Received> transcript = radio.transcript();
    QCOMPARE(transcript.size(), 3);
    const QList<int> rates{115200, 230400, 9600};
    for (int i = 0; i < transcript.size(); ++i) {
        QCOMPARE(transcript.at(i).bytes, QByteArray("+++"));
        QCOMPARE(transcript.at(i).lineSpeed, rates.at(i));
        QCOMPARE(transcript.at(i).understood, i == 2);
    }

    // The escapes leave at the ticks, not at the start; the one whose tick
    // came while the loop was blocked leaves when the block ends.
    QCOMPARE(escapeTimes.size(), 3);
    for (int k = 0; k < escapeTimes.size(); ++k) {
        const qint64 due = qMax<qint64>((k + 1) * IntervalMs, k == 1 ? BlockedUntilMs : 0);
        QVERIFY2(escapeTimes.at(k) >= due - EarlyMs && escapeTimes.at(k) <= due + LateMs,
                 qPrintable(QStringLiteral("escape %1 at %2 ms, due at %3 ms")
                                .arg(k + 1)
                                .arg(escapeTimes.at(k))
                                .arg(due)));
    }

    // Recognised on the answer to the third escape.
    QVERIFY(enteredAt >= escapeTimes.at(2));
    QVERIFY2(enteredAt - escapeTimes.at(2) <= LateMs,
             qPrintable(QStringLiteral("entered %1 ms after the third escape")
                            .arg(enteredAt - escapeTimes.at(2))));
    QCOMPARE(link.baudRate(), 9600);
    QVERIFY(!link.isEntering());
    QCOMPARE(link.entryAttempts(), 0);
    QVERIFY(radio.inCommandMode());
    // The entry timer is stopped on the event loop's clock too.
    for (const QTimer *timer : link.findChildren<QTimer *>())
        QVERIFY(timer->isSingleShot() || !timer->isActive());
    QCOMPARE(entered.count(), 1);
}

QTEST_GUILESS_MAIN(TestCommandLinkCadence)
#include "tst_commandlink_cadence_serial.moc"
