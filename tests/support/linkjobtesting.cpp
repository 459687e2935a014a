#include "linkjobtesting.h"

#include "kcradiocommandlink.h"
#include "virtualclock.h"

#include <QtTest>

namespace LinkJobTesting {

VirtualRadio::Options radioOptions(int baudRate, int answerLimit)
{
    VirtualRadio::Options options;
    options.baudRate = baudRate;
    options.answerLimit = answerLimit;
    return options;
}

QList<int> escapeSpeeds(const VirtualRadio &radio)
{
    QList<int> speeds;
    for (const VirtualRadio::Received &entry : radio.transcript()) {
        if (entry.bytes == "+++")
            speeds.append(entry.lineSpeed);
    }
    return speeds;
}

void addOpenFailureRows()
{
    QTest::addColumn<QString>("portName");
    QTest::newRow("empty port name") << QString();
    QTest::newRow("no such device") << QStringLiteral("/nonexistent/kc-tty-none");
}

void verifyNoPortObjectLeft()
{
    QVERIFY(VirtualClock::settle());
    QCOMPARE(KcRadioCommandLink::livePortObjects(), 0);
}

} // namespace LinkJobTesting
