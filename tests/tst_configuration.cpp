// Whole configurations through the main window against virtual radios, at
// the real intervals on the virtual clock: the bytes each radio receives, the
// tip lines, the signals and the enabled states of panels, arrow and
// selection controls.
#include "configharness.h"
#include "kcfleetrecord.h"
#include "kclinkview.h"
#include "kcradiocommandlink.h"
#include "kcradioconfigitemform.h"
#include "kcradioid.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcwindowrecord.h"
#include "mainwindow.h"
#include "translationloader.h"
#include "virtualair.h"
#include "virtualradio.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTranslator>
#include <QWindow>
#include <QtTest>

#include <csignal>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace ConfigHarness;

namespace {

constexpr int Tick = KcRadioTiming::DefaultCommandIntervalMs;

void setRadioType(MainWindow &window, int type)
{
    window.findChild<QComboBox *>(QStringLiteral("cmbDLType"))->setCurrentIndex(type);
}

void showPage(MainWindow &window, int netMode)
{
    window
        .findChild<QPushButton *>(netMode == 0 ? QStringLiteral("btnP2P")
                                               : QStringLiteral("btnStar"))
        ->click();
}

} // namespace

Q_DECLARE_METATYPE(VirtualRadio::Options)

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void pairConfiguredEndToEnd_data();
    void pairConfiguredEndToEnd();
    void radioRateFound_data();
    void radioRateFound();
    void verdictInThePair_data();
    void verdictInThePair();
    void entryGivenUp();
    void openFailureShowsBox_data();
    void openFailureShowsBox();
    void emptyPortListEndsQuietly();
    void radioIdRule_data();
    void radioIdRule();
    void entryRecognisedBeforeFirstEscape();
    void unpluggedMidRunEndsAtOnce_data();
    void unpluggedMidRunEndsAtOnce();
    void progressAndReason_data();
    void progressAndReason();
    void windowRecord_data();
    void windowRecord();
    void closeDuringRun_data();
    void closeDuringRun();
    void linkTest_data();
    void linkTest();
};

void TestConfiguration::pairConfiguredEndToEnd_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("radioType");
    QTest::addColumn<int>("baudIndex");
    QTest::addColumn<int>("airborneIndex");
    QTest::addColumn<QString>("groundCommands");
    QTest::addColumn<QString>("airborneCommands");

    const QString p2pTail = QStringLiteral("|ATS104=<id>|ATS113=%1|AT&W|ATA");
    QTest::newRow("p2p MR300 9600")
        << 0 << 0 << 0 << 1 << "+++|AT&F10|ATS102=7|ATS103=0" + p2pTail.arg(0)
        << "+++|AT&F11|ATS102=7|ATS103=0" + p2pTail.arg(0);
    QTest::newRow("p2p MR300 115200")
        << 0 << 0 << 1 << 1 << "+++|AT&F10|ATS102=1|ATS103=0" + p2pTail.arg(0)
        << "+++|AT&F11|ATS102=1|ATS103=0" + p2pTail.arg(0);
    QTest::newRow("p2p MR300 230400")
        << 0 << 0 << 2 << 1 << "+++|AT&F10|ATS102=0|ATS103=2" + p2pTail.arg(0)
        << "+++|AT&F11|ATS102=0|ATS103=2" + p2pTail.arg(0);
    QTest::newRow("p2p MR240 any rate")
        << 0 << 1 << 2 << 1 << "+++|AT&F6|ATS102=1|ATS103=1" + p2pTail.arg(0)
        << "+++|AT&F7|ATS102=1|ATS103=1" + p2pTail.arg(0);
    QTest::newRow("p2p MR300S 9600")
        << 0 << 2 << 0 << 1 << "+++|AT&F10|ATS102=7|ATS103=0" + p2pTail.arg(3)
        << "+++|AT&F11|ATS102=7|ATS103=0" + p2pTail.arg(3);
    QTest::newRow("p2p MR300S 230400")
        << 0 << 2 << 2 << 1 << "+++|AT&F10|ATS102=0|ATS103=2" + p2pTail.arg(3)
        << "+++|AT&F11|ATS102=0|ATS103=2" + p2pTail.arg(3);
    QTest::newRow("star MR300")
        << 1 << 0 << 0 << 1 << "+++|AT&F7|ATS102=1|ATS103=1|ATS113=0|ATS104=<id>|AT&W|ATA"
        << "+++|AT&F8|ATS102=1|ATS103=1|ATS113=0|ATS104=<id>|ATS105=2|AT&W|ATA";
    QTest::newRow("star MR240 index 100")
        << 1 << 1 << 0 << 100 << "+++|AT&F7|ATS102=1|ATS103=1|ATS113=0|ATS104=<id>|AT&W|ATA"
        << "+++|AT&F8|ATS102=1|ATS103=1|ATS113=0|ATS104=<id>|ATS105=101|AT&W|ATA";
    QTest::newRow("star MR300S index 37")
        << 1 << 2 << 2 << 37 << "+++|AT&F7|ATS102=1|ATS103=1|ATS113=3|ATS104=<id>|AT&W|ATA"
        << "+++|AT&F8|ATS102=1|ATS103=1|ATS113=3|ATS104=<id>|ATS105=38|AT&W|ATA";
}

