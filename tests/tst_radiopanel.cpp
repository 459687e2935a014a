// The radio panel on its own: widgets by role and radio type, port search,
// ID generation and relays, and leaving command mode.
#include "kcportwatch.h"
#include "kcradiocommandlink.h"
#include "kcradioconfigitemform.h"
#include "kcserialports.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

template <typename T> T *child(QWidget *panel, const char *name)
{
    return panel->findChild<T *>(QString::fromLatin1(name));
}

bool shown(QWidget *panel, const char *name)
{
    return !child<QWidget>(panel, name)->isHidden();
}

void offer(const QList<KcPortEntry> &ports)
{
    KcRadioConfigItemForm::setPortLister([ports]() { return ports; });
}

const char *const ComboStyle =
    "QComboBox{\nborder-radius:2px;\nborder:1px solid "
    "gray;\ncombobox-popup:0;\n}\nQComboBox:hover{\nborder-"
    "radius: "
    "3px;\nborder-width:2px;\nborder-color:rgb(50, 180, "
    "250);\n}\nQComboBox::down-arrow{\nimage:url(:/images/arrow_down.png);\n}\nQComboBox::drop-"
    "down{\nwidth:20px;\nborder-left:1px solid "
    "gray;\nbackground:transparent;\n}\nQComboBox::drop-down:hover{\nborder-left:1px solid "
    "lightgray;\nbackground:rgb(50, 180, 250);\n}";
const char *const ButtonStyle =
    "QPushButton{border-image:url(:/images/button-select.png); color: rgb(26, 161, "
    "224);}\nQPushButton:hover{border-image:url(:/images/button-streak.png);\ncolor: "
    "white;}\nQPushButton:pressed{border-image:url(:/images/button-normal.png);\ncolor: "
    "white;}\nQPushButton:disabled{border-image:url(:/images/button-forbid.png);\ncolor: black;}";

} // namespace

Q_DECLARE_METATYPE(QList<KcPortEntry>)

class TestRadioPanel : public QObject
{
    Q_OBJECT

private slots:
    void init() { offer({}); }
    void cleanupTestCase() { KcRadioConfigItemForm::setPortLister(nullptr); }

    void constructedState();
    void looks();
    void roles_data();
    void roles();
    void radioTypeShowsBaudRateRow_data();
    void radioTypeShowsBaudRateRow();
    void airborneIndexPopup();
    void portSearch_data();
    void portSearch();
    void extraPortsFromEnvironment();
    void portListFollowsAdapters_data();
    void portListFollowsAdapters();
    void generateAndRelay();
    void handOverSlots();
    void leaveCommandMode();
    void leaveCommandModeWithoutPort();
};

void TestRadioPanel::constructedState()
{
    KcRadioConfigItemForm panel;
    QCOMPARE(panel.objectName(), QStringLiteral("KcRadioConfigItemForm"));
    QCOMPARE(panel.size(), QSize(300, 291));
    QCOMPARE(panel.windowTitle(), QStringLiteral("Form"));

    auto *baud = child<QComboBox>(&panel, "cmbBaudRate");
    QCOMPARE(baud->count(), 3);
    const QList<QPair<QString, int>> entries{{"9600", 7}, {"115200", 1}, {"230400", 0}};
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(baud->itemText(i), entries.at(i).first);
        QCOMPARE(baud->itemData(i).toInt(), entries.at(i).second);
    }
    QCOMPARE(baud->currentText(), QStringLiteral("9600"));
    QVERIFY(!baud->isEditable());

    auto *index = child<QComboBox>(&panel, "cmbAirborneIndex");
    QCOMPARE(index->count(), 100);
    QCOMPARE(index->itemText(0), QStringLiteral("1"));
    QCOMPARE(index->itemText(99), QStringLiteral("100"));
    QCOMPARE(index->currentText(), QStringLiteral("1"));

    for (const char *hidden : {"labBaudRate", "cmbBaudRate", "btnQuit", "btnRead", "btnEarse"})
        QVERIFY2(!shown(&panel, hidden), hidden);
    QCOMPARE(child<QPushButton>(&panel, "btnQuit")->text(), QString::fromUtf8("退出指令模式"));
    QCOMPARE(child<QLabel>(&panel, "labTitle")->text(), QStringLiteral("LabTitle"));
    QCOMPARE(child<QLabel>(&panel, "labTipInfo")->text(), QString());
    QVERIFY(child<QLineEdit>(&panel, "leRadioID")->validator() == nullptr);
    QCOMPARE(child<QLineEdit>(&panel, "leRadioID")->inputMask(), QString());
}

