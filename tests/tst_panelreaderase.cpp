// Reading a radio's ID and rate into the P2P pair, and erasing a radio, from
// the panel's side, against virtual radios on the virtual clock.
#include "configharness.h"
#include "kcradiocommandlink.h"
#include "kcradioconfigitemform.h"
#include "kcradioeraser.h"
#include "kcradioparamreader.h"
#include "mainwindow.h"
#include "translationloader.h"
#include "virtualradio.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

using namespace ConfigHarness;

Q_DECLARE_METATYPE(VirtualRadio::Options)

class TestPanelReadErase : public QObject
{
    Q_OBJECT

private slots:
    void readWithoutPortFailsAtOnce();
    void readFillsBothPanels_data();
    void readFillsBothPanels();
    void flagSelectsRate_data();
    void flagSelectsRate();
    void failedReadKeepsValues_data();
    void failedReadKeepsValues();
    void slowRadioBackInDataMode_data();
    void slowRadioBackInDataMode();
    void eraseResult_data();
    void eraseResult();
};

void TestPanelReadErase::readWithoutPortFailsAtOnce()
{
    WindowRig rig({}, {}); // no radio, no port
    KcRadioConfigItemForm *ground = rig.panel();
    const QString id = idOf(ground);

    child<QPushButton>(ground, "btnRead")->click();
    // The open failure arrives before the click returns.
    QCOMPARE(tipOf(ground), QStringLiteral("MsgSerialPortOpenFailed"));
    QCOMPARE(child<QLabel>(ground, "labReason")->text(), QString());
    QVERIFY(ground->isEnabled());
    QCOMPARE(idOf(ground), id);
    // A read is not a configuration: the pair and the window see nothing.
    QVERIFY(rig.log().isEmpty());
    QCOMPARE(enabledSelectionControls(rig.window()), 4);
}

void TestPanelReadErase::readFillsBothPanels_data()
{
    QTest::addColumn<QString>("s102");
    QTest::addColumn<QString>("s104");
    QTest::addColumn<QString>("selected");
    QTest::newRow("305 at 115200") << "1"
                                   << "305"
                                   << "115200";
    QTest::newRow("230400") << "0"
                            << "4294967295"
                            << "230400";
    QTest::newRow("9600, leading zeros") << "7"
                                         << "00567"
                                         << "9600";
    QTest::newRow("38400 is not listed") << "3"
                                         << "42"
                                         << "9600";
}

void TestPanelReadErase::readFillsBothPanels()
{
    QFETCH(QString, s102);
    QFETCH(QString, s104);
    QFETCH(QString, selected);

    // The radio keeps its rate after "ATA", so both reads find it at once.
    VirtualRadio::Options options;
    options.ataChangesRate = false;
    WindowRig rig({options});
    QVERIFY(rig.ready());
    VirtualRadio &radio = rig.radio();
    radio.setRegister(102, s102);
    radio.setRegister(104, s104);
    KcRadioConfigItemForm *ground = rig.panel(0, 0);
    KcRadioConfigItemForm *air = rig.panel(0, 1);

    // Two reads in a row: both succeed, one reader serves them.
    for (int read = 0; read < 2; ++read) {
        child<QComboBox>(ground, "cmbBaudRate")->setCurrentIndex(0);
        child<QPushButton>(ground, "btnRead")->click();
        QVERIFY(!ground->isEnabled());
        QVERIFY(rig.clock().runUntil([&] { return ground->isEnabled(); }));
        QCOMPARE(tipOf(ground), QStringLiteral("MsgRadioIDReadSuccessfully"));
        QCOMPARE(idOf(ground), s104);
        QCOMPARE(idOf(air), s104);
        QCOMPARE(child<QComboBox>(ground, "cmbBaudRate")->currentText(), selected);
        QCOMPARE(child<QComboBox>(air, "cmbBaudRate")->currentText(), selected);
    }
    QCOMPARE(ground->findChildren<KcRadioParamReader *>().size(), 1);
    QVERIFY(radio.commands().contains("AT&V\r"));
    QCOMPARE(radio.commands().last(), QByteArray("ATA\r"));
}

void TestPanelReadErase::flagSelectsRate_data()
{
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("selected");
    QTest::newRow("0") << 0 << "230400";
    QTest::newRow("1") << 1 << "115200";
    QTest::newRow("7") << 7 << "9600";
    QTest::newRow("2 (57600) leaves it") << 2 << "230400";
    QTest::newRow("14 (300) leaves it") << 14 << "230400";
    QTest::newRow("fallback 115200") << 115200 << "115200";
    QTest::newRow("negative") << -1 << "115200";
    QTest::newRow("15") << 15 << "115200";
}

