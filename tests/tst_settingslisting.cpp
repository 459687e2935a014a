// The two parsers that pick the radio ID and the baud-rate flag out of a
// radio's settings listing, over well-formed listings and hostile bytes.
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
    void parseRadioID_data();
    void parseRadioID();
    void parseBaudRateFlag_data();
    void parseBaudRateFlag();
    void hugeListings();
    void everySplitOfAListingParsesTheSame();
};

void TstSettingsListing::parseRadioID_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QString>("id");

    QTest::newRow("entries separated by blanks")
        << QByteArray("S101=0 S102=1 S104=305 S105=0 \r\nOK\r\n") << QStringLiteral("305");
    QTest::newRow("CR LF then OK, no blank anywhere")
        << QByteArray("S104=00567\r\nOK\r\n") << QStringLiteral("00567");
    QTest::newRow("CR LF before the blank")
        << QByteArray("S102=1\r\n S104=4294967295\r\n S105=0\r\n OK")
        << QStringLiteral("4294967295");
    QTest::newRow("entry at the very end") << QByteArray("S104=12") << QStringLiteral("12");
    QTest::newRow("no S104") << QByteArray("S102=1 S105=2 \r\nOK\r\n") << QString();
    QTest::newRow("empty listing") << QByteArray() << QString();
    QTest::newRow("nothing after the equals sign") << QByteArray("S104= S102=1 OK") << QString();
    QTest::newRow("equals sign at the end of the text") << QByteArray("S104=") << QString();
    QTest::newRow("name alone before the blank") << QByteArray("S104 =5 OK") << QString();
    QTest::newRow("CR LF right after the name") << QByteArray("S104\r\n=5 OK") << QString();
    QTest::newRow("no equals sign") << QByteArray("S104:77 OK") << QString();
    QTest::newRow("text after the last equals sign")
        << QByteArray("S104=1=2=3 OK") << QStringLiteral("3");
    QTest::newRow("two equals signs, nothing after") << QByteArray("S104== OK") << QString();
    QTest::newRow("first S104 wins") << QByteArray("S104=1 S104=2 OK") << QStringLiteral("1");
    QTest::newRow("first S104 unusable, second ignored")
        << QByteArray("S104 S104=2 OK") << QString();
    QTest::newRow("name inside a longer word") << QByteArray("xS104=7 OK") << QStringLiteral("7");
    QTest::newRow("register S1040 read as S104") << QByteArray("S1040=9 OK") << QStringLiteral("9");
    QTest::newRow("lower case is another name") << QByteArray("s104=5 OK") << QString();
    QTest::newRow("lone CR stays in the value")
        << QByteArray("S104=5\rOK ") << QStringLiteral("5\rOK");
    QTest::newRow("lone LF stays in the value") << QByteArray("S104=5\n ") << QStringLiteral("5\n");
    QTest::newRow("LF CR is not a line end")
        << QByteArray("S104=5\n\rOK ") << QStringLiteral("5\n\rOK");
    QTest::newRow("tab is no blank: the last equals sign is S102's")
        << QByteArray("S104=5\tS102=1 OK") << QStringLiteral("1");
    QTest::newRow("tab is no blank, single equals sign")
        << QByteArray("S104=5\tS102:1 OK") << QStringLiteral("5\tS102:1");
    QTest::newRow("cut at the first CR LF")
        << QByteArray("S104=5\r\n6\r\n ") << QStringLiteral("5");
    QTest::newRow("value is text, kept as it is")
        << QByteArray("S104=ab-01 OK") << QStringLiteral("ab-01");
    QTest::newRow("zero byte ends the text before S104")
        << bytes("S102=1 \0S104=5 OK", 17) << QString();
    QTest::newRow("zero byte inside the value")
        << bytes("S104=12\0003 OK", 13) << QStringLiteral("12");
    QTest::newRow("zero byte first") << bytes("\0S104=1 ", 8) << QString();
    QTest::newRow("UTF-8 value") << QByteArray("S104=\xc3\x84\xc3\x96 OK")
                                 << QString::fromUtf8("\xc3\x84\xc3\x96");
    QTest::newRow("invalid UTF-8 becomes replacement characters")
        << QByteArray("S104=\xff\xfe OK") << QString(2, QChar(QChar::ReplacementCharacter));
    QTest::newRow("invalid UTF-8 before the entry")
        << QByteArray("\xc3\x28\xe2\x82 S104=8 OK") << QStringLiteral("8");
    QTest::newRow("truncated UTF-8 at the end")
        << QByteArray("S104=1\xe2\x82") << QStringLiteral("1") + QString::fromUtf8("\xe2\x82");
    QTest::newRow("only blanks") << QByteArray("      ") << QString();
    QTest::newRow("name split by a zero byte") << bytes("S1\0004=5 ", 8) << QString();
}

void TstSettingsListing::parseRadioID()
{
    QFETCH(QByteArray, listing);
    QFETCH(QString, id);
    const QString parsed = KcSettingsListing::parseRadioID(listing);
    QCOMPARE(parsed, id);
    QCOMPARE(parsed.isEmpty(), id.isEmpty());
}

