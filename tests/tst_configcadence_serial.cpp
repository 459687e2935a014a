// One P2P ground configuration at the real two-second cadence, on the event
// loop's clock. Runs alone (RUN_SERIAL). The times are judged against the
// grid the timers keep, not against each other: a late wake-up delays one
// command but not the ones after it, so each command must come within
// LateMs of its grid point, and none before it.
#include "configharness.h"
#include "kcradiocommandlink.h"
#include "kcradiotiming.h"
#include "mainwindow.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace ConfigHarness;

namespace {

constexpr int IntervalMs = 2000;
// More than the longest late wake-up seen on a loaded machine (about 200 ms).
constexpr qint64 LateMs = 250;
// Both clocks count whole milliseconds.
constexpr qint64 EarlyMs = 2;

QString onGrid(qint64 at, qint64 gridPoint)
{
    if (at < gridPoint - EarlyMs || at > gridPoint + LateMs)
        return QStringLiteral("at %1 ms, due at %2 ms").arg(at).arg(gridPoint);
    return QString();
}

} // namespace

class TestConfigCadence : public QObject
{
    Q_OBJECT

private slots:
    void commandsKeepTheTwoSecondGrid();
};

void TestConfigCadence::commandsKeepTheTwoSecondGrid()
{
    QCOMPARE(KcRadioTiming::commandIntervalMs(), IntervalMs);
    QVERIFY(!VirtualClock::active());
    VirtualRadio radio;
    QVERIFY(radio.start());
    offerPorts({radio.portPath()});
    MainWindow window;
    KcRadioConfigItemForm *ground = panel(window, 0, 0);
    QStringList log;
    recordSignals(ground, &log);

    // Times on the test's clock, which starts at the press: the arrival of
    // each command at the radio, and the moment the tool took the escape as
    // answered, from which the commands keep their own grid.
    QElapsedTimer clock;
    QList<qint64> arrivals;
    qint64 enteredAt = -1;
    connect(&radio, &VirtualRadio::commandReceived, this,
            [&]() { arrivals.append(clock.elapsed()); });
    connect(ground->link(), &KcRadioCommandLink::commandModeEntered, this,
            [&]() { enteredAt = clock.elapsed(); });
    clock.start();
    child<QPushButton>(ground, "btnConfig")->click();
    QVERIFY(QTest::qWaitFor([&]() { return log.contains(QStringLiteral("end")); }, 25000));
    const qint64 endedAt = clock.elapsed();
    QCOMPARE(log, QStringList({"start", "grd:true", "end"}));

    const QStringList commands = understoodCommands(radio);
    QCOMPARE(commands.size(), 8);
    QCOMPARE(arrivals.size(), 8);
    // The escape at the first tick of the entry, after the port was reopened.
    QVERIFY2(onGrid(arrivals.at(0), IntervalMs).isEmpty(),
             qPrintable(QStringLiteral("escape ") + onGrid(arrivals.at(0), IntervalMs)));
    QVERIFY2(enteredAt >= arrivals.at(0) && enteredAt - arrivals.at(0) <= LateMs,
             qPrintable(QStringLiteral("answer taken at %1 ms").arg(enteredAt)));
    // Then one command per interval from the answer, "ATA" the seventh, and
    // the verdict one interval after it.
    for (int k = 1; k < arrivals.size(); ++k) {
        const QString problem = onGrid(arrivals.at(k), enteredAt + k * IntervalMs);
        QVERIFY2(problem.isEmpty(), qPrintable(commands.at(k) + QLatin1Char(' ') + problem));
    }
    const QString verdict = onGrid(endedAt, enteredAt + 8 * IntervalMs);
    QVERIFY2(verdict.isEmpty(), qPrintable(QStringLiteral("verdict ") + verdict));

    // Nothing of the run keeps running on the event loop's clock once the
    // port is released.
    const QList<KcRadioCommandLink *> links = window.findChildren<KcRadioCommandLink *>();
    QTRY_VERIFY(std::none_of(links.cbegin(), links.cend(),
                             [](const KcRadioCommandLink *link) { return link->isReleasing(); }));
    for (const QTimer *timer : window.findChildren<QTimer *>())
        QVERIFY2(!timer->isActive(), qPrintable(timer->parent()->metaObject()->className()));
}

QTEST_MAIN(TestConfigCadence)
#include "tst_configcadence_serial.moc"