void TestPanelReadErase::flagSelectsRate()
{
    QFETCH(int, flag);
    QFETCH(QString, selected);
    WindowRig rig({}, {}); // no radio, no port
    MainWindow &window = rig.window();
    KcRadioConfigItemForm *ground = rig.panel();
    child<QComboBox>(ground, "cmbBaudRate")->setCurrentIndex(2);
    QVERIFY(QMetaObject::invokeMethod(ground, "onRadioIDReady", Q_ARG(bool, true),
                                      Q_ARG(QString, QStringLiteral("done")),
                                      Q_ARG(QString, QStringLiteral("305")), Q_ARG(int, flag)));
    QCOMPARE(child<QComboBox>(ground, "cmbBaudRate")->currentText(), selected);
    QCOMPARE(child<QComboBox>(panel(window, 0, 1), "cmbBaudRate")->currentText(), selected);
    QCOMPARE(idOf(ground), QStringLiteral("305"));
    QCOMPARE(tipOf(ground), QStringLiteral("done"));
}

void TestPanelReadErase::failedReadKeepsValues_data()
{
    QTest::addColumn<VirtualRadio::Options>("options");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("progress"); // the bar's last words
    VirtualRadio::Options silent, refusing, pulled, hanging, noId, dead, late, left, okOnly;
    silent.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    dead.answerLimit = 0;
    late.replyDelayMs = 2500;
    late.garbledAtOtherSpeeds = true;
    left.startInCommandMode = true;
    okOnly.escapeAnswer = VirtualRadio::EscapeAnswer::OkOnly;
    refusing.refuseCommand = noId.refuseCommand = "AT&V";
    noId.refusal = "\r\nS101=0 S102=1\r\nOK\r\n";
    pulled.unplugAfterCommands = 2; // with "AT&V"
    hanging.answerLimit = 1;
    const QString last = "Command 3 of 3, about 1 s left";
    // The radios that did not answer their escape in a way that enters
    // command mode are sent back to data mode before the port goes.
    const QString noAnswer = "Radio did not answer.\nCheck power, cable and port.";
    const QString back = "Was in command mode, now in data mode: configure again";
    const QString returning = "Returning the radio to data mode";
    QTest::newRow("dead radio") << dead << noAnswer
                                << "No answer to +++ at 115200, 230400 or 9600 baud" << returning;
    QTest::newRow("enters command mode silently") << silent << noAnswer << back << returning;
    // Its escape answer reaches the second escape, at the same rate; the
    // listing comes too late.
    QTest::newRow("answers 2.5 s late") << late << "Could not read the radio ID"
                                        << "No answer within 1 s to AT&V" << last;
    QTest::newRow("left in command mode") << left << noAnswer << back << returning;
    QTest::newRow("answers OK alone") << okOnly << noAnswer << back << returning;
    QTest::newRow("AT&V refused") << refusing << "Could not read the radio ID"
                                  << "The radio refused AT&V (ERROR)" << last;
    QTest::newRow("port lost") << pulled << "Could not read the radio ID"
                               << "Port <port> was lost (unplugged)" << QString();
    QTest::newRow("AT&V unanswered") << hanging << "Could not read the radio ID"
                                     << "No answer within 1 s to AT&V" << last;
    QTest::newRow("listing without ID") << noId << "Could not read the radio ID"
                                        << "The radio's settings hold no radio ID" << last;
}