void TestRadioPanel::looks()
{
    KcRadioConfigItemForm panel;
    for (const char *name : {"cmbSerialPort", "cmbAirborneIndex", "cmbBaudRate"})
        QCOMPARE(child<QComboBox>(&panel, name)->styleSheet(), QString::fromLatin1(ComboStyle));
    for (const char *name : {"btnSearch", "btnGenerateRadioID", "btnRead", "btnEarse", "btnConfig"})
        QCOMPARE(child<QPushButton>(&panel, name)->styleSheet(), QString::fromLatin1(ButtonStyle));
    QCOMPARE(child<QPushButton>(&panel, "btnQuit")->styleSheet(), QString());

    QCOMPARE(child<QComboBox>(&panel, "cmbSerialPort")->minimumSize(), QSize(125, 25));
    QCOMPARE(child<QComboBox>(&panel, "cmbSerialPort")->maximumWidth(), 125);
    QCOMPARE(child<QPushButton>(&panel, "btnSearch")->minimumSize(), QSize(90, 30));
    QCOMPARE(child<QPushButton>(&panel, "btnSearch")->maximumWidth(), 1000);
    QCOMPARE(child<QPushButton>(&panel, "btnGenerateRadioID")->maximumWidth(), 90);
    QCOMPARE(child<QPushButton>(&panel, "btnEarse")->minimumSize(), QSize(50, 30));
    QCOMPARE(child<QPushButton>(&panel, "btnEarse")->maximumSize(), QSize(50, 30));
    QCOMPARE(child<QPushButton>(&panel, "btnConfig")->minimumHeight(), 30);
    QCOMPARE(child<QLabel>(&panel, "labAirborneIndex")->minimumWidth(), 90);
    QCOMPARE(child<QLabel>(&panel, "labAirborneIndex")->maximumWidth(), 90);
    QCOMPARE(child<QLabel>(&panel, "labTitle")->alignment(), Qt::AlignCenter);
    QCOMPARE(child<QLabel>(&panel, "labTipInfo")->alignment(), Qt::AlignCenter);
}

void TestRadioPanel::roles_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("idRow");
    QTest::addColumn<bool>("indexRow");
    QTest::addColumn<bool>("baudRow");
    QTest::addColumn<bool>("read");

    QTest::newRow("p2p ground") << 0 << 0 << 0 << "LabRadioOfGround" << true << false << true
                                << true;
    QTest::newRow("p2p airborne") << 0 << 1 << 1 << "LabRadioOfAirborne" << false << false << false
                                  << false;
    QTest::newRow("star ground") << 1 << 0 << 2 << "LabRadioOfGround" << true << false << false
                                 << false;
    QTest::newRow("star airborne")
        << 1 << 1 << 3 << "LabRadioOfAirborne" << false << true << false << false;
}

void TestRadioPanel::roles()
{
    QFETCH(int, netMode);
    QFETCH(int, role);
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(bool, idRow);
    QFETCH(bool, indexRow);
    QFETCH(bool, baudRow);
    QFETCH(bool, read);

    KcRadioConfigItemForm panel;
    panel.setupRole(0, netMode, role);
    QCOMPARE(panel.configKind(), kind);
    QCOMPARE(child<QLabel>(&panel, "labTitle")->text(), title);
    QCOMPARE(shown(&panel, "leRadioID"), idRow);
    QCOMPARE(shown(&panel, "btnGenerateRadioID"), idRow);
    QCOMPARE(shown(&panel, "labAirborneIndex"), indexRow);
    QCOMPARE(shown(&panel, "cmbAirborneIndex"), indexRow);
    QCOMPARE(shown(&panel, "labBaudRate"), baudRow);
    QCOMPARE(shown(&panel, "cmbBaudRate"), baudRow);
    QCOMPARE(shown(&panel, "btnRead"), read);
    QVERIFY(!shown(&panel, "btnEarse"));
    QVERIFY(!shown(&panel, "btnQuit"));
    QVERIFY(shown(&panel, "btnConfig"));
    QVERIFY(shown(&panel, "cmbSerialPort"));

    // A ground panel generates its ID; an airborne one waits for its ground's.
    const QString id = child<QLineEdit>(&panel, "leRadioID")->text();
    QCOMPARE(id.isEmpty(), role == 1);
    if (role == 0) {
        QCOMPARE(id.size(), 10);
        QVERIFY(id.toULongLong() >= 1000000000ULL && id.toULongLong() <= 4276732767ULL);
    }
}