void TestConfiguration::pairConfiguredEndToEnd()
{
    QFETCH(int, netMode);
    QFETCH(int, radioType);
    QFETCH(int, baudIndex);
    QFETCH(int, airborneIndex);
    QFETCH(QString, groundCommands);
    QFETCH(QString, airborneCommands);

    // A star airborne run needs nine positive replies: the airborne radio
    // answers "ATA" with "OK" before "CONNECT 115200".
    VirtualRadio::Options airOptions;
    airOptions.okBeforeConnect = true;
    WindowRig rig({VirtualRadio::Options(), airOptions});
    QVERIFY(rig.ready());
    MainWindow &window = rig.window();
    window.show();
    setRadioType(window, radioType);
    showPage(window, netMode);
    KcRadioConfigItemForm *ground = rig.panel(netMode, 0);
    KcRadioConfigItemForm *air = rig.panel(netMode, 1);
    child<QComboBox>(air, "cmbSerialPort")->setCurrentIndex(1);
    child<QComboBox>(ground, "cmbBaudRate")->setCurrentIndex(baudIndex);
    child<QComboBox>(air, "cmbAirborneIndex")->setCurrentIndex(airborneIndex - 1);
    const QString id = child<QLineEdit>(ground, "leRadioID")->text();
    QCOMPARE(child<QLineEdit>(air, "leRadioID")->text(), id);
    const QStringList &groundLog = rig.log(netMode, 0);
    const QStringList &airLog = rig.log(netMode, 1);

    // While the ground radio is being configured everything is locked.
    auto *button = ground->findChild<QPushButton *>(QStringLiteral("btnConfig"));
    button->click();
    QCOMPARE(tipOf(ground), QStringLiteral("LabSetting"));
    QVERIFY(!ground->isEnabled());
    QVERIFY(!air->isEnabled());
    QCOMPARE(enabledSelectionControls(window), 0);
    QVERIFY(rig.clock().runUntil([&] { return groundLog.contains(QStringLiteral("end")); }));

    QCOMPARE(groundLog, QStringList({"start", "grd:true", "end"}));
    QCOMPARE(tipOf(ground), QStringLiteral("LabRadioSetSuccessful"));
    QCOMPARE(understoodCommands(rig.radio(0)),
             QString(groundCommands).replace(QStringLiteral("<id>"), id).split(QLatin1Char('|')));
    QVERIFY(ground->isEnabled());
    QVERIFY(air->isEnabled());
    QVERIFY(arrow(window, netMode)->isEnabled());
    QCOMPARE(enabledSelectionControls(window), 4);
    QVERIFY(rig.clock().runUntil([&] { return !ground->link()->hasPort(); }));

    QVERIFY(rig.configure(netMode, 1));
    QCOMPARE(airLog, QStringList({"start", "air:true", "end"}));
    QCOMPARE(tipOf(air), QStringLiteral("LabRadioSetSuccessful"));
    QCOMPARE(understoodCommands(rig.radio(1)),
             QString(airborneCommands).replace(QStringLiteral("<id>"), id).split(QLatin1Char('|')));
    QVERIFY(ground->isEnabled());
    QVERIFY(air->isEnabled());
    QCOMPARE(enabledSelectionControls(window), 4);
    // The ground panel saw none of the airborne run.
    QCOMPARE(groundLog.size(), 3);
}

void TestConfiguration::radioRateFound_data()
{
    QTest::addColumn<int>("radioRate");
    QTest::addColumn<int>("escapesBeforeAnswer");
    QTest::newRow("115200") << 115200 << 0;
    QTest::newRow("230400") << 230400 << 1;
    QTest::newRow("9600") << 9600 << 2;
}

void TestConfiguration::radioRateFound()
{
    QFETCH(int, radioRate);
    QFETCH(int, escapesBeforeAnswer);

    VirtualRadio::Options options;
    options.baudRate = radioRate;
    WindowRig rig({options});
    QVERIFY(rig.ready());

    // The diagnostics show the exchange as kcradio does, with port and rate.
    const QString port = rig.radio().portPath() + QStringLiteral(" (%1 baud): ");
    QTest::ignoreMessage(QtInfoMsg, qPrintable(port.arg(115200) + "> +++ at 115200 baud"));
    QTest::ignoreMessage(QtInfoMsg, qPrintable(port.arg(radioRate) + "> AT&W"));
    // The escape's answer and each command's but that of "ATA" (CONNECT).
    for (int answer = 0; answer < 7; ++answer)
        QTest::ignoreMessage(
            QtInfoMsg, QRegularExpression('^' + QRegularExpression::escape(port.arg(radioRate)) +
                                          "< OK \\(\\d+ ms\\)$"));
    QVERIFY(rig.configure());
    QCOMPARE(rig.log(), QStringList({"start", "grd:true", "end"}));

    // Unanswered escapes at the other rates, then every command at the radio's.
    const QList<VirtualRadio::Received> transcript = rig.radio().transcript();
    QCOMPARE(transcript.size(), escapesBeforeAnswer + 8);
    const QList<int> rotation{115200, 230400, 9600};
    for (int i = 0; i < escapesBeforeAnswer; ++i) {
        QCOMPARE(transcript.at(i).bytes, QByteArray("+++"));
        QCOMPARE(transcript.at(i).lineSpeed, rotation.at(i));
        QVERIFY(!transcript.at(i).understood);
    }
    for (int i = escapesBeforeAnswer; i < transcript.size(); ++i) {
        QCOMPARE(transcript.at(i).lineSpeed, radioRate);
        QVERIFY(transcript.at(i).understood);
    }
    // One escape per interval; the first command one interval after the
    // answered escape, and so on to "ATA".
    for (int i = 0; i < transcript.size(); ++i)
        QCOMPARE(transcript.at(i).msecs, qint64(i + 1) * Tick);
}

