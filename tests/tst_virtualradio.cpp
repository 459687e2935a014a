#include "virtualair.h"
#include "virtualclock.h"
#include "virtualradio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const QByteArray NoCarrierAnswer("\r\nNO CARRIER\r\nOK\r\n");
const QByteArray GreetingAnswer("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n");
const QByteArray OkAnswer("\r\nOK\r\n");
const QByteArray ErrorAnswer("\r\nERROR\r\n");
const QByteArray ConnectAnswer("\r\nCONNECT 115200\r\n");

// The tool's side of the line: a QSerialPort on the pty slave that gathers
// everything it reads.
class ToolPort
{
public:
    ToolPort(const QString &path, int rate)
    {
        mPort.setPortName(path);
        mPort.setBaudRate(rate);
        QObject::connect(&mPort, &QSerialPort::readyRead, &mPort,
                         [this] { received += mPort.readAll(); });
    }
    bool open() { return mPort.open(QIODevice::ReadWrite); }
    void close() { mPort.close(); }
    bool reopenAt(int rate)
    {
        mPort.close();
        mPort.setBaudRate(rate);
        return open();
    }
    void send(const QByteArray &bytes) { mPort.write(bytes); }
    QSerialPort &port() { return mPort; }

    QByteArray received;

private:
    QSerialPort mPort;
};

// Waits for something that comes in real time (a telemetry stream, an error
// of the tool's port), polling in 1 ms steps.
template <typename Condition> bool waitFor(Condition condition, int timeoutMs = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(1);
    }
    return true;
}

// Lets the radio read everything the tool wrote and the tool everything the
// radio wrote.
bool settle()
{
    return VirtualClock::settle();
}

} // namespace

class TestVirtualRadio : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<VirtualRadio> mRadio;
    std::unique_ptr<ToolPort> mTool;

    // A started radio with the tool's port open at the radio's rate.
    bool plugIn(const VirtualRadio::Options &options = VirtualRadio::Options())
    {
        mTool.reset();
        mRadio = std::make_unique<VirtualRadio>(options);
        if (!mRadio->start())
            return false;
        mTool = std::make_unique<ToolPort>(mRadio->portPath(), options.baudRate);
        return mTool->open();
    }

    // Sends one command; true when the radio has recorded it.
    bool sendAndWaitRecorded(const QByteArray &bytes)
    {
        const int before = mRadio->transcript().size();
        mTool->send(bytes);
        return settle() && mRadio->transcript().size() > before;
    }

    // Sends a command; true when exactly the expected answer came back.
    bool exchange(const QByteArray &command, const QByteArray &answer)
    {
        mTool->received.clear();
        mTool->send(command);
        return settle() && mTool->received == answer;
    }

    bool enterCommandMode() { return exchange("+++", NoCarrierAnswer); }