void TestRadioPanel::radioTypeShowsBaudRateRow_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("role");
    for (int mode = 0; mode < 2; ++mode)
        for (int role = 0; role < 2; ++role)
            QTest::addRow("mode %d role %d", mode, role) << mode << role;
}

void TestRadioPanel::radioTypeShowsBaudRateRow()
{
    QFETCH(int, netMode);
    QFETCH(int, role);
    KcRadioConfigItemForm panel;
    panel.setupRole(0, netMode, role);
    panel.setRadioType(1);
    QCOMPARE(panel.radioType(), 1);
    QVERIFY(!shown(&panel, "cmbBaudRate"));
    QVERIFY(!shown(&panel, "labBaudRate"));
    panel.setRadioType(2);
    QVERIFY(shown(&panel, "cmbBaudRate"));
    QVERIFY(shown(&panel, "labBaudRate"));
    panel.setRadioType(0);
    QVERIFY(shown(&panel, "cmbBaudRate"));
}

void TestRadioPanel::airborneIndexPopup()
{
    // A hundred indexes: the pop-up shows fifteen at most and scrolls.
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 1, 1);
    panel.show();
    auto *index = child<QComboBox>(&panel, "cmbAirborneIndex");
    index->showPopup();
    QAbstractItemView *view = index->view();
    QVERIFY(view->isVisible());
    QVERIFY(view->window()->height() <= 16 * view->sizeHintForRow(0));
    QVERIFY(view->verticalScrollBar()->maximum() > 0);
    index->hidePopup();

    // Typing a number selects it (at any pace: the search is not cut short).
    const int interval = QApplication::keyboardInputInterval();
    QApplication::setKeyboardInputInterval(60 * 1000);
    QTest::keyClicks(index, "57");
    QApplication::setKeyboardInputInterval(interval);
    QCOMPARE(index->currentText(), QStringLiteral("57"));
}

void TestRadioPanel::portSearch_data()
{
    QTest::addColumn<QList<KcPortEntry>>("ports");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("busy one left out")
        << QList<KcPortEntry>{{"ttyUSB1", false}, {"ttyUSB0", true}, {"ttyACM0", false}}
        << QStringList{"ttyUSB1", "ttyACM0"};
    QTest::newRow("platform order and duplicates kept")
        << QList<KcPortEntry>{{"b", false}, {"a", false}, {"b", false}}
        << QStringList{"b", "a", "b"};
    QTest::newRow("all busy") << QList<KcPortEntry>{{"ttyUSB0", true}} << QStringList{};
    QTest::newRow("none") << QList<KcPortEntry>{} << QStringList{};
}

void TestRadioPanel::portSearch()
{
    QFETCH(QList<KcPortEntry>, ports);
    QFETCH(QStringList, listed);

    offer({{"stale", false}});
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);
    auto *list = child<QComboBox>(&panel, "cmbSerialPort");
    QCOMPARE(list->count(), 1);

    // The first search drops the stale port and selects the first; the
    // second keeps the port chosen since.
    offer(ports);
    for (int press = 0; press < 2; ++press) {
        child<QPushButton>(&panel, "btnSearch")->click();
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names << list->itemText(i);
        QCOMPARE(names, listed);
        QCOMPARE(list->currentText(),
                 press == 0 ? listed.value(0) : listed.value(listed.size() - 1));
        list->setCurrentIndex(list->count() - 1);
    }
    QCOMPARE(child<QLabel>(&panel, "labTipInfo")->text(), QString());
}

