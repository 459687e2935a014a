// One P2P ground configuration at the real two-second cadence. Runs alone
// (RUN_SERIAL) so that the load of other tests cannot disturb its timing.
#include "configharness.h"
#include "kcradiotiming.h"
#include "mainwindow.h"
#include "virtualradio.h"

#include <QtTest>

using namespace ConfigHarness;

class TestConfigCadence : public QObject
{
    Q_OBJECT

private slots:
    void commandsLeaveTwoSecondsApart();
};

void TestConfigCadence::commandsLeaveTwoSecondsApart()
{
    QCOMPARE(KcRadioTiming::commandIntervalMs(), 2000);
    VirtualRadio radio;
    QVERIFY(radio.start());
    offerPorts({radio.portPath()});
    MainWindow window;
    KcRadioConfigItemForm *ground = panel(window, 0, 0);
    QStringList log;
    recordSignals(ground, &log);

    // Arrival times on the test's clock, which starts at the press.
    QElapsedTimer clock;
    QList<qint64> arrivals;
    connect(&radio, &VirtualRadio::commandReceived, this,
            [&]() { arrivals.append(clock.elapsed()); });
    clock.start();
    QVERIFY(configure(ground, &log, 25000));
    const qint64 total = clock.elapsed();
    QCOMPARE(log, QStringList({"start", "grd:true", "end"}));

    const QList<VirtualRadio::Received> received = radio.transcript();
    QCOMPARE(received.size(), 8);
    QCOMPARE(arrivals.size(), 8);
    // The first escape leaves one interval after the press, after the port
    // has been closed and reopened.
    QVERIFY2(arrivals.first() >= 2000 && arrivals.first() <= 2100,
             qPrintable(QString::number(arrivals.first())));
    // The first command follows the radio's answer to the escape by one
    // interval, so that gap also holds the answer's way back; every later
    // command follows its predecessor by exactly one interval.
    for (int i = 1; i < received.size(); ++i) {
        const qint64 gap = received.at(i).msecs - received.at(i - 1).msecs;
        const qint64 slack = i == 1 ? 50 : 20;
        QVERIFY2(gap >= 2000 - 20 && gap <= 2000 + slack,
                 qPrintable(QStringLiteral("command %1 (%2) came %3 ms after the previous")
                                .arg(i)
                                .arg(QString::fromLatin1(received.at(i).bytes.trimmed()))
                                .arg(gap)));
    }
    // Escape at 2 s, "ATA" 14 s later, verdict 2 s after that.
    QVERIFY2(qAbs(total - 18000) <= 200, qPrintable(QString::number(total)));
}

QTEST_MAIN(TestConfigCadence)
#include "tst_configcadence_serial.moc"
