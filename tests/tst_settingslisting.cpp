// The parsers that pick the radio ID, the baud-rate flag and every register
// out of a radio's settings listing, over well-formed listings and hostile
// bytes, and the comparison of a listing with what was sent. The fuzzer in
// fuzz/ checks the parsers against a model of the same rules.
#include "kcconfigsequence.h"
#include "kcsettingslisting.h"

#include <QtTest>

namespace {

QByteArray bytes(const char *data, int size)
{
    return QByteArray(data, size);
}

} // namespace

class TstSettingsListing : public QObject
{
    Q_OBJECT

private slots:
    void entries_data();
    void entries();
    void hugeListings();
    void hasEntry_data();
    void hasEntry();
    void verify_data();
    void verify();
};

void TstSettingsListing::entries_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("registers"); // every entry, "reg=value" in register order

    QTest::newRow("CR LF lines") << QByteArray(
                                        "\r\nS101=0\r\nS102=1\r\nS103=0\r\nS104=305\r\nOK\r\n")
                                 << QStringLiteral("305") << 1
                                 << QStringLiteral("101=0 102=1 103=0 104=305");
    QTest::newRow("LF lines, S105 after the ID")
        << QByteArray("\nS102=7\nS104=305\nS105=2 \nOK\n") << QStringLiteral("305") << 7
        << QStringLiteral("102=7 104=305 105=2");
    QTest::newRow("CR lines") << QByteArray("S104=5\rS102=3\rOK\r") << QStringLiteral("5") << 3
                              << QStringLiteral("102=3 104=5");
    QTest::newRow("blanks") << QByteArray("S101=0 S102=1 S104=305 S105=0 OK")
                            << QStringLiteral("305") << 1
                            << QStringLiteral("101=0 102=1 104=305 105=0");
    QTest::newRow("tabs") << QByteArray("S104=5\tS102=0\tOK") << QStringLiteral("5") << 0
                          << QStringLiteral("102=0 104=5");
    QTest::newRow("CR LF then a blank")
        << QByteArray("S102=7\r\n S104=1\r\n OK") << QStringLiteral("1") << 7
        << QStringLiteral("102=7 104=1");
    QTest::newRow("leading zeros kept in the ID")
        << QByteArray("S104=00567\r\nOK\r\n") << QStringLiteral("00567") << 115200
        << QStringLiteral("104=00567");
    QTest::newRow("entry at the very end") << QByteArray("S102=14 S104=12") << QStringLiteral("12")
                                           << 14 << QStringLiteral("102=14 104=12");
    QTest::newRow("nothing after the equals sign")
        << QByteArray("S104= S102= OK") << QString() << 0 << QStringLiteral("102= 104=");
    QTest::newRow("name without equals sign is no entry")
        << QByteArray("S104 =5 S104=6 S102:1 OK") << QStringLiteral("6") << 115200
        << QStringLiteral("104=6");
    QTest::newRow("longer register names are others")
        << QByteArray("S1040=9 S1024=5 S104=8 OK") << QStringLiteral("8") << 115200
        << QStringLiteral("104=8 1024=5 1040=9");
    QTest::newRow("value runs to the separator")
        << QByteArray("S104=1=2 S102=7a OK") << QStringLiteral("1=2") << 0
        << QStringLiteral("102=7a 104=1=2");
    QTest::newRow("first entry wins") << QByteArray("S104=1 S104=2 S102=1 S102=7")
                                      << QStringLiteral("1") << 1 << QStringLiteral("102=1 104=1");
    QTest::newRow("lower case is another name")
        << QByteArray("s104=5 s102=1 OK") << QString() << 115200 << QString();
    QTest::newRow("negative flag")
        << QByteArray("S102=-1 OK") << QString() << -1 << QStringLiteral("102=-1");
    QTest::newRow("flag with leading zeros")
        << QByteArray("S102=007 OK") << QString() << 7 << QStringLiteral("102=007");
    QTest::newRow("flag overflow")
        << QByteArray("S102=99999999999 OK") << QString() << 0 << QStringLiteral("102=99999999999");
    QTest::newRow("zero byte ends the text")
        << bytes("S102=1 \0S104=5 OK", 17) << QString() << 1 << QStringLiteral("102=1");
    QTest::newRow("zero byte inside the value")
        << bytes("S104=12\0003 OK", 13) << QStringLiteral("12") << 115200
        << QStringLiteral("104=12");
    QTest::newRow("UTF-8 value") << QByteArray("S104=\xc3\x84\xc3\x96 OK")
                                 << QString::fromUtf8("\xc3\x84\xc3\x96") << 115200
                                 << QString::fromUtf8("104=\xc3\x84\xc3\x96");
    QTest::newRow("invalid UTF-8 becomes replacement characters")
        << QByteArray("\xc3\x28 S104=\xff\xfe S102=\xff OK")
        << QString(2, QChar(QChar::ReplacementCharacter)) << 0
        << QStringLiteral("102=%1 104=%1%1").arg(QChar(QChar::ReplacementCharacter));
    QTest::newRow("empty listing") << QByteArray() << QString() << 115200 << QString();
}