void TestConfiguration::verdictInThePair_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("answerLimit");
    QTest::addColumn<QByteArray>("extraAfterAta");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("okBeforeConnect");
    QTest::addColumn<bool>("success");

    // Every command up to AT&W must be acknowledged; ATA may go unanswered,
    // and a stray "OK" after it changes nothing.
    QTest::newRow("p2p plain radio") << 0 << -1 << QByteArray() << false << false << true;
    QTest::newRow("p2p ATA unanswered") << 0 << 7 << QByteArray() << false << false << true;
    QTest::newRow("p2p stray OK after ATA")
        << 0 << -1 << QByteArray("\r\nOK\r\n") << false << false << true;
    QTest::newRow("p2p stops answering mid-run")
        << 0 << 3 << QByteArray() << false << false << false;
    QTest::newRow("p2p stops answering before AT&W, ATA echoed")
        << 0 << 5 << QByteArray("ATA") << false << false << false;
    QTest::newRow("star airborne echoing radio")
        << 1 << -1 << QByteArray() << true << false << true;
    QTest::newRow("star airborne, ATA unanswered")
        << 1 << 8 << QByteArray() << false << false << true;
}

void TestConfiguration::verdictInThePair()
{
    QFETCH(int, netMode);
    QFETCH(int, answerLimit);
    QFETCH(QByteArray, extraAfterAta);
    QFETCH(bool, echo);
    QFETCH(bool, okBeforeConnect);
    QFETCH(bool, success);

    VirtualRadio::Options options;
    options.answerLimit = answerLimit;
    options.echo = echo;
    options.okBeforeConnect = okBeforeConnect;
    WindowRig rig({VirtualRadio::Options(), options});
    QVERIFY(rig.ready());
    VirtualRadio &radio = rig.radio(1);
    showPage(rig.window(), netMode);

    // Star runs are judged on the airborne panel (nine replies), after the
    // ground radio has been configured.
    if (netMode == 1)
        QVERIFY(rig.configure(1, 0));
    const int role = netMode == 1 ? 1 : 0;
    KcRadioConfigItemForm *target = rig.panel(netMode, role);
    const QStringList &log = rig.log(netMode, role);
    child<QComboBox>(target, "cmbSerialPort")->setCurrentText(radio.portPath());

    // Replies the radio adds after "ATA": sent twice, 60 ms apart, each its
    // own chunk, well before the verdict.
    int extras = 0;
    connect(&radio, &VirtualRadio::commandReceived, this, [&](const QByteArray &command) {
        if (command == "ATA\r" && !extraAfterAta.isEmpty())
            for (int i = 0; i < 2; ++i)
                KcRadioTimer::singleShot(60 + 60 * i, &radio, [&]() {
                    radio.sendUnsolicited(extraAfterAta);
                    ++extras;
                });
    });

    QVERIFY(rig.configure(netMode, role));
    const QString roleName = netMode == 1 ? QStringLiteral("air") : QStringLiteral("grd");
    QCOMPARE(log, QStringList({"start", roleName + (success ? ":true" : ":false"), "end"}));
    QCOMPARE(tipOf(target), success ? QStringLiteral("LabRadioSetSuccessful")
                                    : QStringLiteral("LabRadioConfigFail"));
    QCOMPARE(extras, extraAfterAta.isEmpty() ? 0 : 2);
    // Every command still went out, answered or not.
    QCOMPARE(radio.commands().size(), netMode == 1 ? 9 : 8);
    QCOMPARE(radio.commands().last(), QByteArray("ATA\r"));
    // After a failed ground run the pair keeps its airborne panel locked.
    if (netMode == 0) {
        QCOMPARE(rig.panel(0, 1)->isEnabled(), success);
        QCOMPARE(arrow(rig.window(), 0)->isEnabled(), success);
    }
    QVERIFY(target->isEnabled());
    QVERIFY(target->link()->recvBuffer().isEmpty());
    QCOMPARE(target->link()->okCount(), 0);
}

void TestConfiguration::entryGivenUp()
{
    VirtualRadio::Options options;
    options.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    WindowRig rig({options});
    QVERIFY(rig.ready());
    KcRadioConfigItemForm *ground = rig.panel();

    const qint64 pressedAt = rig.clock().now();
    child<QPushButton>(ground, "btnConfig")->click();
    // The radio takes the first escape without a word.
    QVERIFY(rig.clock().runUntil([&] { return rig.radio().commands().size() == 1; }));
    QVERIFY(rig.radio().inCommandMode());
    // Six escapes one tick apart, the give-up shown at the seventh tick.
    QVERIFY(rig.clock().runUntil(
        [&] { return tipOf(ground) == QStringLiteral("MsgDatalinkEnterCmdModeFailed"); }));
    const qint64 verdictAt = rig.clock().now();
    QCOMPARE(verdictAt - pressedAt, qint64(7 * Tick));
    QCOMPARE(rig.radio().commands().mid(0, 6), escapes(6));
    // It gets "ATA" at each rate an escape went out at, the panel busy
    // until then.
    QVERIFY(!ground->isEnabled());
    QVERIFY(rig.clock().runUntil([&] { return rig.log().contains("end"); }));
    QVERIFY(rig.clock().now() - verdictAt <= 4000);
    QVERIFY(!rig.radio().inCommandMode());
    QCOMPARE(rig.log(), QStringList({"start", "end"}));
    QCOMPARE(tipOf(ground), QStringLiteral("MsgDatalinkEnterCmdModeFailed"));
    QCOMPARE(rig.radio().commands().mid(6), QList<QByteArray>({"ATA\r", "ATA\r", "ATA\r"}));
    QVERIFY(ground->isEnabled());
    QVERIFY(!rig.panel(0, 1)->isEnabled());
    QCOMPARE(enabledSelectionControls(rig.window()), 4);
    QVERIFY(rig.clock().runUntil([&] { return !ground->link()->hasPort(); }));
}