void TestRadioPanel::extraPortsFromEnvironment()
{
    // Only lists ports, and only those that exist; nothing is opened.
    VirtualClock &clock = VirtualClock::install();
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("radio-a"));
    const QString second = dir.filePath(QStringLiteral("radio-b"));
    QVERIFY(QFile(first).open(QIODevice::WriteOnly) && QFile(second).open(QIODevice::WriteOnly));
    qputenv("KC_EXTRA_SERIAL_PORTS",
            QStringLiteral("%1::%2:%3").arg(first, dir.filePath("gone"), second).toLocal8Bit());
    const QList<KcPortEntry> ports = KcRadioConfigItemForm::systemPorts();
    // Listed ahead on a worker thread, as the window does, for a panel set up next.
    KcRadioConfigItemForm::setPortLister(nullptr);
    KcRadioConfigItemForm::prefetchPorts();
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);
    auto *list = child<QComboBox>(&panel, "cmbSerialPort");
    // The named paths come after the USB adapters and before the on-board
    // ports: without an adapter the panel starts on the first of them.
    const QList<KcSerialPorts::Port> listed = KcSerialPorts::list();
    qunsetenv("KC_EXTRA_SERIAL_PORTS");
    int adapters = 0;
    while (adapters < listed.size() && listed.at(adapters).hasUsbIds)
        ++adapters;
    QVERIFY(ports.size() >= adapters + 2);
    QCOMPARE(ports.at(adapters).name, first);
    QCOMPARE(ports.at(adapters + 1).name, second);
    QVERIFY(!ports.at(adapters + 1).busy && ports.at(adapters + 1).fromSystem);
    if (adapters == 0)
        QCOMPARE(list->currentText(), first);
    QVERIFY(list->findText(second) >= 0);
    QCOMPARE(KcRadioConfigItemForm::systemPorts().size(), ports.size() - 2);

    // A named path that goes away while chosen is marked like an adapter, and
    // a configure on it is told the system's reason.
    qputenv("KC_EXTRA_SERIAL_PORTS", first.toLocal8Bit());
    list->setCurrentText(first);
    QVERIFY(QFile::remove(first));
    QVERIFY(clock.advanceBy(KcPortWatch::IntervalMs));
    qunsetenv("KC_EXTRA_SERIAL_PORTS");
    QCOMPARE(list->currentText(), first + " LabPortUnplugged");
    child<QPushButton>(&panel, "btnConfig")->click();
    auto *box = panel.findChild<QMessageBox *>();
    QVERIFY(box);
    QVERIFY(!box->informativeText().isEmpty());
    box->close();
}

void TestRadioPanel::portListFollowsAdapters_data()
{
    // Names ending in "~" did not come from the system; "radio" is a virtual
    // radio's port.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("configure"); // the change comes while the panel configures
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("current");

    QTest::newRow("an adapter appears and is selected")
        << QStringList{} << QString() << QStringList{"ttyUSB0", "ttyS0"} << false
        << QStringList{"ttyUSB0", "ttyS0"} << "ttyUSB0";
    QTest::newRow("the selected port goes away and is marked")
        << QStringList{"ttyUSB0", "ttyS0"} << "ttyUSB0" << QStringList{"ttyS0"} << false
        << QStringList{"ttyUSB0 LabPortUnplugged", "ttyS0"} << "ttyUSB0 LabPortUnplugged";
    QTest::newRow("a test's port is kept")
        << QStringList{"ttyUSB0", "/tmp/x~"} << "/tmp/x" << QStringList{"ttyUSB0"} << false
        << QStringList{"ttyUSB0", "/tmp/x"} << "/tmp/x";
    QTest::newRow("held while the panel configures")
        << QStringList{"radio~"} << "radio" << QStringList{"ttyUSB1", "radio~"} << true
        << QStringList{"ttyUSB1", "radio"} << "radio";
}

