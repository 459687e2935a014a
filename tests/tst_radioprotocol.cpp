// The AT command dialect: exact bytes of every command line, the preset and
// register rules of the configuration sequences, the S102 code table and the
// greeting test.

#include "kclinkframes.h"
#include "kcradioprotocol.h"

#include <QtTest>
#include <limits>

using namespace KcRadioProtocol;

namespace {

// A byte array of every byte of a literal, embedded zeros included.
template <int N> QByteArray rawBytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

} // namespace

class TestRadioProtocol : public QObject
{
    Q_OBJECT

private slots:
    void constants();
    void commandLine_data();
    void commandLine();
    void presetCmd_data();
    void presetCmd();
    void baudRateCodeFor_data();
    void baudRateCodeFor();
    void s103ValueFor_data();
    void s103ValueFor();
    void s113ValueFor_data();
    void s113ValueFor();
    void baudRateForCode_data();
    void baudRateForCode();
    void hasRadioBanner_data();
    void hasRadioBanner();
    void linkFrames_data();
    void linkFrames();
    void linkFigures_data();
    void linkFigures();
};

void TestRadioProtocol::constants()
{
    QCOMPARE(QByteArray(Escape), QByteArray("+++"));
    QCOMPARE(QByteArray(StoreCmd), QByteArray("AT&W"));
    QCOMPARE(QByteArray(ListSettingsCmd), QByteArray("AT&V"));
    QCOMPARE(QByteArray(DataModeCmd), QByteArray("ATA"));
    QCOMPARE(QByteArray(OkToken), QByteArray("OK"));
    QCOMPARE(QByteArray(NoCarrierToken), QByteArray("NO CARRIER"));
    QCOMPARE(QByteArray(ConnectToken), QByteArray("CONNECT 115200"));
}

void TestRadioProtocol::commandLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");

    // The escape goes out as its three bytes alone; everything else with one CR.
    QTest::newRow("escape") << QString::fromLatin1(Escape) << QByteArray("\x2b\x2b\x2b") << 3;
    QTest::newRow("AT&F10") << QStringLiteral("AT&F10") << QByteArray("AT&F10\x0d") << 7;
    QTest::newRow("AT&F11") << QStringLiteral("AT&F11") << QByteArray("AT&F11\r") << 7;
    QTest::newRow("AT&F6") << QStringLiteral("AT&F6") << QByteArray("AT&F6\x0d") << 6;
    QTest::newRow("AT&F7") << QStringLiteral("AT&F7") << QByteArray("AT&F7\r") << 6;
    QTest::newRow("AT&F8") << QStringLiteral("AT&F8") << QByteArray("AT&F8\r") << 6;
    QTest::newRow("store") << QString::fromLatin1(StoreCmd) << QByteArray("AT&W\r") << 5;
    QTest::newRow("list") << QString::fromLatin1(ListSettingsCmd) << QByteArray("AT&V\r") << 5;
    QTest::newRow("data mode") << QString::fromLatin1(DataModeCmd) << QByteArray("ATA\r") << 4;
    QTest::newRow("five-digit ID")
        << setRadioIdCmd(QStringLiteral("12345")) << QByteArray("ATS104=12345\r") << 13;
    QTest::newRow("ID as typed, leading zero kept")
        << setRadioIdCmd(QStringLiteral("007")) << QByteArray("ATS104=007\r") << 11;
    QTest::newRow("largest ID") << setRadioIdCmd(QStringLiteral("4294967295"))
                                << QByteArray("ATS104=4294967295\r") << 18;
    QTest::newRow("airborne index 100")
        << setAirborneIndexCmd(100) << QByteArray("ATS105=101\r") << 11;
    QTest::newRow("airborne index 1") << setAirborneIndexCmd(1) << QByteArray("ATS105=2\r") << 9;
    QTest::newRow("airborne index 9") << setAirborneIndexCmd(9) << QByteArray("ATS105=10\r") << 10;
    QTest::newRow("S102 code 0") << setBaudRateCodeCmd(0) << QByteArray("ATS102=0\r") << 9;
    QTest::newRow("S102 code 1") << setBaudRateCodeCmd(1) << QByteArray("ATS102=1\r") << 9;
    QTest::newRow("S102 code 7") << setBaudRateCodeCmd(7) << QByteArray("ATS102=7\r") << 9;
    QTest::newRow("S103 2") << setS103Cmd(2) << QByteArray("ATS103=2\r") << 9;
    QTest::newRow("S113 3") << setS113Cmd(3) << QByteArray("ATS113=3\r") << 9;
    QTest::newRow("S113 0") << setS113Cmd(0) << QByteArray("ATS113=0\r") << 9;
    QTest::newRow("generic register")
        << setRegisterCmd(120, QStringLiteral("5")) << QByteArray("ATS120=5\r") << 9;
}

