// Radio ID generation and the acceptance rule, without any widget.
#include "kcradioid.h"

#include <QtTest>

class TestRadioId : public QObject
{
    Q_OBJECT

private slots:
    void fromDraws_data();
    void fromDraws();
    void generatedIdsStayInRange();
    void sameSeedSameId();
    void acceptedDigits_data();
    void acceptedDigits();
};

void TestRadioId::fromDraws_data()
{
    QTest::addColumn<quint32>("r1");
    QTest::addColumn<quint32>("r2");
    QTest::addColumn<quint64>("id");
    QTest::newRow("smallest") << 0u << 0u << quint64(1000000000);
    QTest::newRow("largest 15-bit draws") << 32767u << 32767u << quint64(4276732767);
    QTest::newRow("r2 keeps its leading zeros") << 12u << 7u << quint64(1001200007);
    // Draws above 15 bits (as glibc's rand() gives) would leave the range:
    // the formula itself wraps by its modulos, which the generator avoids.
    QTest::newRow("wide draws wrap")
        << 99999u << 99999u << quint64(1000000000 + 9999999999ULL % 9000000000ULL);
}

void TestRadioId::fromDraws()
{
    QFETCH(quint32, r1);
    QFETCH(quint32, r2);
    QFETCH(quint64, id);
    QCOMPARE(KcRadioId::fromDraws(r1, r2), id);
}

void TestRadioId::generatedIdsStayInRange()
{
    // Many seeds, including the low 32 bits of real millisecond clocks.
    QSet<quint64> seen;
    for (quint32 seed = 0; seed < 20000; ++seed) {
        const quint32 clockSeed = quint32(1765000000000ULL + quint64(seed) * 7919ULL);
        for (const quint32 s : {seed, clockSeed, ~seed}) {
            const quint64 id = KcRadioId::generate(s);
            QVERIFY2(id >= 1000000000ULL && id <= 4276732767ULL, qPrintable(QString::number(id)));
            QCOMPARE(QString::number(id).size(), 10);
            QVERIFY(KcRadioId::acceptedDigits(QString::number(id)).has_value());
            seen.insert(id);
        }
    }
    // The draws really vary: not a constant or a handful of values.
    QVERIFY(seen.size() > 50000);
}

void TestRadioId::sameSeedSameId()
{
    QCOMPARE(KcRadioId::generate(123456789u), KcRadioId::generate(123456789u));
    QVERIFY(KcRadioId::generate(1u) != KcRadioId::generate(2u));
}

void TestRadioId::acceptedDigits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("digits"); // null: refused

    QTest::newRow("zero") << "0"
                          << "0";
    QTest::newRow("largest") << "4294967295"
                             << "4294967295";
    QTest::newRow("leading zeros") << "0000000001"
                                   << "0000000001";
    QTest::newRow("tabs and blanks") << "\t 305 \n"
                                     << "305";
    QTest::newRow("above range") << "4294967296" << QString();
    QTest::newRow("ten nines") << "9999999999" << QString();
    QTest::newRow("eleven digits") << "01234567890" << QString();
    QTest::newRow("negative") << "-1" << QString();
    QTest::newRow("plus") << "+1" << QString();
    QTest::newRow("hex") << "0x10" << QString();
    QTest::newRow("letters after") << "12a" << QString();
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("only blanks") << "  " << QString();
    QTest::newRow("inner blank") << "1 2" << QString();
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("١٢٣") << QString();
}

void TestRadioId::acceptedDigits()
{
    QFETCH(QString, text);
    QFETCH(QString, digits);
    const std::optional<QString> accepted = KcRadioId::acceptedDigits(text);
    QCOMPARE(accepted.has_value(), !digits.isNull());
    if (accepted)
        QCOMPARE(*accepted, digits);
}

QTEST_APPLESS_MAIN(TestRadioId)
#include "tst_radioid.moc"