void TestRadioPanel::portListFollowsAdapters()
{
    QFETCH(QStringList, before);
    QFETCH(QString, selected);
    QFETCH(QStringList, after);
    QFETCH(bool, configure);
    QFETCH(QStringList, listed);
    QFETCH(QString, current);

    VirtualClock &clock = VirtualClock::install();
    VirtualRadio radio;
    QVERIFY(radio.start());
    const auto ports = [&](QStringList names) {
        QList<KcPortEntry> entries;
        for (QString name : names) {
            const bool fromSystem = !name.endsWith(QLatin1Char('~'));
            name.remove(QLatin1Char('~')).replace(QStringLiteral("radio"), radio.portPath());
            entries.append({name, false, {}, {}, {}, fromSystem});
        }
        return entries;
    };
    const auto shown = [](QComboBox *list) {
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names << list->itemText(i);
        return names;
    };
    offer(ports(before));
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);
    auto *list = child<QComboBox>(&panel, "cmbSerialPort");
    list->setCurrentText(selected.replace(QStringLiteral("radio"), radio.portPath()));
    const QStringList listedBefore = shown(list);

    offer(ports(after));
    if (configure) {
        child<QPushButton>(&panel, "btnConfig")->click();
        QVERIFY(clock.advanceBy(3 * KcPortWatch::IntervalMs));
        QCOMPARE(shown(list), listedBefore);
        QVERIFY(clock.runUntil([&] { return panel.isEnabled(); }));
    }
    QVERIFY(clock.advanceBy(KcPortWatch::IntervalMs));
    QCOMPARE(shown(list).replaceInStrings(radio.portPath(), QStringLiteral("radio")), listed);
    QCOMPARE(list->currentText().replace(radio.portPath(), QStringLiteral("radio")), current);
}

void TestRadioPanel::generateAndRelay()
{
    KcRadioConfigItemForm panel;
    QSignalSpy ids(&panel, &KcRadioConfigItemForm::sigGrdRadioIDChanged);
    QSignalSpy rates(&panel, &KcRadioConfigItemForm::sigGrdRadioBaudRateChanged);

    child<QPushButton>(&panel, "btnGenerateRadioID")->click();
    const QString id = child<QLineEdit>(&panel, "leRadioID")->text();
    QCOMPARE(id.size(), 10);
    QCOMPARE(ids.count(), 1);
    QCOMPARE(ids.last().at(0).toString(), id);

    QTest::keyClicks(child<QLineEdit>(&panel, "leRadioID"), "7");
    QCOMPARE(ids.count(), 2);
    QCOMPARE(ids.last().at(0).toString(), id + "7");

    child<QComboBox>(&panel, "cmbBaudRate")->setCurrentIndex(2);
    QCOMPARE(rates.count(), 1);
    QCOMPARE(rates.last().at(0).toInt(), 2);
}

void TestRadioPanel::handOverSlots()
{
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 1);
    panel.onGrdRadioIDChanged(QStringLiteral("12a"));
    QCOMPARE(child<QLineEdit>(&panel, "leRadioID")->text(), QStringLiteral("12a"));
    panel.onGrdRadioIDChanged(QString());
    QCOMPARE(child<QLineEdit>(&panel, "leRadioID")->text(), QString());
    panel.onGrdRadioBaudRateChanged(2);
    QCOMPARE(child<QComboBox>(&panel, "cmbBaudRate")->currentText(), QStringLiteral("230400"));
}

void TestRadioPanel::leaveCommandMode()
{
    VirtualClock &clock = VirtualClock::install();
    // An echoing radio: "ATA" comes back and must not stay behind for the
    // next configuration on this panel to be judged on.
    VirtualRadio::Options options;
    options.echo = true;
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    offer({{radio.portPath(), false}});
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);

    // "ATA" at once; the port is released one second later.
    QVERIFY(QMetaObject::invokeMethod(&panel, "on_btnQuit_clicked"));
    QVERIFY(!panel.isEnabled());
    QVERIFY(panel.link()->isPortOpen());
    const qint64 pressedAt = clock.now();
    QVERIFY(VirtualClock::settle());
    QCOMPARE(radio.rawReceived(), QByteArray("ATA\r"));
    QVERIFY(clock.runUntil([&] { return panel.isEnabled(); }));
    QCOMPARE(clock.now() - pressedAt, qint64(1000));
    QVERIFY(!panel.link()->hasPort());
    QCOMPARE(radio.rawReceived(), QByteArray("ATA\r"));
    QCOMPARE(child<QLabel>(&panel, "labTipInfo")->text(), QString());
    QVERIFY(panel.link()->recvBuffer().isEmpty());
    QCOMPARE(panel.link()->lastCmd(), QString());
}

void TestRadioPanel::leaveCommandModeWithoutPort()
{
    KcRadioConfigItemForm panel;
    panel.setupRole(0, 0, 0);
    QVERIFY(QMetaObject::invokeMethod(&panel, "on_btnQuit_clicked"));
    QVERIFY(panel.isEnabled());
    QVERIFY(!panel.link()->hasPort());
}

QTEST_MAIN(TestRadioPanel)
#include "tst_radiopanel.moc"