void TestRadioProtocol::commandLine()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);

    const QByteArray line = KcRadioProtocol::commandLine(text);
    QCOMPARE(line, bytes);
    QCOMPARE(line.size(), length);
    // Never a line feed, and exactly one CR at the end of every non-escape line.
    QVERIFY(!line.contains('\n'));
    QCOMPARE(line.count('\r'), text == QLatin1String("+++") ? 0 : 1);
}

void TestRadioProtocol::presetCmd_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("radioType");
    QTest::addColumn<QString>("preset");

    const struct
    {
        int mode;
        int role;
        int type;
        const char *preset;
    } rows[] = {
        {P2P, Ground, MR300, "AT&F10"},   {P2P, Ground, MR240, "AT&F6"},
        {P2P, Ground, MR300S, "AT&F10"},  {P2P, Airborne, MR300, "AT&F11"},
        {P2P, Airborne, MR240, "AT&F7"},  {P2P, Airborne, MR300S, "AT&F11"},
        {Star, Ground, MR300, "AT&F7"},   {Star, Ground, MR240, "AT&F7"},
        {Star, Ground, MR300S, "AT&F7"},  {Star, Airborne, MR300, "AT&F8"},
        {Star, Airborne, MR240, "AT&F8"}, {Star, Airborne, MR300S, "AT&F8"},
    };
    for (const auto &row : rows) {
        QTest::addRow("mode %d role %d type %d", row.mode, row.role, row.type)
            << row.mode << row.role << row.type << QString::fromLatin1(row.preset);
    }
}

void TestRadioProtocol::presetCmd()
{
    QFETCH(int, netMode);
    QFETCH(int, role);
    QFETCH(int, radioType);
    QFETCH(QString, preset);

    QCOMPARE(KcRadioProtocol::presetCmd(netMode, role, radioType), preset);
}

void TestRadioProtocol::baudRateCodeFor_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("radioType");
    QTest::addColumn<int>("selectedCode");
    QTest::addColumn<int>("code");

    // P2P MR300 and MR300S write the operator's choice; MR240 and every star
    // sequence write 1.
    for (int selected : {0, 1, 7}) {
        QTest::addRow("P2P MR300 selected %d", selected)
            << int(P2P) << int(MR300) << selected << selected;
        QTest::addRow("P2P MR300S selected %d", selected)
            << int(P2P) << int(MR300S) << selected << selected;
        QTest::addRow("P2P MR240 selected %d", selected) << int(P2P) << int(MR240) << selected << 1;
        for (int type : {int(MR300), int(MR240), int(MR300S)})
            QTest::addRow("star type %d selected %d", type, selected)
                << int(Star) << type << selected << 1;
    }
}

void TestRadioProtocol::baudRateCodeFor()
{
    QFETCH(int, netMode);
    QFETCH(int, radioType);
    QFETCH(int, selectedCode);
    QFETCH(int, code);

    QCOMPARE(KcRadioProtocol::baudRateCodeFor(netMode, radioType, selectedCode), code);
}

