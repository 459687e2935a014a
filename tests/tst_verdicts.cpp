// The verdict of a configuration, through the real panel against virtual
// radios that behave like Hayes modems in different ways: a run succeeds
// exactly when every command up to "AT&W" was acknowledged and "ATA" was
// not refused, whatever the echo, the chunking and the line ends.
#include "configharness.h"
#include "kcradiocommandlink.h"
#include "kcradioconfigitemform.h"
#include "kcreplytracker.h"
#include "kcrunreport.h"
#include "virtualradio.h"

#include <QComboBox>
#include <QLineEdit>
#include <QtTest>

using namespace ConfigHarness;
using Answer = VirtualRadio::DataModeAnswer;

class TstVerdicts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { VirtualClock::install(); }
    void cleanupTestCase() { KcRadioConfigItemForm::setPortLister(nullptr); }
    void verdictByAcknowledgement_data();
    void verdictByAcknowledgement();
    void runReasonWords_data();
    void runReasonWords();
};

void TstVerdicts::verdictByAcknowledgement_data()
{
    QTest::addColumn<int>("kind"); // 0 P2P ground, 1 P2P airborne, 2 star ground, 3 star airborne
    QTest::addColumn<bool>("echo");
    QTest::addColumn<int>("ataAnswer");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<QByteArray>("lineEnd");
    // "<id>" stands for the radio ID; "|<answer>" replaces the answer "ERROR".
    QTest::addColumn<QByteArray>("refuse");
    QTest::addColumn<bool>("dataBeforeEscapeAnswer");
    QTest::addColumn<bool>("success");

    const QByteArray crlf("\r\n");
    const char *const kinds[] = {"p2p ground", "p2p airborne", "star ground", "star airborne"};
    for (int kind = 0; kind < 4; ++kind) {
        auto row = [&](const char *what) -> QTestData & {
            return QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(kinds[kind], what)))
                   << kind;
        };
        const int connect = int(Answer::Connect);
        row("plain radio") << false << connect << 0 << crlf << QByteArray() << false << true;
        row("echo") << true << connect << 0 << crlf << QByteArray() << false << true;
        row("ATA answered OK") << false << int(Answer::OkOnly) << 0 << crlf << QByteArray() << false
                               << true;
        row("ATA unanswered") << false << int(Answer::Silence) << 0 << crlf << QByteArray() << false
                              << true;
        row("1-byte pieces, echo") << true << connect << 1 << crlf << QByteArray() << false << true;
        row("3-byte pieces") << false << connect << 3 << crlf << QByteArray() << false << true;
        row("LF line ends") << false << connect << 0 << QByteArray("\n") << QByteArray() << false
                            << true;
        row("CR line ends, echo") << true << connect << 0 << QByteArray("\r") << QByteArray()
                                  << false << true;
        row("data text before the escape answer")
            << false << connect << 0 << crlf << QByteArray() << true << true;
        row("preset refused") << false << connect << 0 << crlf << QByteArray("AT&F*") << false
                              << false;
        row("ID refused, echo") << true << connect << 0 << crlf << QByteArray("ATS104=<id>")
                                << false << false;
        row("AT&W refused, 3-byte pieces")
            << false << connect << 3 << crlf << QByteArray("AT&W") << false << false;
        row("ATA refused") << false << connect << 0 << crlf << QByteArray("ATA") << false << false;
        row("everything refused, echo, data text")
            << true << connect << 0 << crlf << QByteArray("*") << true << false;
        // Bytes in a window, even "OK" inside a word, are no acknowledgement,
        // and an "ERROR" counts whatever came with it.
        row("ID unanswered, echo")
            << true << connect << 0 << crlf << QByteArray("ATS104=<id>|") << false << false;
        row("ID answered NOK") << false << connect << 0 << crlf
                               << QByteArray("ATS104=<id>|\r\nNOK\r\n") << false << false;
        row("AT&W answered TOKEN")
            << false << connect << 0 << crlf << QByteArray("AT&W|\r\nTOKEN\r\n") << false << false;
        row("AT&W answered OK and ERROR")
            << false << connect << 0 << crlf << QByteArray("AT&W|\r\nOK\r\nERROR\r\n") << false
            << false;
        // A line without an end is closed when the next command is written.
        row("no line ends") << false << connect << 0 << QByteArray() << QByteArray() << false
                            << true;
    }
}