void TestConfiguration::openFailureShowsBox_data()
{
    QTest::addColumn<bool>("closeWindow"); // a close from the window manager, not OK
    QTest::newRow("OK") << false;
    QTest::newRow("window closed with the box up") << true;
}

void TestConfiguration::openFailureShowsBox()
{
    QFETCH(bool, closeWindow);
    const QString missing = QStringLiteral("/nonexistent/ttyKC0");
    WindowRig rig({}, {missing});
    rig.window().show();
    KcRadioConfigItemForm *ground = rig.panel();

    QVERIFY(rig.configure());
    QCOMPARE(rig.log(), QStringList({"start", "end", "grd:false"}));
    QMessageBox *box = openMessageBox();
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QStringLiteral("MsgError"));
    QCOMPARE(box->text(), "MsgOpenSerialPortFail [" + missing + "]");
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    if (closeWindow) {
        // As the window manager asks: through the window system, which drops
        // a close for a window that a modal box blocks.
        rig.window().windowHandle()->close();
        QVERIFY(rig.clock().runUntil([&] { return !rig.window().isVisible(); }));
        return;
    }
    box->button(QMessageBox::Ok)->click();
    QVERIFY(!openMessageBox());
    QCOMPARE(tipOf(ground), QString());
    QVERIFY(ground->isEnabled());
    QCOMPARE(enabledSelectionControls(rig.window()), 4);
}

void TestConfiguration::emptyPortListEndsQuietly()
{
    WindowRig rig({}, {}); // no radio, no port
    KcRadioConfigItemForm *air = rig.panel(1, 1);
    air->setEnabled(true);
    QVERIFY(rig.configure(1, 1));
    QCOMPARE(rig.log(1, 1), QStringList({"start", "end", "air:false"}));
    QVERIFY(!openMessageBox());
    QCOMPARE(tipOf(air), QString());
    QVERIFY(air->isEnabled());
}

void TestConfiguration::radioIdRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent"); // empty: refused

    // The rule itself is KcRadioId::acceptedDigits (tst_radioid); here the
    // panel sends the accepted digits, not the text, and a refusal stops the
    // run before the port is opened.
    QTest::newRow("leading zeros kept") << "00567"
                                        << "00567";
    QTest::newRow("white space around") << "  12 "
                                        << "12";
    QTest::newRow("one above the range") << "4294967296"
                                         << "";
}

void TestConfiguration::radioIdRule()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);

    WindowRig rig;
    QVERIFY(rig.ready());
    KcRadioConfigItemForm *ground = rig.panel(0, 0);
    KcRadioConfigItemForm *air = rig.panel(0, 1);
    child<QLineEdit>(ground, "leRadioID")->setText(typed);
    // The hand-over copies the text as typed, whatever it is.
    QCOMPARE(child<QLineEdit>(air, "leRadioID")->text(), typed);

    QVERIFY(rig.configure());
    if (sent.isEmpty()) {
        QCOMPARE(rig.log(), QStringList({"start", "end", "grd:false"}));
        QCOMPARE(tipOf(ground), QStringLiteral("LabIdExceeded"));
        QVERIFY(rig.clock().runUntil([&] { return !ground->link()->hasPort(); }));
        QVERIFY(rig.radio().commands().isEmpty());
    } else {
        QCOMPARE(rig.log(), QStringList({"start", "grd:true", "end"}));
        QVERIFY(rig.radio().commands().contains("ATS104=" + sent.toLatin1() + "\r"));
    }
    QVERIFY(ground->isEnabled());
    QCOMPARE(child<QLineEdit>(ground, "leRadioID")->text(), typed);
}

void TestConfiguration::entryRecognisedBeforeFirstEscape()
{
    // After a run that gave up, the last command is still the escape: a radio
    // that greets on its own before the first escape of the next run starts
    // the sequence at step 0, which writes the escape itself. The next run
    // opens at the rate of the last attempt, 9600, the radio's rate here.
    VirtualRadio::Options options;
    options.baudRate = 9600;
    options.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    WindowRig rig({options});
    QVERIFY(rig.ready());
    VirtualRadio &radio = rig.radio();
    KcRadioConfigItemForm *ground = rig.panel();
    QStringList &log = rig.log();
    QVERIFY(rig.configure());
    QCOMPARE(tipOf(ground), QStringLiteral("MsgDatalinkEnterCmdModeFailed"));

    radio.clearTranscript();
    radio.setEscapeAnswer(VirtualRadio::EscapeAnswer::NoCarrier);
    log.clear();
    ground->findChild<QPushButton *>(QStringLiteral("btnConfig"))->click();
    radio.sendUnsolicited("\r\nWelcome to the Data-link Radio\r\n");
    QVERIFY(rig.clock().runUntil([&] { return log.contains(QStringLiteral("end")); }));
    QCOMPARE(log, QStringList({"start", "grd:true", "end"}));
    const QStringList commands = understoodCommands(radio);
    QCOMPARE(commands.size(), 8);
    QCOMPARE(commands.first(), QStringLiteral("+++"));
    QCOMPARE(commands.at(1), QStringLiteral("AT&F10"));
    QCOMPARE(commands.last(), QStringLiteral("ATA"));
}