void TestRadioProtocol::s103ValueFor_data()
{
    QTest::addColumn<int>("netMode");
    QTest::addColumn<int>("radioType");
    QTest::addColumn<int>("baudRateCode");
    QTest::addColumn<int>("value");

    QTest::newRow("P2P MR300 code 0") << int(P2P) << int(MR300) << 0 << 2;
    QTest::newRow("P2P MR300 code 1") << int(P2P) << int(MR300) << 1 << 0;
    QTest::newRow("P2P MR300 code 7") << int(P2P) << int(MR300) << 7 << 0;
    QTest::newRow("P2P MR300S code 0") << int(P2P) << int(MR300S) << 0 << 2;
    QTest::newRow("P2P MR300S code 1") << int(P2P) << int(MR300S) << 1 << 0;
    QTest::newRow("P2P MR300S code 7") << int(P2P) << int(MR300S) << 7 << 0;
    QTest::newRow("P2P MR240 code 0") << int(P2P) << int(MR240) << 0 << 1;
    QTest::newRow("P2P MR240 code 1") << int(P2P) << int(MR240) << 1 << 1;
    QTest::newRow("P2P MR240 code 7") << int(P2P) << int(MR240) << 7 << 1;
    for (int type : {int(MR300), int(MR240), int(MR300S)}) {
        for (int code : {0, 1, 7})
            QTest::addRow("star type %d code %d", type, code) << int(Star) << type << code << 1;
    }
}

void TestRadioProtocol::s103ValueFor()
{
    QFETCH(int, netMode);
    QFETCH(int, radioType);
    QFETCH(int, baudRateCode);
    QFETCH(int, value);

    QCOMPARE(KcRadioProtocol::s103ValueFor(netMode, radioType, baudRateCode), value);
}

void TestRadioProtocol::s113ValueFor_data()
{
    QTest::addColumn<int>("radioType");
    QTest::addColumn<int>("value");

    QTest::newRow("MR300") << int(MR300) << 0;
    QTest::newRow("MR240") << int(MR240) << 0;
    QTest::newRow("MR300S") << int(MR300S) << 3;
}

void TestRadioProtocol::s113ValueFor()
{
    QFETCH(int, radioType);
    QFETCH(int, value);

    QCOMPARE(KcRadioProtocol::s113ValueFor(radioType), value);
}

void TestRadioProtocol::baudRateForCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("rate");

    const int rates[] = {230400, 115200, 57600, 38400, 28800, 19200, 14400, 9600,
                         7200,   4800,   3600,  2400,  1200,  600,   300};
    for (int code = 0; code < int(sizeof(rates) / sizeof(rates[0])); ++code)
        QTest::addRow("code %d", code) << code << rates[code];
    // Any code outside the table stands for 115200.
    QTest::newRow("code -1") << -1 << 115200;
    QTest::newRow("code 15") << 15 << 115200;
    QTest::newRow("code 16") << 16 << 115200;
    QTest::newRow("code 115200") << 115200 << 115200;
    QTest::newRow("code INT_MIN") << std::numeric_limits<int>::min() << 115200;
    QTest::newRow("code INT_MAX") << std::numeric_limits<int>::max() << 115200;
}

void TestRadioProtocol::baudRateForCode()
{
    QFETCH(int, code);
    QFETCH(int, rate);

    QCOMPARE(KcRadioProtocol::baudRateForCode(code), rate);
}

