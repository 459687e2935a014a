// The panel's command-mode entry at its real pace: one escape every 2000 ms,
// each at the next rate, against a radio that answers only at 9600. Runs
// alone, so that the load of other tests does not blur the timing.

#include "kcradiocommandlink.h"
#include "kcradiotiming.h"
#include "virtualradio.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int ToleranceMs = 20;

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
    KcRadioTiming::restoreDefaults();
    QCOMPARE(KcRadioTiming::commandIntervalMs(), 2000);
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
    connect(&radio, &VirtualRadio::transcriptEntryAdded, this,
            [&](const VirtualRadio::Received &) { escapeTimes.append(clock.elapsed()); });
    connect(&link, &KcRadioCommandLink::commandModeEntered, this,
            [&] { enteredAt = clock.elapsed(); });

    QVERIFY(link.openSerialport());
    clock.start();
    link.startCommandModeEntry();

    QTRY_COMPARE_WITH_TIMEOUT(entered.count(), 1, 7000);
    QCOMPARE(gaveUp.count(), 0);

    const QList<VirtualRadio::Received> transcript = radio.transcript();
    QCOMPARE(transcript.size(), 3);
    const QList<int> rates{115200, 230400, 9600};
    for (int i = 0; i < transcript.size(); ++i) {
        QCOMPARE(transcript.at(i).bytes, QByteArray("+++"));
        QCOMPARE(transcript.at(i).lineSpeed, rates.at(i));
        QCOMPARE(transcript.at(i).understood, i == 2);
    }

    // The first escape leaves at the first tick, not at the start.
    QCOMPARE(escapeTimes.size(), 3);
    QVERIFY2(qAbs(escapeTimes.at(0) - 2000) <= ToleranceMs,
             qPrintable(QStringLiteral("first escape at %1 ms").arg(escapeTimes.at(0))));
    // Then one every 2000 ms, as the radio's transcript saw them.
    for (int i = 1; i < transcript.size(); ++i) {
        const qint64 gap = transcript.at(i).msecs - transcript.at(i - 1).msecs;
        QVERIFY2(
            qAbs(gap - 2000) <= ToleranceMs,
            qPrintable(
                QStringLiteral("escape %1 came %2 ms after the one before").arg(i + 1).arg(gap)));
    }

    // Recognised on the answer to the third escape, within the same tick.
    QVERIFY(enteredAt >= escapeTimes.at(2));
    QVERIFY2(enteredAt - escapeTimes.at(2) <= ToleranceMs,
             qPrintable(QStringLiteral("entered %1 ms after the third escape")
                            .arg(enteredAt - escapeTimes.at(2))));
    QCOMPARE(link.baudRate(), 9600);
    QVERIFY(!link.isEntering());
    QCOMPARE(link.entryAttempts(), 0);
    QVERIFY(radio.inCommandMode());

    // The entry timer is stopped: nothing more goes out.
    QTest::qWait(300);
    QCOMPARE(radio.transcript().size(), 3);
    QCOMPARE(entered.count(), 1);
}

QTEST_GUILESS_MAIN(TestCommandLinkCadence)
#include "tst_commandlink_cadence_serial.moc"