void TestConfiguration::unpluggedMidRunEndsAtOnce_data()
{
    QTest::addColumn<bool>("nodeGoneInEntry"); // else the adapter is pulled after 3 commands
    QTest::addColumn<int>("ticks");            // from the press to the end
    QTest::addColumn<QString>("recorded");     // the record's reason, <port> for the port
    // The run ends as the port goes, with the third command (escape at the
    // first tick, "AT&F10", "ATS102=7"): nothing more could reach the radio.
    QTest::newRow("pulled mid-run") << false << 3 << "port lost: <port>";
    // The node goes while the port is closed between two escapes: the next
    // rate's open fails, and the run ends there with the system's reason.
    QTest::newRow("node gone in entry")
        << true << 2 << "port lost: <port>: No such file or directory";
}

void TestConfiguration::unpluggedMidRunEndsAtOnce()
{
    QFETCH(bool, nodeGoneInEntry);
    QFETCH(int, ticks);
    QFETCH(QString, recorded);
    VirtualRadio::Options options;
    options.unplugAfterCommands = nodeGoneInEntry ? -1 : 3;
    options.baudRate = nodeGoneInEntry ? 9600 : 115200;
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyKC0"));
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    QVERIFY(QFile::link(radio.portPath(), node));
    WindowRig rig({}, {node});
    KcRadioConfigItemForm *ground = rig.panel();
    if (nodeGoneInEntry)
        connect(&radio, &VirtualRadio::commandReceived, this, [&]() { QFile::remove(node); });

    const qint64 pressedAt = rig.clock().now();
    QVERIFY(rig.configure());
    QCOMPARE(rig.log(), QStringList({"start", "grd:false", "end"}));
    QCOMPARE(rig.clock().now() - pressedAt, qint64(ticks * Tick));
    QCOMPARE(windowRecordLines().last().outcome, QStringLiteral("port-lost"));
    QCOMPARE(windowRecordLines().last().reason, recorded.replace("<port>", node));
    QCOMPARE(tipOf(ground), QStringLiteral("LabRadioConfigFail"));
    QVERIFY(ground->isEnabled());
    QVERIFY(rig.clock().runUntil([&] { return !ground->link()->hasPort(); }));
    QVERIFY(!rig.clock().runUntil([&] { return rig.log().size() > 3; }, 20 * Tick));
}

void TestConfiguration::progressAndReason_data()
{
    QTest::addColumn<VirtualRadio::Options>("options");
    // The bar as the radio receives each escape and command; empty: not looked at.
    QTest::addColumn<QStringList>("progress");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("outcome"); // the window record's word
    QTest::addColumn<int>("rate");        // ... and the rate the radio answered at

    const QList<int> rates{115200, 230400, 9600};
    auto attempt = [&](int k) {
        return QString("%1/14 Trying %2 baud, attempt %1 of 6").arg(k).arg(rates.at((k - 1) % 3));
    };
    QStringList answered{attempt(1), attempt(2)};
    for (int k = 2; k <= 8; ++k)
        answered
            << QString("%1/10 Command %2 of 8, about %3 s left").arg(k + 1).arg(k).arg(2 * (9 - k));
    const QStringList unanswered{attempt(1), attempt(2), attempt(3),
                                 attempt(4), attempt(5), attempt(6)};

    VirtualRadio::Options at230400, silent, refusing, fallsSilent, pulled, late, dead, left, okOnly;
    at230400.baudRate = 230400;
    silent.escapeAnswer = VirtualRadio::EscapeAnswer::Silence;
    dead.answerLimit = 0;
    left.startInCommandMode = true;
    okOnly.escapeAnswer = VirtualRadio::EscapeAnswer::OkOnly;
    refusing.refuseCommand = "ATS113=0";
    fallsSilent.answerLimit = 3;
    pulled.unplugAfterCommands = 4;
    late.replyDelayMs = 2500;
    late.garbledAtOtherSpeeds = true;
    QTest::newRow("radio at 230400") << at230400 << answered << ""
                                     << "configured" << 230400;
    QTest::newRow("silent radio") << dead << unanswered
                                  << "No answer to +++ at 115200, 230400 or 9600 baud"
                                  << "silent" << 0;
    // Radios that entered command mode without an answer that counts are
    // sent back to data mode, and the operator told so.
    const QString back = "Was in command mode, now in data mode: configure again";
    // The rate is the one at which the radio answered "ATA".
    QTest::newRow("enters command mode silently")
        << silent << unanswered << back << "silent" << 115200;
    QTest::newRow("left in command mode") << left << unanswered << back << "silent" << 115200;
    QTest::newRow("answers OK alone") << okOnly << unanswered << back << "silent" << 115200;
    QTest::newRow("refused") << refusing << QStringList() << "The radio refused ATS113=0 (ERROR)"
                             << "refused" << 115200;
    QTest::newRow("falls silent") << fallsSilent << QStringList()
                                  << "No answer within 2 s to ATS103=0"
                                  << "unanswered" << 115200;
    QTest::newRow("port lost") << pulled << QStringList() << "Port <port> was lost (unplugged)"
                               << "port-lost" << 115200;
    // Its answers reach the next rate's attempt, where they read as garbage.
    // Its answer to "ATA" comes too late as well: the radio is back in data
    // mode, but nothing readable says so.
    QTest::newRow("answers too late")
        << late << QStringList() << "Late, unreadable answer to +++ at 115200, 230400 or 9600 baud"
        << "silent" << 0;
}