void TestRadioProtocol::hasRadioBanner_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("banner");

    QTest::newRow("Welcome and Radio, no V300") << QByteArray("Welcome Radio") << true;
    QTest::newRow("Welcome and V300, no Radio") << QByteArray("Welcome V300") << true;
    QTest::newRow("Welcome, V300 and Radio")
        << QByteArray("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n") << true;
    QTest::newRow("Welcome alone") << QByteArray("\r\nWelcome\r\nOK\r\n") << false;
    QTest::newRow("V300 and Radio, no Welcome") << QByteArray("Radio V300\r\nOK\r\n") << false;
    QTest::newRow("words reversed, bytes between")
        << rawBytes("xxRadio\x00\xff\r\n--Welcome") << true;
    QTest::newRow("V300 first, binary between")
        << rawBytes("V300\x01\x02\x03\x00 telemetry \x7fWelcome") << true;
    QTest::newRow("greeting after telemetry")
        << QByteArray(1000, '\x55') + "Welcome" + QByteArray(500, '\xaa') + "V300" << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("lower case") << QByteArray("welcome radio v300") << false;
    QTest::newRow("Welcome split by a byte") << rawBytes("Wel\0come Radio") << false;
    QTest::newRow("NO CARRIER is not the greeting")
        << QByteArray("\r\nNO CARRIER\r\nOK\r\n") << false;
    QTest::newRow("Radi and V30 only") << QByteArray("Welcome Radi V30") << false;
}

void TestRadioProtocol::hasRadioBanner()
{
    QFETCH(QByteArray, buffer);
    QFETCH(bool, banner);

    QCOMPARE(KcRadioProtocol::hasRadioBanner(buffer), banner);
}

void TestRadioProtocol::linkFrames_data()
{
    // What arrives at a receiver, built from frames (direction, sequence);
    // then the intact frames and the corrupt ones it finds.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("intactSequences");
    QTest::addColumn<int>("corrupt");
    const QByteArray f0 = KcLinkFrameCoder::encode(3, 0);
    const QByteArray f1 = KcLinkFrameCoder::encode(3, 1);
    const QByteArray f2 = KcLinkFrameCoder::encode(3, 0xfffffffe);
    QByteArray flipped = f1;
    flipped[15] = flipped.at(15) == 'g' ? 'h' : 'g';
    QTest::newRow("three frames") << f0 + f1 + f2 << QList<int>{0, 1, -2} << 0;
    QTest::newRow("noise between frames")
        << "\r\nNO CARRIER\r\n" + f0 + "xyz" + f1 << QList<int>{0, 1} << 0;
    QTest::newRow("a frame cut short") << f0.left(20) + f1 << QList<int>{1} << 0;
    QTest::newRow("a flipped filler byte") << f0 + flipped + f2 << QList<int>{0, -2} << 1;
    QTest::newRow("a flipped CRC digit")
        << f0.left(31) + (f0.at(31) == '0' ? "1" : "0") << QList<int>{} << 1;
}

void TestRadioProtocol::linkFrames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, intactSequences);
    QFETCH(int, corrupt);
    // Fed a byte at a time and all at once, the same frames come out.
    for (const bool bytewise : {false, true}) {
        KcLinkFrameCoder coder;
        QList<KcLinkFrameCoder::Decoded> frames;
        if (bytewise)
            for (const char c : bytes)
                frames += coder.feed(QByteArray(1, c));
        else
            frames = coder.feed(bytes);
        QList<int> intact;
        int bad = 0;
        for (const KcLinkFrameCoder::Decoded &frame : frames) {
            if (frame.intact) {
                QCOMPARE(frame.direction, 3);
                intact << int(frame.sequence);
            } else {
                ++bad;
            }
        }
        QCOMPARE(intact, intactSequences);
        QCOMPARE(bad, corrupt);
    }
    // Never a byte that a radio or the tool could take for an escape or an
    // answer line.
    for (const QByteArray &frame :
         {KcLinkFrameCoder::encode(0, 0), KcLinkFrameCoder::encode(255, 12345)}) {
        QCOMPARE(frame.size(), KcLinkFrameCoder::FrameBytes);
        for (const char c : frame)
            QVERIFY(c > 0x20 && c < 0x7f && c != '+');
        QCOMPARE(frame.count('#'), 1);
    }
}