void TstSettingsListing::entries()
{
    QFETCH(QByteArray, listing);
    QFETCH(QString, id);
    QFETCH(int, flag);
    QFETCH(QString, registers);
    QCOMPARE(KcSettingsListing::parseRadioID(listing), id);
    QCOMPARE(KcSettingsListing::parseBaudRateFlag(listing), flag);
    QStringList entries;
    const QMap<int, QString> all = KcSettingsListing::registers(listing);
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        entries << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
    QCOMPARE(entries.join(QLatin1Char(' ')), registers);
}

void TstSettingsListing::hugeListings()
{
    const QByteArray filler(4 * 1024 * 1024, 'x');
    QCOMPARE(KcSettingsListing::parseRadioID(filler + " S104=42"), QStringLiteral("42"));
    QCOMPARE(KcSettingsListing::parseBaudRateFlag(filler + " S102=7 " + filler), 7);
    QCOMPARE(KcSettingsListing::parseRadioID(filler), QString());
    QCOMPARE(KcSettingsListing::parseBaudRateFlag("S102=" + filler), 0);
}

void TstSettingsListing::hasEntry_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("entry");
    QTest::newRow("register entry") << QByteArray("OK S104=5") << true;
    QTest::newRow("S= without digits is no entry") << QByteArray("S= S=5 OK") << false;
}

void TstSettingsListing::hasEntry()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, entry);
    QCOMPARE(KcSettingsListing::hasEntry(line), entry);
}

void TstSettingsListing::verify_data()
{
    QTest::addColumn<QString>("sentId");
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QStringList>("mismatches"); // "<register>:<sent>:<stored>"
    QTest::newRow("as numbers: zeros listed")
        << "567" << QByteArray("S102=7 S104=00567 OK") << QStringList();
    QTest::newRow("as numbers: zeros sent")
        << "00567" << QByteArray("S102=007 S104=567 OK") << QStringList();
    QTest::newRow("another ID") << "567" << QByteArray("S102=7 S104=568 OK")
                                << QStringList{"104:567:568"};
    QTest::newRow("ID missing") << "567" << QByteArray("S102=7 OK") << QStringList{"104:567:"};
}

void TstSettingsListing::verify()
{
    QFETCH(QString, sentId);
    QFETCH(QByteArray, listing);
    QFETCH(QStringList, mismatches);
    KcRadioSettings settings; // P2P ground MR300: S102 and S104 are checked
    settings.radioId = sentId;
    QStringList found;
    for (const KcRegisterMismatch &m : KcConfigSequence::verify(settings, listing))
        found << QStringLiteral("%1:%2:%3").arg(m.reg).arg(m.expected, m.stored);
    QCOMPARE(found, mismatches);
}

QTEST_APPLESS_MAIN(TstSettingsListing)
#include "tst_settingslisting.moc"