void TestConfiguration::progressAndReason()
{
    QFETCH(VirtualRadio::Options, options);
    QFETCH(QStringList, progress);
    QFETCH(QString, reason);
    QFETCH(QString, outcome);
    QFETCH(int, rate);

    // In the operator's words, so that the values in them show.
    QTranslator words;
    QMap<QString, QString> files;
    QVERIFY(loadTranslationFrom(*qApp, words, files, qEnvironmentVariable("KC_DICT_DIR"),
                                QStringLiteral("en_US")));
    WindowRig rig({options});
    QVERIFY(rig.ready());
    rig.window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window()));
    const QSize size = rig.window().size();
    KcRadioConfigItemForm *ground = rig.panel();
    auto *bar = child<QProgressBar>(ground, "barProgress");
    auto *reasonLine = child<QLabel>(ground, "labReason");
    QStringList seen;
    connect(&rig.radio(), &VirtualRadio::commandReceived, this, [&]() {
        seen << QString("%1/%2 %3").arg(bar->value()).arg(bar->maximum()).arg(bar->text());
        // The window keeps its size while the run is under way. (A failure's
        // tip and reason may take more than their two lines each: the window
        // then grows to show them.)
        if (reasonLine->text().isEmpty())
            QCOMPARE(rig.window().size(), size);
    });

    const int linesBefore = windowRecordLines().size();
    QVERIFY(rig.configure());
    if (!progress.isEmpty())
        QCOMPARE(seen.mid(0, progress.size()), progress);
    QVERIFY(!bar->isVisible());
    QCOMPARE(reasonLine->text(), reason.replace("<port>", rig.radio().portPath()));
    QVERIFY(VirtualClock::settle());
    QCOMPARE(rig.window().width(), size.width());
    QVERIFY2(rig.window().height() <= 600, qPrintable(QString::number(rig.window().height())));
    QCOMPARE(windowRecordLines().size(), linesBefore + 1);
    QCOMPARE(windowRecordLines().last().outcome, outcome);
    QCOMPARE(windowRecordLines().last().rateFound, rate);
    // The record keeps kcradio's English words, whatever the window shows.
    QVERIFY(windowRecordLines().last().reason != reasonLine->text() || reason.isEmpty());
    // No run leaves a radio it can still reach in command mode.
    if (options.answerLimit < 0 && options.unplugAfterCommands < 0)
        QVERIFY(!rig.radio().inCommandMode());

    // The next run starts without the old reason.
    if (options.unplugAfterCommands < 0) {
        child<QPushButton>(ground, "btnConfig")->click();
        QCOMPARE(reasonLine->text(), QString());
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->text(), QStringLiteral("Starting"));
        QVERIFY(rig.clock().runUntil([&] { return ground->isEnabled(); }));
    }
}

void TestConfiguration::closeDuringRun_data()
{
    QTest::addColumn<QString>("button"); // the run
    QTest::addColumn<char>("closeBy");   // b: the Close button, w: the window manager, s: SIGTERM
    QTest::addColumn<QByteArray>("heardLast"); // the close comes once the radio heard this
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<QString>("outcome"); // the record's word
    QTest::addColumn<QString>("reason");  // ... and how its reason starts
    // The answer to "ATS102=7" may come before or after the close.
    const QString afterS102 = "stopped after AT";
    QTest::newRow("close during a configuration")
        << "btnConfig" << 'b' << QByteArray("ATS102=7\r") << 0 << "aborted" << afterS102;
    // The listing is still to come.
    QTest::newRow("close during a read")
        << "btnRead" << 'w' << QByteArray("AT&V\r") << 1500 << "read-aborted"
        << "";
    QTest::newRow("SIGTERM during a configuration")
        << "btnConfig" << 's' << QByteArray("ATS102=7\r") << 0 << "aborted" << afterS102;
    // The escape's answer comes after the wait for it: the radio is in
    // command mode all the same.
    QTest::newRow("close before a late escape answer")
        << "btnConfig" << 'b' << QByteArray("+++") << 1800 << "aborted"
        << "stopped before the radio acknowledged a command: it holds its earlier settings";
    QTest::newRow("read closed before a late escape answer")
        << "btnRead" << 'b' << QByteArray("+++") << 1800 << "read-aborted"
        << "";
    // The answer to "ATS102=7" comes after the release's "ATA".
    QTest::newRow("close after AT&F10 was acknowledged")
        << "btnConfig" << 'b' << QByteArray("ATS102=7\r") << 1500 << "aborted"
        << "stopped after AT&F10: the radio holds that preset's settings, not its earlier ones";
    QTest::newRow("close after AT&W was acknowledged")
        << "btnConfig" << 'b' << QByteArray("AT&W\r") << 0 << "configured"
        << "";
}

void TestConfiguration::closeDuringRun()
{
    QFETCH(QString, button);
    QFETCH(char, closeBy);
    QFETCH(QByteArray, heardLast);
    QFETCH(int, replyDelayMs);
    QFETCH(QString, outcome);
    QFETCH(QString, reason);
    VirtualRadio::Options options;
    options.replyDelayMs = replyDelayMs;
    WindowRig rig({options});
    QVERIFY(rig.ready());
    VirtualRadio &radio = rig.radio();
    MainWindow &window = rig.window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int linesBefore = windowRecordLines().size();

    child<QPushButton>(rig.panel(), button.toLatin1().constData())->click();
    QVERIFY(rig.clock().runUntil([&] { return radio.commands().contains(heardLast); }));
    QVERIFY(radio.inCommandMode());
    if (closeBy == 's') {
        window.closeOnInterrupt();
        std::raise(SIGTERM);
    } else if (closeBy == 'b') {
        child<QToolButton>(&window, "btnClose")->click();
    } else {
        window.close();
    }
    // The window stays while its radio is sent back to data mode, and no
    // panel starts anything meanwhile.
    QVERIFY(VirtualClock::settle());
    QVERIFY(window.isVisible());
    QVERIFY(!child<QPushButton>(rig.panel(), "btnConfig")->isEnabled());
    window.close(); // a second request while the first is under way
    QVERIFY(rig.clock().runUntil([&] { return !window.isVisible(); }));
    // When the window goes, the radio is in data mode and the run recorded.
    QVERIFY(!radio.inCommandMode());
    QCOMPARE(windowRecordLines().size(), linesBefore + 1);
    QCOMPARE(windowRecordLines().last().outcome, outcome);
    QVERIFY2(windowRecordLines().last().reason.startsWith(reason),
             qPrintable(windowRecordLines().last().reason));
    QCOMPARE(windowRecordLines().last().reason.isEmpty(), reason.isEmpty());
    // The rate the radio answered its escape at, also when it answered late.
    QCOMPARE(windowRecordLines().last().rateFound, 115200);
    // Nothing follows the release's "ATA".
    QVERIFY(rig.clock().advanceBy(20 * Tick));
    QCOMPARE(radio.commands().last(), QByteArray("ATA\r"));
    QCOMPARE(radio.commands().count("ATA\r"), 1);
    QCOMPARE(windowRecordLines().size(), linesBefore + 1);
}