void TestPanelReadErase::failedReadKeepsValues()
{
    QFETCH(VirtualRadio::Options, options);
    QFETCH(QString, tip);
    QFETCH(QString, reason);
    QFETCH(QString, progress);

    QTranslator words; // in the operator's words, so that the values show
    QMap<QString, QString> files;
    QVERIFY(loadTranslationFrom(*qApp, words, files, qEnvironmentVariable("KC_DICT_DIR"),
                                QStringLiteral("en_US")));
    WindowRig rig({options});
    QVERIFY(rig.ready());
    KcRadioConfigItemForm *ground = rig.panel();
    child<QComboBox>(ground, "cmbBaudRate")->setCurrentIndex(1);
    const QString id = idOf(ground);

    const int linesBefore = windowRecordLines().size();
    child<QPushButton>(ground, "btnRead")->click();
    // Seven escapes at most, then "AT&V" and "ATA" with their wait.
    QCOMPARE(child<QProgressBar>(ground, "barProgress")->maximum(), 9);
    QVERIFY(rig.clock().runUntil([&] { return ground->isEnabled(); }));
    QCOMPARE(tipOf(ground), tip);
    QCOMPARE(child<QLabel>(ground, "labReason")->text(),
             reason.replace("<port>", rig.radio().portPath()));
    if (!progress.isEmpty())
        QCOMPARE(child<QProgressBar>(ground, "barProgress")->format(), progress);
    QCOMPARE(idOf(ground), id);
    QCOMPARE(child<QComboBox>(ground, "cmbBaudRate")->currentText(), QStringLiteral("115200"));
    if (options.escapeAnswer == VirtualRadio::EscapeAnswer::Silence)
        QCOMPARE(rig.radio().commands().mid(0, 7), escapes(7));
    // Whatever the read came to, a radio it can still reach is in data mode,
    // and the read is recorded once.
    if (options.answerLimit < 0 && options.unplugAfterCommands < 0)
        QVERIFY(!rig.radio().inCommandMode());
    QCOMPARE(windowRecordLines().size(), linesBefore + 1);
}

void TestPanelReadErase::slowRadioBackInDataMode_data()
{
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<QString>("tip");
    QTest::newRow("listing just before the wait ends") << 950 << "MsgRadioIDReadSuccessfully";
    QTest::newRow("listing after the wait") << 1500 << "MsgRadioIDReadFailed";
}

void TestPanelReadErase::slowRadioBackInDataMode()
{
    QFETCH(int, replyDelayMs);
    QFETCH(QString, tip);
    VirtualRadio::Options options;
    options.replyDelayMs = replyDelayMs;
    WindowRig rig({options});
    QVERIFY(rig.ready());
    KcRadioConfigItemForm *ground = rig.panel();

    child<QPushButton>(ground, "btnRead")->click();
    QVERIFY(rig.clock().runUntil(
        [&] { return !ground->findChild<KcRadioParamReader *>()->link()->hasPort(); }));
    QCOMPARE(tipOf(ground), tip);
    // Whatever the read came to, the radio heard "ATA" at its own rate.
    QCOMPARE(rig.radio().commands().mid(1), (QList<QByteArray>{"AT&V\r", "ATA\r"}));
    QVERIFY(rig.radio().transcript().last().understood);
    QVERIFY(!rig.radio().inCommandMode());
}

void TestPanelReadErase::eraseResult_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<QString>("reason");
    QTest::newRow("echoing radio") << true << false << "MsgRadioEarseSuccessfully"
                                   << "";
    // It took the first escape without a word: sent back to data mode.
    QTest::newRow("silent radio") << false << true << "MsgRadioEarseFailed"
                                  << "LabReasonBackFromCommandMode";
}

void TestPanelReadErase::eraseResult()
{
    QFETCH(bool, echo);
    QFETCH(bool, silent);
    QFETCH(QString, tip);
    QFETCH(QString, reason);

    VirtualRadio::Options options;
    options.echo = echo;
    if (silent)
        options.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    WindowRig rig({options});
    QVERIFY(rig.ready());
    KcRadioConfigItemForm *ground = rig.panel();
    const QString id = idOf(ground);
    const int rate = child<QComboBox>(ground, "cmbBaudRate")->currentIndex();

    // The Erase button is hidden; its handling is still complete.
    QPushButton *erase = child<QPushButton>(ground, "btnEarse");
    QVERIFY(erase->isHidden());
    erase->click();
    QVERIFY(!ground->isEnabled());
    QVERIFY(rig.clock().runUntil([&] { return ground->isEnabled(); }));
    QCOMPARE(tipOf(ground), tip);
    QCOMPARE(child<QLabel>(ground, "labReason")->text(), reason);
    QCOMPARE(idOf(ground), id);
    QCOMPARE(child<QComboBox>(ground, "cmbBaudRate")->currentIndex(), rate);
    QCOMPARE(ground->findChildren<KcRadioEraser *>().size(), 1);
    if (!silent)
        QCOMPARE(rig.radio().registers().value(102), QStringLiteral("7"));
    QVERIFY(!rig.radio().inCommandMode());
}

QTEST_MAIN(TestPanelReadErase)
#include "tst_panelreaderase.moc"