void TestRadioProtocol::linkFigures_data()
{
    // Frames sent, then the (sequence, sent at, received at) of each arrival,
    // the direction having started at 0 ms; a fourth value 1 marks it late,
    // a sequence of -1 is a corrupt frame.
    QTest::addColumn<int>("sent");
    QTest::addColumn<QList<QList<int>>>("arrivals");
    QTest::addColumn<QList<double>>("expected"); // received, lost, duplicated,
                                                 // out of order, delivery, p50, p95, max, first,
                                                 // corrupt, late, goodput at 1000 B/s offered
    QTest::newRow("all in order")
        << 4 << QList<QList<int>>{{0, 0, 10}, {1, 100, 120}, {2, 200, 230}, {3, 300, 340}}
        << QList<double>{4, 0, 0, 0, 1.0, 20, 40, 40, 10, 0, 0, 376};
    QTest::newRow("one lost, one twice, one late")
        << 5
        << QList<QList<int>>{{0, 0, 50}, {2, 200, 210}, {1, 100, 260}, {2, 200, 270}, {4, 400, 405}}
        << QList<double>{4, 1, 1, 1, 0.8, 10, 160, 160, 50, 0, 0, 316};
    QTest::newRow("nothing came") << 7 << QList<QList<int>>{}
                                  << QList<double>{0, 7, 0, 0, 0.0, -1, -1, -1, -1, 0, 0, 0};
    // Sent = received + corrupt + lost: a corrupt frame is not lost as well.
    QTest::newRow("two corrupt, one lost")
        << 6 << QList<QList<int>>{{0, 0, 5}, {-1}, {2, 64, 69}, {-1}, {5, 160, 165}}
        << QList<double>{3, 1, 0, 0, 0.5, 5, 5, 5, 5, 2, 0, 500};
    QTest::newRow("late frames are received")
        << 3 << QList<QList<int>>{{0, 0, 1500, 1}, {1, 32, 1532, 1}, {2, 64, 1564, 1}}
        << QList<double>{3, 0, 0, 0, 1.0, 1500, 1500, 1500, 1500, 0, 3, 61};
    // One frame ahead of the load: 4 frames in 96 ms still make 1000 B/s.
    QTest::newRow("at the offered load")
        << 4 << QList<QList<int>>{{0, 0, 2}, {1, 0, 34}, {2, 32, 66}, {3, 96, 98}}
        << QList<double>{4, 0, 0, 0, 1.0, 2, 34, 34, 2, 0, 0, 1000};
    QList<QList<int>> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.append({i, i * 10, i * 10 + i + 1});
    QTest::newRow("twenty, latencies 1..20")
        << 20 << twenty << QList<double>{20, 0, 0, 0, 1.0, 10, 19, 20, 1, 0, 0, 1000};
}

void TestRadioProtocol::linkFigures()
{
    QFETCH(int, sent);
    QFETCH(QList<QList<int>>, arrivals);
    QFETCH(QList<double>, expected);
    KcLinkTally tally;
    tally.setSent(sent, KcLinkFrameCoder::FrameBytes);
    for (const QList<int> &arrival : arrivals) {
        if (arrival.at(0) < 0)
            tally.corrupt();
        else
            tally.received(quint32(arrival.at(0)), arrival.at(1), arrival.at(2), 0,
                           arrival.value(3) == 1);
    }
    const QList<double> figures{double(tally.receivedFrames()),
                                double(tally.lost()),
                                double(tally.duplicated()),
                                double(tally.outOfOrder()),
                                tally.delivery(),
                                double(tally.latencyPercentileMs(50)),
                                double(tally.latencyPercentileMs(95)),
                                double(tally.latencyPercentileMs(100)),
                                double(tally.firstFrameMs()),
                                double(tally.corruptFrames()),
                                double(tally.late()),
                                double(qRound(tally.goodputBytesPerSecond(1000)))};
    QCOMPARE(figures, expected);
    QCOMPARE(tally.receivedFrames() + tally.corruptFrames() + tally.lost(), sent);
}

QTEST_APPLESS_MAIN(TestRadioProtocol)
#include "tst_radioprotocol.moc"
