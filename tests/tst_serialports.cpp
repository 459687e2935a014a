// The port listing shared by the panels and the command-line programs: the
// order of USB adapters and other ports, and which lock files make a port
// busy, Windows port names, and how a panel's port list merges a listing.
// Only lists and reads lock files; no serial port is opened.
#include "kcportlistmerge.h"
#include "kcserialports.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// "name", "name:usb" for a port with USB ids, "name:named" for a path named
// in KC_EXTRA_SERIAL_PORTS.
QList<KcSerialPorts::Port> portsFrom(const QStringList &entries)
{
    QList<KcSerialPorts::Port> ports;
    for (const QString &entry : entries) {
        KcSerialPorts::Port port;
        port.name = entry.section(QLatin1Char(':'), 0, 0);
        port.hasUsbIds = entry.endsWith(QLatin1String(":usb"));
        port.named = entry.endsWith(QLatin1String(":named"));
        ports.append(port);
    }
    return ports;
}

QStringList namesOf(const QList<KcSerialPorts::Port> &ports)
{
    QStringList names;
    for (const KcSerialPorts::Port &port : ports)
        names << port.name;
    return names;
}

// A port list written as names: "*" before the selected one, "!" after an
// unplugged one, "~" after one that did not come from the system, "#" after
// a busy one.
KcPortListState stateFrom(const QStringList &entries)
{
    KcPortListState state;
    for (QString entry : entries) {
        if (entry.startsWith(QLatin1Char('*'))) {
            state.current = state.items.size();
            entry.remove(0, 1);
        }
        KcPortListItem item;
        item.port.fromSystem = !entry.endsWith(QLatin1Char('~'));
        item.port.busy = entry.endsWith(QLatin1Char('#'));
        item.unplugged = entry.endsWith(QLatin1Char('!'));
        item.port.name = entry.remove(QRegularExpression(QStringLiteral("[~#!]$")));
        state.items.append(item);
    }
    return state;
}

QStringList entriesOf(const KcPortListState &state)
{
    QStringList entries;
    for (int i = 0; i < state.items.size(); ++i) {
        const KcPortListItem &item = state.items.at(i);
        entries << QLatin1String(i == state.current ? "*" : "") + item.port.name +
                       QLatin1String(item.unplugged ? "!" : "") +
                       QLatin1String(item.port.fromSystem ? "" : "~");
    }
    return entries;
}

// A process ID beyond any system's limit: no process has it.
const QByteArray GonePid = "2147483000";

} // namespace

class TestSerialPorts : public QObject
{
    Q_OBJECT

private slots:
    void offerOrder_data();
    void offerOrder();
    void lockFiles_data();
    void lockFiles();
    void windowsPortNames_data();
    void windowsPortNames();
    void portListMerge_data();
    void portListMerge();
};

void TestSerialPorts::offerOrder_data()
{
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("on-board ports before adapters")
        << QStringList{"ttyS0", "ttyS1", "ttyUSB0:usb", "ttyACM0:usb"}
        << QStringList{"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1"};
    QTest::newRow("mixed, each group keeps its order")
        << QStringList{"ttyUSB1:usb", "ttyS0", "ttyUSB0:usb", "ttyS4"}
        << QStringList{"ttyUSB1", "ttyUSB0", "ttyS0", "ttyS4"};
    QTest::newRow("no adapters") << QStringList{"COM3", "COM1"} << QStringList{"COM3", "COM1"};
    QTest::newRow("named paths before on-board ports")
        << QStringList{"ttyS0", "/tmp/a:named", "ttyS1", "/tmp/b:named"}
        << QStringList{"/tmp/a", "/tmp/b", "ttyS0", "ttyS1"};
    QTest::newRow("adapters, then named paths")
        << QStringList{"ttyS0", "/tmp/a:named", "ttyUSB0:usb"}
        << QStringList{"ttyUSB0", "/tmp/a", "ttyS0"};
    QTest::newRow("none") << QStringList() << QStringList();
}

void TestSerialPorts::offerOrder()
{
    QFETCH(QStringList, given);
    QFETCH(QStringList, expected);
    QCOMPARE(namesOf(KcSerialPorts::offerOrder(portsFrom(given))), expected);
}

void TestSerialPorts::lockFiles_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("lockName"); // empty: no lock file
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("locked");

    const auto row = [](const char *tag, const char *port, const char *lock,
                        const QByteArray &content, bool locked) {
        QTest::newRow(tag) << QString::fromLatin1(port) << QString::fromLatin1(lock) << content
                           << locked;
    };
    const QByteArray ownPid = QByteArray::number(QCoreApplication::applicationPid());
    row("held by a running process", "ttyUSB0", "LCK..ttyUSB0", ownPid + "\nkcradioconfig\nhost\n",
        true);
    row("device path", "/dev/ttyACM0", "LCK..ttyACM0", ownPid + "\n", true);
    row("slashes of a pseudo-terminal", "/dev/pts/5", "LCK..pts_5", ownPid + "\n", true);
    row("padded text form", "ttyS1", "LCK..ttyS1", "      " + ownPid + "\n", true);
    row("owner gone", "ttyUSB0", "LCK..ttyUSB0", GonePid + "\n", false);
    row("unreadable owner", "ttyUSB0", "LCK..ttyUSB0", "?\n", true);
    row("empty lock", "ttyUSB0", "LCK..ttyUSB0", QByteArray(), false);
    row("another port's lock", "ttyUSB1", "LCK..ttyUSB0", ownPid + "\n", false);
    row("no lock", "ttyUSB0", "", QByteArray(), false);
}