private slots:
    void cleanup()
    {
        mTool.reset();
        mRadio.reset();
    }

    void startOpensPseudoTerminal()
    {
        VirtualRadio radio;
        QVERIFY(radio.isUnplugged());
        QVERIFY(radio.start());
        QVERIFY(!radio.isUnplugged());
        QVERIFY(radio.portPath().startsWith(QLatin1String("/dev/pts/")));
        QVERIFY(QFile::exists(radio.portPath()));
        QVERIFY(!radio.inCommandMode());
        QCOMPARE(radio.registers().value(102), QStringLiteral("1"));
        QCOMPARE(radio.registers().value(104), QStringLiteral("0"));
        QCOMPARE(radio.storedRegisters(), radio.registers());
    }

    void escapeAnswer_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no carrier")
            << int(VirtualRadio::EscapeAnswer::NoCarrier) << NoCarrierAnswer;
        QTest::newRow("greeting") << int(VirtualRadio::EscapeAnswer::Greeting) << GreetingAnswer;
        QTest::newRow("ok only") << int(VirtualRadio::EscapeAnswer::OkOnly) << OkAnswer;
        QTest::newRow("silence") << int(VirtualRadio::EscapeAnswer::Silence) << QByteArray();
    }

    void escapeAnswer()
    {
        QFETCH(int, answer);
        QFETCH(QByteArray, expected);
        VirtualRadio::Options options;
        options.escapeAnswer = VirtualRadio::EscapeAnswer(answer);
        QVERIFY(plugIn(options));

        QVERIFY(sendAndWaitRecorded("+++"));
        QCOMPARE(mTool->received, expected);
        QVERIFY(mRadio->inCommandMode());
        QCOMPARE(mRadio->commands(), QList<QByteArray>{"+++"});

        // A second escape finds the radio in command mode already.
        QVERIFY(exchange("+++", OkAnswer));
        QVERIFY(mRadio->inCommandMode());
    }

    void wrongLineSpeedIsNotHeard_data()
    {
        QTest::addColumn<int>("radioRate");
        QTest::addColumn<int>("toolRate");
        QTest::newRow("radio 115200, tool 9600") << 115200 << 9600;
        QTest::newRow("radio 115200, tool 230400") << 115200 << 230400;
        QTest::newRow("radio 9600, tool 115200") << 9600 << 115200;
        QTest::newRow("radio 230400, tool 57600") << 230400 << 57600;
    }

    void wrongLineSpeedIsNotHeard()
    {
        QFETCH(int, radioRate);
        QFETCH(int, toolRate);
        VirtualRadio::Options options;
        options.baudRate = radioRate;
        options.echo = true;
        mRadio = std::make_unique<VirtualRadio>(options);
        QVERIFY(mRadio->start());
        mTool = std::make_unique<ToolPort>(mRadio->portPath(), toolRate);
        QVERIFY(mTool->open());
        QCOMPARE(mRadio->currentLineSpeed(), toolRate);

        QVERIFY(sendAndWaitRecorded("+++"));
        QVERIFY(mTool->received.isEmpty());
        QVERIFY(!mRadio->inCommandMode());
        QCOMPARE(mRadio->rawReceived(), QByteArray("+++"));
        QCOMPARE(mRadio->transcript().size(), 1);
        QCOMPARE(mRadio->transcript().at(0).lineSpeed, toolRate);
        QVERIFY(!mRadio->transcript().at(0).understood);

        // The speed is taken when the bytes arrive: reopened at the radio's
        // rate, the tool is heard.
        QVERIFY(mTool->reopenAt(radioRate));
        QVERIFY(exchange("+++", "+++" + NoCarrierAnswer));
        QVERIFY(mRadio->inCommandMode());
        QCOMPARE(mRadio->transcript().size(), 2);
        QCOMPARE(mRadio->transcript().at(1).lineSpeed, radioRate);
        QVERIFY(mRadio->transcript().at(1).understood);
    }

    void currentLineSpeed_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("9600") << 9600;
        QTest::newRow("115200") << 115200;
        QTest::newRow("230400") << 230400;
        QTest::newRow("28800 (no Bxxx constant)") << 28800;
    }

    void currentLineSpeed()
    {
        QFETCH(int, rate);
        VirtualRadio radio;
        QVERIFY(radio.start());
        ToolPort tool(radio.portPath(), rate);
        QVERIFY(tool.open());
        QCOMPARE(radio.currentLineSpeed(), rate);
    }

    void setRegister_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("reg");
        QTest::addColumn<QString>("value");

        auto ok = [](const char *name, int reg, const char *value) {
            QTest::newRow(name) << QByteArray(name) << OkAnswer << reg << QString(value);
        };
        auto error = [](const char *name, int reg, const char *unchanged) {
            QTest::newRow(name) << QByteArray(name) << ErrorAnswer << reg << QString(unchanged);
        };
        ok("ATS104=4294967295", 104, "4294967295");
        error("ATS104=4294967296", 104, "0");
        error("ATS104=12a", 104, "0");
        error("ATS104=", 104, "0");
        error("ATS104=-1", 104, "0");
        error("ATS104= 5", 104, "0");
        error("ATS104=12345678901", 104, "0");
        ok("ATS104=0000012345", 104, "0000012345");
        ok("ATS104=00567", 104, "00567");
        ok("ATS104=12345", 104, "12345");
        ok("ATS102=0", 102, "0");
        ok("ATS102=14", 102, "14");
        error("ATS102=15", 102, "1");
        ok("ATS103=9", 103, "9");
        error("ATS103=10", 103, "0");
        ok("ATS105=101", 105, "101");
        ok("ATS105=255", 105, "255");
        error("ATS105=256", 105, "1");
        ok("ATS113=3", 113, "3");
        error("ATS113=10", 113, "0");
        ok("ATS200=65535", 200, "65535");
        error("ATS200=65536", 200, "");
        ok("ATS999=7", 999, "7");
        error("ATS1000=7", 1000, "");
        error("ATS=7", 104, "0");
        error("ATSx=7", 104, "0");
        error("ATS104", 104, "0");
        error("ATX", 104, "0");
        error("HELLO", 104, "0");
        ok("AT", 104, "0");
    }

    void setRegister()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        QFETCH(int, reg);
        QFETCH(QString, value);
        QVERIFY(plugIn());
        QVERIFY(enterCommandMode());

        QVERIFY(exchange(command + '\r', answer));
        QCOMPARE(mRadio->registers().value(reg), value);
        QCOMPARE(mRadio->transcript().last().bytes, command + '\r');
    }

    void registerQuery()
    {
        QVERIFY(plugIn());
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("ATS104=305\r", OkAnswer));
        QVERIFY(exchange("ATS104?\r", "\r\n305\r\nOK\r\n"));
        QVERIFY(exchange("ATS1000?\r", ErrorAnswer));
    }

    void preset_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("preset");
        QTest::newRow("AT&F6") << QByteArray("AT&F6") << 6;
        QTest::newRow("AT&F7") << QByteArray("AT&F7") << 7;
        QTest::newRow("AT&F8") << QByteArray("AT&F8") << 8;
        QTest::newRow("AT&F10") << QByteArray("AT&F10") << 10;
        QTest::newRow("AT&F11") << QByteArray("AT&F11") << 11;
        QTest::newRow("AT&F") << QByteArray("AT&F") << 0;
    }

    void preset()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, preset);
        QVERIFY(plugIn());
        QVERIFY(enterCommandMode());
        const QMap<int, QString> defaults = mRadio->registers();

        QVERIFY(exchange("ATS104=305\r", OkAnswer));
        QVERIFY(exchange("ATS102=7\r", OkAnswer));
        QVERIFY(exchange("AT&W\r", OkAnswer));
        QCOMPARE(mRadio->storedRegisters().value(104), QStringLiteral("305"));

        QVERIFY(exchange(command + '\r', OkAnswer));
        QCOMPARE(mRadio->loadedPreset(), preset);
        QCOMPARE(mRadio->registers(), defaults);
        // Loading a preset leaves the stored settings alone until AT&W.
        QCOMPARE(mRadio->storedRegisters().value(104), QStringLiteral("305"));
        QVERIFY(exchange("AT&W\r", OkAnswer));
        QCOMPARE(mRadio->storedRegisters(), defaults);
    }

    void presetOutOfRange()
    {
        QVERIFY(plugIn());
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("AT&F123\r", ErrorAnswer));
        QVERIFY(exchange("AT&Fx\r", ErrorAnswer));
        QCOMPARE(mRadio->loadedPreset(), -1);
    }

    void settingsListing()
    {
        QVERIFY(plugIn());
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("AT&F7\r", OkAnswer));
        QVERIFY(exchange("ATS102=7\r", OkAnswer));
        QVERIFY(exchange("ATS104=305\r", OkAnswer));
        QVERIFY(exchange("AT&V\r", "\r\nS101=0 S102=7 S103=0 S104=305\r\n S105=1 S108=30 S110=1 "
                                   "S113=0\r\nOK\r\n"));

        // Built from the current registers, whatever set them.
        mRadio->setRegister(104, QStringLiteral("00567"));
        mTool->received.clear();
        mTool->send("AT&V\r");
        QVERIFY(settle());
        QVERIFY(mTool->received.endsWith("OK\r\n"));
        const QByteArray listing = mTool->received;
        const int at = listing.indexOf("S104");
        QVERIFY(at >= 0);
        QByteArray token = listing.mid(at, listing.indexOf(' ', at) - at);
        token = token.left(token.indexOf("\r\n"));
        QCOMPARE(token, QByteArray("S104=00567"));
        QVERIFY(listing.contains("S102=7 "));
    }

    void ata_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("changesRate");
        QTest::addColumn<int>("rateAfter");
        QTest::newRow("code 0 -> 230400") << 0 << true << 230400;
        QTest::newRow("code 7 -> 9600") << 7 << true << 9600;
        QTest::newRow("code 1 -> 115200") << 1 << true << 115200;
        QTest::newRow("code 14 -> 300") << 14 << true << 300;
        QTest::newRow("code 0, rate kept") << 0 << false << 115200;
    }

    void ata()
    {
        QFETCH(int, code);
        QFETCH(bool, changesRate);
        QFETCH(int, rateAfter);
        VirtualRadio::Options options;
        options.ataChangesRate = changesRate;
        QVERIFY(plugIn(options));
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("ATS102=" + QByteArray::number(code) + '\r', OkAnswer));

        QVERIFY(exchange("ATA\r", ConnectAnswer));
        QVERIFY(!mRadio->inCommandMode());
        QCOMPARE(mRadio->baudRate(), rateAfter);

        if (rateAfter != 115200) {
            mTool->received.clear();
            QVERIFY(sendAndWaitRecorded("+++"));
            QVERIFY(mTool->received.isEmpty());
            QVERIFY(!mRadio->transcript().last().understood);
            QVERIFY(mTool->reopenAt(rateAfter));
        }
        QVERIFY(enterCommandMode());
    }

    void okBeforeConnect()
    {
        VirtualRadio::Options options;
        options.okBeforeConnect = true;
        QVERIFY(plugIn(options));
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("ATA\r", OkAnswer + ConnectAnswer));
        QVERIFY(!mRadio->inCommandMode());
    }

    void dataModeLinesAreData()
    {
        QVERIFY(plugIn());
        QVERIFY(sendAndWaitRecorded("ATS104=5\r"));
        QVERIFY(sendAndWaitRecorded("AT&V\r"));
        QVERIFY(mTool->received.isEmpty());
        QCOMPARE(mRadio->registers().value(104), QStringLiteral("0"));
        QCOMPARE(mRadio->commands(), (QList<QByteArray>{"ATS104=5\r", "AT&V\r"}));
        QVERIFY(mRadio->transcript().at(1).understood);
    }

    void lineFeedsAreIgnored()
    {
        QVERIFY(plugIn());
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("AT&W\r\n", OkAnswer));
        QVERIFY(exchange("ATS104=7\r\n", OkAnswer));
        QCOMPARE(mRadio->registers().value(104), QStringLiteral("7"));
        QCOMPARE(mRadio->commands(), (QList<QByteArray>{"+++", "AT&W\r", "ATS104=7\r"}));
        QCOMPARE(mRadio->rawReceived(), QByteArray("+++AT&W\r\nATS104=7\r\n"));
    }

    void echo()
    {
        VirtualRadio::Options options;
        options.echo = true;
        QVERIFY(plugIn(options));
        QVERIFY(exchange("+++", "+++" + NoCarrierAnswer));
        QVERIFY(exchange("AT&W\r", "AT&W\r" + OkAnswer));
        QVERIFY(exchange("ATA\r", "ATA\r" + ConnectAnswer));

        mRadio->setEcho(false);
        QVERIFY(exchange("+++", NoCarrierAnswer));
    }

    void chunkedReplies()
    {
        VirtualRadio::Options options;
        options.chunkSize = 4;
        options.chunkGapMs = 20;
        QVERIFY(plugIn(options));

        int arrivals = 0;
        QObject::connect(&mTool->port(), &QSerialPort::readyRead, &mTool->port(),
                         [&] { ++arrivals; });
        QElapsedTimer timer;
        timer.start();
        mTool->send("+++");
        QVERIFY(settle());
        // 18 bytes in 5 pieces, 20 ms apart.
        QVERIFY2(timer.elapsed() >= 60, QByteArray::number(timer.elapsed()));
        QVERIFY2(arrivals >= 3, QByteArray::number(arrivals));
        QCOMPARE(mTool->received, NoCarrierAnswer);

        // Two replies queued at once keep their order.
        mTool->received.clear();
        QVERIFY(exchange("AT&W\rATX\r", OkAnswer + ErrorAnswer));
    }

    void answerLimit()
    {
        VirtualRadio::Options options;
        options.answerLimit = 2;
        options.echo = true;
        QVERIFY(plugIn(options));
        QVERIFY(exchange("+++", "+++" + NoCarrierAnswer));
        QVERIFY(exchange("AT&W\r", "AT&W\r" + OkAnswer));

        mTool->received.clear();
        QVERIFY(sendAndWaitRecorded("ATS104=9\r"));
        QVERIFY(sendAndWaitRecorded("+++"));
        QVERIFY(mTool->received.isEmpty());
        QCOMPARE(mRadio->transcript().size(), 4);
        QVERIFY(mRadio->transcript().last().understood);
        // A hung radio does not act on what it no longer answers.
        QCOMPARE(mRadio->registers().value(104), QStringLiteral("0"));
    }

    void unplugRemovesPath()
    {
        QVERIFY(plugIn());
        const QString path = mRadio->portPath();
        QVERIFY(QFile::exists(path));
        QVERIFY(!mRadio->isUnplugged());

        mRadio->unplug();
        QVERIFY(mRadio->isUnplugged());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(mRadio->currentLineSpeed(), 0);
        // Like a pulled adapter: the tool's port reports an error.
        QVERIFY(waitFor([&] { return mTool->port().error() != QSerialPort::NoError; }));
        mRadio->unplug(); // twice is harmless
    }

    void newRadioAvoidsVanishedNumber()
    {
        // The tool of a vanished radio may keep retrying its path; a new
        // radio must not appear under it, although the kernel would hand out
        // the freed number first.
        VirtualRadio vanishing;
        QVERIFY(vanishing.start());
        const QString vanished = vanishing.portPath();
        vanishing.unplug();
        QVERIFY(!QFile::exists(vanished));

        VirtualRadio next;
        QVERIFY(next.start());
        QVERIFY(next.portPath() != vanished);
        ToolPort tool(next.portPath(), 115200);
        QVERIFY2(tool.open(), qPrintable(tool.port().errorString()));
    }

    void newRadioAvoidsLockedNumber()
    {
        // A serial-port lock file held by a live process makes a port
        // unopenable for the tool, so a new radio skips that number.
        QString lockDirectory;
        for (const char *directory :
             {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp"}) {
            const QFileInfo info{QString::fromLatin1(directory)};
            if (info.isDir() && info.isReadable() && info.isWritable()) {
                lockDirectory = info.filePath();
                break;
            }
        }
        QVERIFY(!lockDirectory.isEmpty());
        auto radio = std::make_unique<VirtualRadio>();
        QVERIFY(radio->start());
        const QString locked = radio->portPath();
        QLockFile lock(lockDirectory + QLatin1String("/LCK..") +
                       locked.mid(5).replace(QLatin1Char('/'), QLatin1Char('_')));
        QVERIFY(lock.tryLock(0));
        radio.reset(); // closed without vanishing: only the lock keeps the number back

        VirtualRadio next;
        QVERIFY(next.start());
        QVERIFY(next.portPath() != locked);
        lock.unlock();
    }

    void unplugAfterCommands()
    {
        VirtualRadio::Options options;
        options.unplugAfterCommands = 2;
        QVERIFY(plugIn(options));
        const QString path = mRadio->portPath();
        QSignalSpy spy(mRadio.get(), &VirtualRadio::commandReceived);

        QVERIFY(enterCommandMode());
        QVERIFY(!mRadio->isUnplugged());
        mTool->send("ATS104=5\r");
        QVERIFY(settle());
        QVERIFY(mRadio->isUnplugged());
        QVERIFY(!QFile::exists(path));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(mRadio->commands(), (QList<QByteArray>{"+++", "ATS104=5\r"}));
        // The last command was carried out before the line went.
        QCOMPARE(mRadio->registers().value(104), QStringLiteral("5"));
    }

    void telemetryStreamsInDataMode()
    {
        VirtualRadio::Options options;
        options.telemetryBytesPerSecond = 20000;
        QVERIFY(plugIn(options));

        // 6000 bytes are 300 ms of the stream. The radio makes up for a late
        // tick of up to 200 ms, so a late wake-up does not slow it down.
        QElapsedTimer timer;
        timer.start();
        QVERIFY(waitFor([&] { return mRadio->telemetryBytesSent() >= 6000; }));
        QVERIFY2(timer.elapsed() >= 200 && timer.elapsed() <= 750,
                 QByteArray::number(timer.elapsed()) + " ms for 6000 bytes");
        const QByteArray stream = mTool->received;
        QCOMPARE(mRadio->droppedBytes(), qint64(0));
        QVERIFY(mRadio->telemetryBytesSent() >= stream.size());

        for (const char *token :
             {"OK", "NO CARRIER", "Welcome", "CONNECT", "ATA", "V300", "Radio", "S102", "S104"})
            QVERIFY2(!stream.contains(token), token);

        // Every whole frame is "$TLM,<seq>,..." with a valid checksum and
        // consecutive sequence numbers.
        const QRegularExpression frame(
            QStringLiteral("^\\$(TLM,(\\d+)(,-?\\d+)+)\\*([0-9a-f]{2})$"));
        const QList<QByteArray> lines = stream.split('\n');
        QVERIFY(lines.size() > 10);
        qint64 lastSeq = -1;
        for (int i = 0; i + 1 < lines.size(); ++i) { // the last may be cut short
            QVERIFY(lines.at(i).endsWith('\r'));
            const QString line = QString::fromLatin1(lines.at(i).left(lines.at(i).size() - 1));
            const QRegularExpressionMatch match = frame.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            quint8 checksum = 0;
            for (const QChar c : match.captured(1))
                checksum ^= quint8(c.toLatin1());
            QCOMPARE(match.captured(4).toUInt(nullptr, 16), uint(checksum));
            const qint64 seq = match.captured(2).toLongLong();
            QVERIFY(lastSeq < 0 || seq == lastSeq + 1);
            lastSeq = seq;
        }

        // The escape stops the stream.
        mTool->send("+++");
        QVERIFY(settle());
        QVERIFY(mTool->received.endsWith(NoCarrierAnswer));
        mTool->received.clear();
        QTest::qWait(60);
        QVERIFY(mTool->received.isEmpty());

        // And ATA starts it again, after the whole CONNECT reply.
        mTool->send("ATA\r");
        QVERIFY(waitFor([&] { return mTool->received.size() > ConnectAnswer.size() + 100; }));
        QVERIFY(mTool->received.startsWith(ConnectAnswer + "$TLM,"));
    }

    void telemetryNeedsTheRadioRate()
    {
        VirtualRadio::Options options;
        options.telemetryBytesPerSecond = 20000;
        mRadio = std::make_unique<VirtualRadio>(options);
        QVERIFY(mRadio->start());
        mTool = std::make_unique<ToolPort>(mRadio->portPath(), 9600);
        QVERIFY(mTool->open());
        QTest::qWait(80);
        QVERIFY(mTool->received.isEmpty());
        QCOMPARE(mRadio->telemetryBytesSent(), qint64(0));

        QVERIFY(mTool->reopenAt(115200));
        QVERIFY(waitFor([&] { return mTool->received.contains("$TLM,"); }));

        mRadio->setTelemetryBytesPerSecond(0);
        QVERIFY(settle());
        mTool->received.clear();
        QTest::qWait(60);
        QVERIFY(mTool->received.isEmpty());
    }

    void transcriptAndSignals()
    {
        QVERIFY(plugIn());
        QSignalSpy spy(mRadio.get(), &VirtualRadio::commandReceived);
        QVERIFY(mTool->reopenAt(9600));
        QVERIFY(sendAndWaitRecorded("+++"));
        QVERIFY(mTool->reopenAt(115200));
        QVERIFY(enterCommandMode());
        QVERIFY(exchange("AT&W\r", OkAnswer));

        QCOMPARE(mRadio->commands(), (QList<QByteArray>{"+++", "+++", "AT&W\r"}));
        QCOMPARE(mRadio->rawReceived(), QByteArray("++++++AT&W\r"));
        const QList<VirtualRadio::Received> transcript = mRadio->transcript();
        QCOMPARE(transcript.at(0).lineSpeed, 9600);
        QVERIFY(!transcript.at(0).understood);
        QCOMPARE(transcript.at(2).lineSpeed, 115200);
        QVERIFY(transcript.at(2).understood);
        QVERIFY(transcript.at(0).msecs <= transcript.at(1).msecs);
        QVERIFY(transcript.at(1).msecs <= transcript.at(2).msecs);

        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("+++"));
        QCOMPARE(spy.at(0).at(1).toInt(), 9600);
        QCOMPARE(spy.at(2).at(0).toByteArray(), QByteArray("AT&W\r"));
        QCOMPARE(spy.at(2).at(1).toInt(), 115200);

        mRadio->clearTranscript();
        QVERIFY(mRadio->transcript().isEmpty());
        QVERIFY(mRadio->rawReceived().isEmpty());
    }

    void unsolicitedIgnoresLineSpeed()
    {
        VirtualRadio radio;
        QVERIFY(radio.start());
        ToolPort tool(radio.portPath(), 9600);
        QVERIFY(tool.open());
        radio.sendUnsolicited(GreetingAnswer);
        QVERIFY(settle());
        QCOMPARE(tool.received, GreetingAnswer);
    }

    void survivesGarbage_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<int>("chunkSize");
        QTest::addColumn<int>("telemetry");
        QTest::newRow("plain") << false << 0 << 0;
        QTest::newRow("echo, chunks") << true << 7 << 0;
        QTest::newRow("telemetry") << false << 0 << 50000;
    }

    void survivesGarbage()
    {
        QFETCH(bool, echo);
        QFETCH(int, chunkSize);
        QFETCH(int, telemetry);
        VirtualRadio::Options options;
        options.ataChangesRate = false;
        options.echo = echo;
        options.chunkSize = chunkSize;
        options.telemetryBytesPerSecond = telemetry;
        QVERIFY(plugIn(options));

        QRandomGenerator random(4711);
        QByteArray garbage(6000, 'x'); // a line far too long, without CR
        for (int i = 0; i < 20000; ++i) {
            const quint32 pick = random.bounded(10);
            garbage += pick == 0 ? '\r' : pick == 1 ? '+' : char(random.bounded(256));
        }
        garbage += QByteArray(5000, '+');
        const int total = garbage.size();
        mTool->send(garbage);
        QVERIFY(settle());
        QCOMPARE(mRadio->rawReceived().size(), total);

        // Whatever mode the garbage left it in, the radio still answers.
        QVERIFY(sendAndWaitRecorded("\r"));
        QVERIFY(sendAndWaitRecorded("+++"));
        QVERIFY(mRadio->inCommandMode());
        QVERIFY(
            exchange("ATS104=42\r", (echo ? QByteArray("ATS104=42\r") : QByteArray()) + OkAnswer));
        QCOMPARE(mRadio->registers().value(104), QStringLiteral("42"));
    }

    // Last: installs the virtual clock, which the functions above run without.
    void air_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("bytesPerSecond");
        QTest::addColumn<int>("bufferBytes");
        QTest::addColumn<QString>("listenerId"); // the sender holds 42
        QTest::addColumn<bool>("listenerInCommandMode");
        QTest::addColumn<QList<int>>("writes"); // sizes, each read on its own
        QTest::addColumn<int>("passedOut");     // by the listener
        QTest::addColumn<int>("lastArrivalMs"); // after the first write; -1: none
        QTest::newRow("same ID") << 5 << 0 << 4096 << "42" << false << QList<int>{100} << 100 << 5;
        QTest::newRow("the ID with zeros") << 5 << 0 << 4096 << "0042" << false << QList<int>{100}
                                           << 100 << 5;
        QTest::newRow("another ID") << 5 << 0 << 4096 << "43" << false << QList<int>{100} << 0 << -1;
        QTest::newRow("listener in command mode")
            << 5 << 0 << 4096 << "42" << true << QList<int>{100} << 0 << -1;
        QTest::newRow("1000 bytes/s: 100 ms on the air")
            << 5 << 1000 << 4096 << "42" << false << QList<int>{100} << 100 << 105;
        // The first write goes on the air, the second waits, the third finds
        // room for 10 of its bytes.
        QTest::newRow("send buffer overflows")
            << 0 << 1000 << 60 << "42" << false << QList<int>{50, 50, 50} << 110 << 110;
    }

    void air()
    {
        QFETCH(int, delayMs);
        QFETCH(int, bytesPerSecond);
        QFETCH(int, bufferBytes);
        QFETCH(QString, listenerId);
        QFETCH(bool, listenerInCommandMode);
        QFETCH(QList<int>, writes);
        QFETCH(int, passedOut);
        QFETCH(int, lastArrivalMs);
        VirtualClock &clock = VirtualClock::install();
        VirtualAir::Options options;
        options.delayMs = delayMs;
        options.bytesPerSecond = bytesPerSecond;
        options.sendBufferBytes = bufferBytes;
        VirtualAir air(options);
        VirtualRadio::Options listening;
        listening.startInCommandMode = listenerInCommandMode;
        VirtualRadio sender, listener(listening);
        QVERIFY(sender.start() && listener.start());
        sender.setRegister(104, QStringLiteral("42"));
        listener.setRegister(104, listenerId);
        air.attach(&sender);
        air.attach(&listener);
        ToolPort from(sender.portPath(), 115200), to(listener.portPath(), 115200);
        QVERIFY(from.open() && to.open());
        const qint64 start = clock.now();
        int total = 0;
        for (const int size : writes) {
            from.send(QByteArray(size, 'x'));
            QVERIFY(settle());
            total += size;
        }
        if (lastArrivalMs < 0) {
            QVERIFY(clock.advanceBy(1000));
            QVERIFY(to.received.isEmpty());
            return;
        }
        QVERIFY(clock.runUntil([&]() { return to.received.size() >= passedOut; }, 5000));
        QCOMPARE(clock.now() - start, qint64(lastArrivalMs));
        QCOMPARE(to.received, QByteArray(passedOut, 'x'));
        QCOMPARE(air.bytesOverflowed(), qint64(total - passedOut));
        QVERIFY(from.received.isEmpty()); // a radio does not hear itself
    }
};

QTEST_GUILESS_MAIN(TestVirtualRadio)
#include "tst_virtualradio.moc"