void TstVerdicts::verdictByAcknowledgement()
{
    QFETCH(int, kind);
    QFETCH(bool, echo);
    QFETCH(int, ataAnswer);
    QFETCH(int, chunkSize);
    QFETCH(QByteArray, lineEnd);
    QFETCH(QByteArray, refuse);
    QFETCH(bool, dataBeforeEscapeAnswer);
    QFETCH(bool, success);

    KcRadioConfigItemForm form;
    const int netMode = kind / 2, role = kind % 2;
    const int radioType = 2; // MR300S: every register of every sequence
    QByteArray refused = refuse;
    refused.replace("<id>", "3141592653");
    if (refused == "AT&F*")
        refused =
            netMode == 0 ? (role == 0 ? "AT&F10" : "AT&F11") : (role == 0 ? "AT&F7" : "AT&F8");
    VirtualRadio::Options options;
    if (refused.contains('|')) {
        options.refusal = refused.mid(refused.indexOf('|') + 1);
        refused.truncate(refused.indexOf('|'));
    }
    options.refuseCommand = refused;
    options.echo = echo;
    options.ataAnswer = Answer(ataAnswer);
    options.chunkSize = chunkSize;
    options.lineEnd = lineEnd;
    if (dataBeforeEscapeAnswer)
        options.dataBeforeEscapeAnswer = "$MSG,DATA LINK UP\r\n";
    VirtualRadio radio(options);
    QVERIFY(radio.start());
    offerPorts({radio.portPath()});
    form.setupRole(radioType, netMode, role);
    child<QLineEdit>(&form, "leRadioID")->setText(QStringLiteral("3141592653"));

    QStringList log;
    recordSignals(&form, &log);
    QVERIFY(configure(&form, &log));
    const QString verdict = (role == 0 ? QStringLiteral("grd:") : QStringLiteral("air:")) +
                            (success ? QStringLiteral("true") : QStringLiteral("false"));
    QCOMPARE(log, QStringList({"start", verdict, "end"}));
    QCOMPARE(tipOf(&form), success ? QStringLiteral("LabRadioSetSuccessful")
                                   : QStringLiteral("LabRadioConfigFail"));
    // Every command went out, answered or not, and a radio that acknowledged
    // them holds what was sent.
    QCOMPARE(radio.commands().size(), kind == 3 ? 9 : 8);
    QCOMPARE(radio.commands().last(), QByteArray("ATA\r"));
    if (success)
        QCOMPARE(radio.storedRegisters().value(104), QStringLiteral("3141592653"));
    QVERIFY(form.link()->replies().windows().isEmpty());
}

// A window run's reason in the record: kcradio's sentence for the same cause,
// and for a stopped configuration what the acknowledged commands left.
void TstVerdicts::runReasonWords_data()
{
    QTest::addColumn<int>("cause");
    QTest::addColumn<QStringList>("acknowledged"); // StoppedAfter: the commands answered "OK"
    QTest::addColumn<bool>("back");                // a closing "ATA" was answered
    QTest::addColumn<QString>("english");
    using C = KcRunReason::Cause;
    const QString noAnswer = "no answer to the escape at 115200, 230400 or 9600";
    QTest::newRow("silent") << int(C::NoEscapeAnswer) << QStringList() << false << noAnswer;
    QTest::newRow("unreadable") << int(C::EscapeUnreadable) << QStringList() << false
                                << noAnswer + "; what came was not readable at the rate it came at";
    QTest::newRow("was in command mode")
        << int(C::NoEscapeAnswer) << QStringList() << true
        << noAnswer + "; the radio was in command mode and is back in data mode";
    QTest::newRow("refused") << int(C::CommandRefused) << QStringList() << false
                             << "ATS104=7 refused";
    QTest::newRow("port failed") << int(C::PortFailed) << QStringList() << false
                                 << "cannot open /dev/ttyUSB0: Permission denied";
    QTest::newRow("stopped before any") << int(C::StoppedAfter) << QStringList() << false
                                        << "stopped before the radio acknowledged a command: "
                                           "it holds its earlier settings";
    QTest::newRow("stopped after the preset")
        << int(C::StoppedAfter) << QStringList{"AT&F10"} << false
        << "stopped after AT&F10: the radio holds that preset's settings, not its earlier ones";
    QTest::newRow("stopped after a register")
        << int(C::StoppedAfter) << QStringList{"AT&F10", "ATS102=7"} << false
        << "stopped after ATS102=7: until it is powered off the radio holds the preset's "
           "settings with those sent up to ATS102=7, not its earlier ones";
    QTest::newRow("a link test's own words")
        << int(C::Custom) << QStringList() << false
        << "airborne /dev/ttyUSB1 received 75.8 % of the frames from ground /dev/ttyUSB0";
}

void TstVerdicts::runReasonWords()
{
    QFETCH(int, cause);
    QFETCH(QStringList, acknowledged);
    QFETCH(bool, back);
    QFETCH(QString, english);

    KcRunReason reason;
    reason.cause = KcRunReason::Cause(cause);
    reason.port = QStringLiteral("/dev/ttyUSB0");
    reason.systemError = QStringLiteral("Permission denied");
    reason.command = QStringLiteral("ATS104=7");
    reason.rates = {115200, 230400, 9600};
    reason.backFromCommandMode = back;
    if (reason.cause == KcRunReason::Cause::Custom) {
        reason.english = english;
        reason.words = QStringLiteral("Airborne received 75.8 % of the ground's frames");
    }
    if (reason.cause == KcRunReason::Cause::StoppedAfter) {
        // The radio answers the commands it acknowledged and then nothing.
        const QStringList sent{"AT&F10", "ATS102=7", "ATS103=0", "AT&W"};
        KcReplyTracker replies;
        for (const QString &command : sent) {
            replies.commandWritten(command);
            if (acknowledged.contains(command))
                replies.bytesReceived("\r\nOK\r\n");
        }
        reason.command = KcConfigSequence::lastAcknowledged(sent, replies);
    }
    QCOMPARE(reason.englishText(), english);
    // The window shows its own words, never the record's.
    QVERIFY(!KcRunReport::text(reason).isEmpty());
    QVERIFY(KcRunReport::text(reason) != english);
}

QTEST_MAIN(TstVerdicts)
#include "tst_verdicts.moc"