void TestSerialPorts::lockFiles()
{
    QFETCH(QString, portName);
    QFETCH(QString, lockName);
    QFETCH(QByteArray, content);
    QFETCH(bool, locked);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!lockName.isEmpty()) {
        QFile lock(dir.filePath(lockName));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QCOMPARE(lock.write(content), qint64(content.size()));
    }
    QCOMPARE(KcSerialPorts::isLockedIn(dir.path(), portName), locked);
}

void TestSerialPorts::windowsPortNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("port"); // empty: not a Windows port name
    QTest::newRow("bare") << "COM3" << "COM3";
    QTest::newRow("lower case") << "com3" << "COM3";
    QTest::newRow("device namespace") << "\\\\.\\COM12" << "COM12";
    QTest::newRow("device namespace, mixed case") << "\\\\.\\cOm12" << "COM12";
    QTest::newRow("forward slashes") << "//./com7" << "COM7";
    QTest::newRow("long path prefix") << "\\\\?\\COM4" << "COM4";
    QTest::newRow("three digits") << "COM256" << "COM256";
    QTest::newRow("no number") << "COM" << "";
    QTest::newRow("no port 0") << "COM0" << "";
    QTest::newRow("a file named after one") << "COM3.log" << "";
    QTest::newRow("in a folder") << "C:\\ports\\COM3" << "";
    QTest::newRow("Unix device") << "ttyUSB0" << "";
    QTest::newRow("Unix path") << "/dev/ttyS0" << "";
}

void TestSerialPorts::windowsPortNames()
{
    QFETCH(QString, name);
    QFETCH(QString, port);
    QCOMPARE(KcSerialPorts::windowsPortName(name), port);
#ifdef Q_OS_WIN
    // Every spelling of one port is one device; the name opens as given.
    if (!port.isEmpty())
        QCOMPARE(KcSerialPorts::deviceIdentity(name), port);
    QCOMPARE(KcSerialPorts::devicePath(name), name);
#endif
}

void TestSerialPorts::portListMerge_data()
{
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("fresh");
    QTest::addColumn<QStringList>("merged");

    QTest::newRow("adapter appears in its place")
        << QStringList{"*ttyUSB0", "ttyS0"} << QStringList{"ttyUSB0", "ttyUSB1", "ttyS0"}
        << QStringList{"*ttyUSB0", "ttyUSB1", "ttyS0"};
    QTest::newRow("no port: the new adapter is selected")
        << QStringList{} << QStringList{"ttyUSB0", "ttyS0"} << QStringList{"*ttyUSB0", "ttyS0"};
    QTest::newRow("selection kept when an adapter appears")
        << QStringList{"*ttyS0"} << QStringList{"ttyUSB1", "ttyS0"}
        << QStringList{"ttyUSB1", "*ttyS0"};
    QTest::newRow("selected port gone: marked")
        << QStringList{"ttyS1", "*ttyUSB0", "ttyS0"} << QStringList{"ttyS1", "ttyS0"}
        << QStringList{"ttyS1", "*ttyUSB0!", "ttyS0"};
    QTest::newRow("marked port back")
        << QStringList{"*ttyUSB0!", "ttyS0"} << QStringList{"ttyUSB0", "ttyS0"}
        << QStringList{"*ttyUSB0", "ttyS0"};
    QTest::newRow("marked port replaced by a new adapter")
        << QStringList{"*ttyUSB0!", "ttyS0"} << QStringList{"ttyUSB1", "ttyS0"}
        << QStringList{"*ttyUSB1", "ttyS0"};
    QTest::newRow("mark goes once another is chosen, other ports gone too")
        << QStringList{"ttyUSB0!", "*ttyS0", "ttyUSB1"} << QStringList{"ttyS0"}
        << QStringList{"*ttyS0"};
    QTest::newRow("extra port kept")
        << QStringList{"ttyUSB0", "*/tmp/pty~", "/tmp/b~"} << QStringList{"ttyUSB0"}
        << QStringList{"ttyUSB0", "*/tmp/pty~", "/tmp/b~"};
    QTest::newRow("busy port not offered")
        << QStringList{"*ttyS0"} << QStringList{"ttyUSB0#", "ttyS0"} << QStringList{"*ttyS0"};
}

void TestSerialPorts::portListMerge()
{
    QFETCH(QStringList, shown);
    QFETCH(QStringList, fresh);
    QFETCH(QStringList, merged);

    QList<KcPortEntry> ports;
    for (const KcPortListItem &item : stateFrom(fresh).items)
        ports.append(item.port);
    QCOMPARE(entriesOf(KcPortListMerge::merged(stateFrom(shown), ports)), merged);
}

QTEST_GUILESS_MAIN(TestSerialPorts)
#include "tst_serialports.moc"