void TestConfiguration::linkTest_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<QString>("airborneId"); // the ground radio holds 5
    QTest::addColumn<double>("loss");        // of the air
    // "dead": the ground stops hearing the air once the airborne radio sends;
    // "reads", "traffic": the window closes then.
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("outcome"); // the record's
    QTest::addColumn<QString>("verdict"); // how the status line starts
    QTest::newRow("a pair that links") << 0 << "5" << 0.0 << ""
                                       << "linked"
                                       << "The radios talk";
    QTest::newRow("different IDs, nothing sent") << 0 << "6" << 0.0 << ""
                                                 << "different-ids"
                                                 << "Different radio IDs: ground 5, airborne 6";
    QTest::newRow("20 % loss") << 0 << "5" << 0.2 << ""
                               << "not-linked"
                               << "Airborne received ";
    QTest::newRow("a dead direction") << 0 << "5" << 0.0 << "dead"
                                      << "not-linked"
                                      << "No frame from the airborne radio reached the ground";
    QTest::newRow("close during the reads") << 0 << "5" << 0.0 << "reads"
                                            << "link-aborted"
                                            << "";
    QTest::newRow("close during the traffic") << 0 << "5" << 0.0 << "traffic"
                                              << "link-aborted"
                                              << "";
    QTest::newRow("star, the index panel's radio") << 1 << "5" << 0.0 << ""
                                                   << "linked"
                                                   << "The radios talk";
}

void TestConfiguration::linkTest()
{
    QFETCH(int, netMode);
    QFETCH(QString, airborneId);
    QFETCH(double, loss);
    QFETCH(QString, event);
    QFETCH(QString, outcome);
    QFETCH(QString, verdict);
    QTranslator words;
    QMap<QString, QString> files;
    QVERIFY(loadTranslationFrom(*qApp, words, files, qEnvironmentVariable("KC_DICT_DIR"),
                                QStringLiteral("en_US")));
    WindowRig rig({VirtualRadio::Options(), VirtualRadio::Options()});
    QVERIFY(rig.ready());
    VirtualAir::Options airOptions;
    airOptions.seed = 30;
    airOptions.lossProbability = loss;
    VirtualAir air(airOptions);
    VirtualRadio &ground = rig.radio(0), &airborne = rig.radio(1);
    for (VirtualRadio *radio : {&ground, &airborne}) {
        air.attach(radio);
        radio->setRegister(102, QStringLiteral("1"));
    }
    ground.setRegister(104, QStringLiteral("5"));
    airborne.setRegister(104, airborneId);
    MainWindow &window = rig.window();
    showPage(window, netMode);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize size = window.size();
    child<QComboBox>(rig.panel(netMode, 1), "cmbSerialPort")->setCurrentText(airborne.portPath());
    auto *view = pairForm(window, netMode)->findChild<KcLinkView *>();
    auto *button = child<QPushButton>(view, "btnTestLink");
    QVERIFY(button->isEnabled());
    auto links = []() {
        QFile record(qEnvironmentVariable("KC_WINDOW_RECORD"));
        return KcFleetRecord::parse(record.open(QIODevice::ReadOnly) ? record.readAll() : "").links;
    };
    const int linesBefore = links().size();

    button->click();
    QCOMPARE(enabledSelectionControls(window), 0);
    QVERIFY(!rig.panel(netMode, 0)->isEnabled() && !button->isEnabled());
    if (event == QLatin1String("dead")) {
        QVERIFY(rig.clock().runUntil([&] { return airborne.rawReceived().contains('#'); }));
        air.detach(&ground);
    } else if (!event.isEmpty()) {
        QVERIFY(rig.clock().runUntil([&] {
            return event == QLatin1String("reads") ? ground.commands().contains("AT&V\r")
                                                   : airborne.airBytesPassedOut() > 10 * 32;
        }));
        window.close();
        QVERIFY(rig.clock().runUntil([&] { return !window.isVisible(); }));
        QVERIFY(!ground.inCommandMode() && !airborne.inCommandMode());
    }
    QVERIFY(rig.clock().runUntil([&] { return !view->isWorking(); }));
    QCOMPARE(links().size(), linesBefore + 1);
    const QJsonObject line = links().last();
    QCOMPARE(line["outcome"].toString(), outcome);
    QCOMPARE(line["source"].toString(), QStringLiteral("window"));
    QCOMPARE(line["radios"][1]["port"].toString(), airborne.portPath());
    if (!event.isEmpty() && event != QLatin1String("dead"))
        return;
    const QString status = child<QLabel>(view, "labLinkStatus")->text();
    QVERIFY2(status.startsWith(verdict), qPrintable(status));
    const QString result = child<QLabel>(view, "labLinkResult")->text();
    QCOMPARE(result.isEmpty() ? 0 : result.count(QLatin1Char('\n')) + 1,
             line["directions"].toArray().size());
    if (airborneId != QLatin1String("5"))
        QCOMPARE(ground.airBytesPassedOut() + airborne.airBytesPassedOut(), 0);
    // The delivery shows in the line of each direction.
    for (const QJsonValue &d : line["directions"].toArray())
        QVERIFY2(result.contains(QString::number(d["delivery"].toDouble() * 100, 'f', 1)),
                 qPrintable(result));
    QCOMPARE(enabledSelectionControls(window), 4);
    QVERIFY(rig.panel(netMode, 0)->isEnabled() && button->isEnabled());
    QCOMPARE(window.width(), size.width());
}