void TstSettingsListing::parseBaudRateFlag_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<int>("flag");

    QTest::newRow("entries separated by blanks")
        << QByteArray("S101=0 S102=1 S104=305 \r\nOK\r\n") << 1;
    QTest::newRow("CR LF then a blank") << QByteArray("S102=7\r\n S104=1\r\n OK") << 7;
    QTest::newRow("code 0") << QByteArray("S102=0 OK") << 0;
    QTest::newRow("code 14") << QByteArray("S102=14 OK") << 14;
    QTest::newRow("no S102") << QByteArray("S104=305 \r\nOK\r\n") << 115200;
    QTest::newRow("empty listing") << QByteArray() << 115200;
    QTest::newRow("name alone") << QByteArray("S102 =1 OK") << 115200;
    QTest::newRow("no equals sign") << QByteArray("S102:1 OK") << 115200;
    QTest::newRow("CR LF is not a cut: still usable") << QByteArray("S102\r\n=3 OK") << 3;
    QTest::newRow("nothing after the equals sign") << QByteArray("S102= OK") << 0;
    QTest::newRow("equals sign at the end of the text") << QByteArray("S102=") << 0;
    QTest::newRow("not a number") << QByteArray("S102=abc OK") << 0;
    QTest::newRow("digits then letters") << QByteArray("S102=7a OK") << 0;
    QTest::newRow("hexadecimal is not decimal") << QByteArray("S102=0x10 OK") << 0;
    QTest::newRow("overflow") << QByteArray("S102=99999999999 OK") << 0;
    QTest::newRow("negative") << QByteArray("S102=-1 OK") << -1;
    QTest::newRow("leading zeros") << QByteArray("S102=007 OK") << 7;
    QTest::newRow("white space around the digits") << QByteArray("S102=\t7\r\n\t OK") << 7;
    QTest::newRow("no blank: OK becomes part of the value") << QByteArray("S102=7\r\nOK\r\n") << 0;
    QTest::newRow("text after the last equals sign") << QByteArray("S102=a=3 OK") << 3;
    QTest::newRow("first S102 wins") << QByteArray("S102=1 S102=7 OK") << 1;
    QTest::newRow("register S1024 read as S102") << QByteArray("S1024=5 OK") << 5;
    QTest::newRow("lower case is another name") << QByteArray("s102=1 OK") << 115200;
    QTest::newRow("zero byte ends the text before S102")
        << bytes("S104=1 \0S102=7 OK", 17) << 115200;
    QTest::newRow("zero byte right after the digits") << bytes("S102=7\0x OK", 11) << 7;
    QTest::newRow("invalid UTF-8 value") << QByteArray("S102=\xff OK") << 0;
    QTest::newRow("invalid UTF-8 around the entry") << QByteArray("\xfe\xff S102=1 \xc0") << 1;
    QTest::newRow("value at the end of the text") << QByteArray("S104=9 S102=1") << 1;
}

void TstSettingsListing::parseBaudRateFlag()
{
    QFETCH(QByteArray, listing);
    QFETCH(int, flag);
    QCOMPARE(KcSettingsListing::parseBaudRateFlag(listing), flag);
}

void TstSettingsListing::hugeListings()
{
    const QByteArray filler(4 * 1024 * 1024, 'x');
    QCOMPARE(KcSettingsListing::parseRadioID(filler + "S104=42"), QStringLiteral("42"));
    QCOMPARE(KcSettingsListing::parseBaudRateFlag(filler + "S102=7 " + filler), 7);
    // One token of millions of bytes: no blank, equals signs everywhere.
    const QByteArray equals(4 * 1024 * 1024, '=');
    QCOMPARE(KcSettingsListing::parseRadioID("S104" + equals), QString());
    QCOMPARE(KcSettingsListing::parseBaudRateFlag("S102" + equals), 0);
    QCOMPARE(KcSettingsListing::parseRadioID("S104" + equals + "7"), QStringLiteral("7"));
    QCOMPARE(KcSettingsListing::parseRadioID(filler), QString());
    QCOMPARE(KcSettingsListing::parseBaudRateFlag(filler), 115200);
}

void TstSettingsListing::everySplitOfAListingParsesTheSame()
{
    // The reader parses whatever has gathered when "OK" arrives; how the
    // radio's bytes were split on the way must not matter.
    const QByteArray listing("S100=3 S102=0\r\n S104=00917 S105=1\r\nOK\r\n");
    for (int cut = 0; cut <= listing.size(); ++cut) {
        QByteArray joined = listing.left(cut);
        joined.append(listing.mid(cut));
        QCOMPARE(KcSettingsListing::parseRadioID(joined), QStringLiteral("00917"));
        QCOMPARE(KcSettingsListing::parseBaudRateFlag(joined), 0);
    }
}

QTEST_APPLESS_MAIN(TstSettingsListing)
#include "tst_settingslisting.moc"
