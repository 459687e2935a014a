// With the window open and no radio work running, none of the program's
// timers runs but the port watch (one radio timer for every panel): neither
// on a fresh window nor after each way a configuration can end. The radio timers run on the virtual
// clock, where one left running stays scheduled; any other timer of the program would tick in real
// time while the idle window is watched.
#include "configharness.h"
#include "kcradiocommandlink.h"
#include "mainwindow.h"
#include "virtualradio.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace ConfigHarness;

// What the window does before it is watched.
enum class Work
{
    None,
    Success,
    OpenFailure,
    GivenUp,
    Unplugged
};
Q_DECLARE_METATYPE(Work)

namespace {

bool isOurClass(const QObject *object)
{
    const QByteArray name = object->metaObject()->className();
    return name.startsWith("Kc") || name == "MainWindow";
}

// Timer events of the program's own: those delivered to an object of one of
// its classes, or to a QTimer that one of them owns. Timers of Qt's widgets
// (the line edit's cursor blink and the like) are not the program's.
class OwnTimerEvents : public QObject
{
public:
    OwnTimerEvents() { qApp->installEventFilter(this); }
    ~OwnTimerEvents() override { qApp->removeEventFilter(this); }

    QStringList receivers() const { return mReceivers; }
    void clear() { mReceivers.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Timer)
            return false;
        const QObject *parent = watched->parent();
        if (isOurClass(watched))
            mReceivers << QString::fromLatin1(watched->metaObject()->className());
        else if (qobject_cast<QTimer *>(watched) && parent && isOurClass(parent))
            mReceivers << QStringLiteral("QTimer of %1").arg(parent->metaObject()->className());
        return false;
    }

private:
    QStringList mReceivers;
};

QStringList activeTimers(const MainWindow &window)
{
    QStringList active;
    for (const QTimer *timer : window.findChildren<QTimer *>())
        if (timer->isActive())
            active << QStringLiteral("QTimer of %1 (%2 ms)")
                          .arg(timer->parent()->metaObject()->className())
                          .arg(timer->interval());
    return active;
}

} // namespace

class TestIdle : public QObject
{
    Q_OBJECT

private slots:
    void noTimerRunsWhenIdle_data();
    void noTimerRunsWhenIdle();
};

void TestIdle::noTimerRunsWhenIdle_data()
{
    QTest::addColumn<Work>("work");
    QTest::addColumn<QStringList>("expectedLog");

    QTest::newRow("fresh window") << Work::None << QStringList();
    QTest::newRow("after a successful configuration")
        << Work::Success << QStringList({"start", "grd:true", "end"});
    QTest::newRow("after an open failure")
        << Work::OpenFailure << QStringList({"start", "end", "grd:false"});
    QTest::newRow("after command-mode entry given up")
        << Work::GivenUp << QStringList({"start", "end"});
    QTest::newRow("after the radio was unplugged")
        << Work::Unplugged << QStringList({"start", "grd:false", "end"});
}

void TestIdle::noTimerRunsWhenIdle()
{
    QFETCH(Work, work);
    QFETCH(QStringList, expectedLog);

    QList<VirtualRadio::Options> radios;
    QStringList otherPorts;
    if (work == Work::OpenFailure) {
        otherPorts << QStringLiteral("/nonexistent/ttyKC0");
    } else {
        VirtualRadio::Options options;
        if (work == Work::GivenUp)
            options.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
        if (work == Work::Unplugged)
            options.unplugAfterCommands = 3;
        radios << options;
    }
    WindowRig rig(radios, otherPorts);
    QVERIFY(rig.ready());
    MainWindow &window = rig.window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    if (work != Work::None) {
        QVERIFY(rig.configure());
        QCOMPARE(rig.log(), expectedLog);
        if (work == Work::OpenFailure) {
            QMessageBox *box = openMessageBox();
            QVERIFY(box);
            box->button(QMessageBox::Ok)->click();
            QVERIFY(!openMessageBox());
        }
    }
    // Once every port is released (its last bytes drained), only the port watch runs.
    const QList<KcRadioCommandLink *> links = window.findChildren<KcRadioCommandLink *>();
    QVERIFY(rig.clock().runUntil([&] {
        return std::none_of(links.cbegin(), links.cend(),
                            [](const KcRadioCommandLink *link) { return link->isReleasing(); });
    }));
    QCOMPARE(rig.clock().pendingTimers(), 1);
    QCOMPARE(activeTimers(window), QStringList());

    // The watch sees a timer of the window's own...
    OwnTimerEvents timerEvents;
    QTimer control(&window);
    control.setSingleShot(true);
    control.start(0);
    QTRY_COMPARE(timerEvents.receivers(), QStringList{QStringLiteral("QTimer of MainWindow")});
    // ...and none while the window stands idle.
    timerEvents.clear();
    QTest::qWait(500);
    QCOMPARE(timerEvents.receivers(), QStringList());
}

QTEST_MAIN(TestIdle)
#include "tst_idle.moc"