QTEST_MAIN(TestConfiguration)
#include "tst_configuration.moc"

void TestConfiguration::windowRecord_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("recordedMs"); // IDs "New" would draw in the next ms, recorded first
    QTest::addColumn<int>("runs");
    QTest::addColumn<QList<bool>>("noted"); // the reason line tells of the record after each run
    QTest::addColumn<int>("lines");         // the window's lines in the record at the end

    QTest::newRow("a configuration's line") << "" << 0 << 1 << QList<bool>{false} << 1;
    QTest::newRow("unwritable, said once")
        << "no folder" << 0 << 2 << QList<bool>{true, false} << 0;
    QTest::newRow("New avoids recorded IDs") << "" << 3000 << 1 << QList<bool>{false} << 1;
    // kcradio holds the record during the first run only: both lines go in.
    QTest::newRow("held by kcradio, written later")
        << "held" << 0 << 2 << QList<bool>{true, false} << 2;
    QTest::newRow("a pipe, never opened") << "pipe" << 0 << 1 << QList<bool>{true} << 0;
    QTest::newRow("a folder still to make") << "new folder" << 0 << 1 << QList<bool>{false} << 1;
    // Still held when the first retry comes: a later one writes the line.
    QTest::newRow("held past a retry") << "held past a retry" << 0 << 1 << QList<bool>{true} << 1;
}

void TestConfiguration::windowRecord()
{
    QFETCH(QString, setup);
    QFETCH(int, recordedMs);
    QFETCH(int, runs);
    QFETCH(QList<bool>, noted);
    QFETCH(int, lines);

    QTemporaryDir dir;
    // Under a plain file, the record's folder cannot be made.
    const QString path =
        dir.filePath(setup == QLatin1String("no folder")    ? QStringLiteral("file/record.jsonl")
                     : setup == QLatin1String("new folder") ? QStringLiteral("new/record.jsonl")
                                                            : QStringLiteral("record.jsonl"));
    QVERIFY(QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly));
    QLockFile kcradio(path + QStringLiteral(".lock"));
    if (setup.startsWith(QLatin1String("held")))
        QVERIFY(kcradio.tryLock(0));
    if (setup == QLatin1String("pipe")) {
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#else
        QSKIP("named pipes are a Unix matter");
#endif
    }
    QSet<quint64> recorded;
    if (recordedMs > 0) {
        QFile prefill(path);
        QVERIFY(prefill.open(QIODevice::WriteOnly));
        const auto now = quint32(QDateTime::currentMSecsSinceEpoch() & 0xffffffffULL);
        for (int ms = 0; ms < recordedMs; ++ms) {
            KcFleetRecordEntry entry;
            entry.id = QString::number(KcRadioId::generate(now + quint32(ms)));
            entry.outcome = QStringLiteral("configured");
            recorded.insert(entry.id.toULongLong());
            prefill.write(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n');
        }
    }
    const QByteArray previous = qgetenv("KC_WINDOW_RECORD");
    qputenv("KC_WINDOW_RECORD", path.toLocal8Bit());
    WindowRig rig({VirtualRadio::Options()});
    QVERIFY(rig.ready());
    KcRadioConfigItemForm *ground = rig.panel();
    child<QPushButton>(ground, "btnGenerateRadioID")->click();
    const QString id = idOf(ground);
    QVERIFY(!recorded.contains(id.toULongLong()));

    for (int run = 0; run < runs; ++run) {
        QVERIFY(rig.configure());
        QCOMPARE(tipOf(ground), QStringLiteral("LabRadioSetSuccessful"));
        QCOMPARE(child<QLabel>(ground, "labReason")->text().contains("LabRecordUnwritable"),
                 noted.at(run));
        if (setup == QLatin1String("held past a retry"))
            QVERIFY(rig.clock().advanceBy(KcWindowRecord::RetryIntervalMs));
        kcradio.unlock();
    }
    QVERIFY(rig.clock().advanceBy(KcWindowRecord::RetryIntervalMs));
    qputenv("KC_WINDOW_RECORD", previous);

    QFile file(path);
    // kcradio fleet reads the window's lines as its own.
    const KcFleetRecord::Contents contents = KcFleetRecord::parse(
        QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    QVERIFY(contents.problems.isEmpty());
    QCOMPARE(contents.entries.size(), recordedMs + lines);
    if (lines == 0)
        return;
    const KcFleetRecordEntry &line = contents.entries.last();
    QCOMPARE(line.source + line.network, QStringLiteral("window"));
    QCOMPARE(line.port, rig.radio().portPath());
    QCOMPARE(line.id, id);
    QCOMPARE(line.outcome, QStringLiteral("configured"));
    // A first run leaves the radio at the panel's rate, 9600.
    QCOMPARE(line.rateFound, runs == 1 ? 115200 : 9600);
    QCOMPARE(line.rateSet, 9600);
}
