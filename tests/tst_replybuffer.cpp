// The reply buffer's incremental searches must answer exactly as a search over
// the whole buffer would, however the bytes were cut into chunks and whenever
// the questions are asked.

#include "kcradioprotocol.h"
#include "kcreplybuffer.h"
#include "kcreplytracker.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// A byte array of every byte of a literal, embedded zeros included.
template <int N> QByteArray rawBytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

// Non-overlapping occurrences, counted left to right over the whole array.
int wholeBufferCount(const QByteArray &haystack, const QByteArray &token)
{
    int n = 0;
    for (int at = haystack.indexOf(token); at >= 0; at = haystack.indexOf(token, at + token.size()))
        ++n;
    return n;
}

// The tokens the radio link looks for, plus a few with bytes of their own.
QList<QByteArray> replyTokens()
{
    return {"OK",    "NO CARRIER", "CONNECT 115200", "ATA",  "Welcome", "V300",
            "Radio", "S102",       "S104",           "\r\n", "=",       "Welcome to the Data-link"};
}

// Compares every answer of the buffer with the whole-buffer oracle.
bool sameAsWholeBuffer(const KcReplyBuffer &buffer, const QByteArray &expectedBytes,
                       const QByteArray &token, QByteArray *failure)
{
    const int expectedCount = wholeBufferCount(expectedBytes, token);
    const bool expectedContains = expectedBytes.contains(token);
    const int count = buffer.count(token);
    const bool contains = buffer.contains(token);
    if (buffer.bytes() == expectedBytes && count == expectedCount && contains == expectedContains)
        return true;
    *failure = "token " + token.toPercentEncoding() + ": count " + QByteArray::number(count) +
               " expected " + QByteArray::number(expectedCount) + ", contains " +
               QByteArray::number(contains) + " expected " + QByteArray::number(expectedContains) +
               ", buffer " + buffer.bytes().toPercentEncoding();
    return false;
}

} // namespace

class TestReplyBuffer : public QObject
{
    Q_OBJECT

private slots:
    void oracleMatchesQByteArrayCount_data();
    void oracleMatchesQByteArrayCount();
    void emptyBuffer();
    void tokenSplitAtEveryPoint_data();
    void tokenSplitAtEveryPoint();
    void threeChunksEverySplitPair_data();
    void threeChunksEverySplitPair();
    void selfOverlappingTokens_data();
    void selfOverlappingTokens();
    void randomChunkings_data();
    void randomChunkings();
    void clearResets();
    void bannerSplitAtEveryPoint_data();
    void bannerSplitAtEveryPoint();
    void bannerRandomChunkings();
    void trackerAttribution_data();
    void trackerAttribution();
};

void TestReplyBuffer::oracleMatchesQByteArrayCount_data()
{
    QTest::addColumn<QByteArray>("haystack");
    QTest::newRow("replies") << QByteArray("\r\nOK\r\nNO CARRIER\r\nOK\r\nCONNECT 115200\r\nATA");
    QTest::newRow("listing") << QByteArray("S102=1 \r\nS104=12345 \r\nOK\r\n");
    QTest::newRow("greeting") << QByteArray("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n");
}

void TestReplyBuffer::oracleMatchesQByteArrayCount()
{
    // The radio's tokens cannot overlap themselves, so for them the
    // non-overlapping count is QByteArray::count.
    QFETCH(QByteArray, haystack);
    for (const QByteArray &token : replyTokens())
        QCOMPARE(wholeBufferCount(haystack, token), haystack.count(token));
}

void TestReplyBuffer::emptyBuffer()
{
    KcReplyBuffer buffer;
    QVERIFY(buffer.isEmpty());
    QCOMPARE(buffer.size(), 0);
    for (const QByteArray &token : replyTokens()) {
        QCOMPARE(buffer.count(token), 0);
        QVERIFY(!buffer.contains(token));
    }
    QVERIFY(!buffer.hasRadioBanner());
    buffer.append(QByteArray());
    QVERIFY(buffer.isEmpty());
    QVERIFY(!buffer.contains("OK"));
}

void TestReplyBuffer::tokenSplitAtEveryPoint_data()
{
    QTest::addColumn<QByteArray>("stream");

    QTest::newRow("OK") << QByteArray("OK");
    QTest::newRow("reply to escape") << QByteArray("\r\nNO CARRIER\r\nOK\r\n");
    QTest::newRow("reply to ATA") << QByteArray("ATA\r\r\nCONNECT 115200\r\n");
    QTest::newRow("greeting") << QByteArray("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n");
    QTest::newRow("listing") << QByteArray("AT&V\r\r\nS101=4 S102=1 \r\nS104=12345 \r\nOK\r\n");
    QTest::newRow("tokens back to back") << QByteArray("OKOKNO CARRIERNO CARRIEROK");
    QTest::newRow("near misses") << rawBytes("O\0K NO CARRIE OK CONNECT 11520 CONNECT 115200");
}

void TestReplyBuffer::tokenSplitAtEveryPoint()
{
    QFETCH(QByteArray, stream);

    for (int split = 0; split <= stream.size(); ++split) {
        // Asked between the chunks, and asked only at the end: the scan state
        // left by a question on the first chunk must not hide a token that the
        // second one completes.
        for (bool askBetween : {true, false}) {
            KcReplyBuffer buffer;
            const QByteArray first = stream.left(split);
            buffer.append(first);
            QByteArray failure;
            if (askBetween) {
                for (const QByteArray &token : replyTokens())
                    QVERIFY2(sameAsWholeBuffer(buffer, first, token, &failure),
                             failure.constData());
            }
            buffer.append(stream.mid(split));
            for (const QByteArray &token : replyTokens()) {
                QVERIFY2(sameAsWholeBuffer(buffer, stream, token, &failure), failure.constData());
                QCOMPARE(buffer.count(token), stream.count(token));
            }
        }
    }
}

void TestReplyBuffer::threeChunksEverySplitPair_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("reply to escape") << QByteArray("x\r\nNO CARRIER\r\nOK\r\nOK");
    QTest::newRow("connect") << QByteArray("OK CONNECT 115200 OK");
}

void TestReplyBuffer::threeChunksEverySplitPair()
{
    QFETCH(QByteArray, stream);

    for (int a = 0; a <= stream.size(); ++a) {
        for (int b = a; b <= stream.size(); ++b) {
            KcReplyBuffer buffer;
            QByteArray failure;
            const QList<QByteArray> chunks{stream.left(a), stream.mid(a, b - a), stream.mid(b)};
            QByteArray soFar;
            for (const QByteArray &chunk : chunks) {
                buffer.append(chunk);
                soFar += chunk;
                for (const QByteArray &token : replyTokens())
                    QVERIFY2(sameAsWholeBuffer(buffer, soFar, token, &failure),
                             failure.constData());
            }
        }
    }
}

void TestReplyBuffer::selfOverlappingTokens_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("expected");

    QTest::newRow("aa in aaaaa") << QByteArray("aaaaa") << QByteArray("aa") << 2;
    QTest::newRow("OKOK in OKOKOK") << QByteArray("OKOKOK") << QByteArray("OKOK") << 1;
    QTest::newRow("+++ in ++++++") << QByteArray("++++++") << QByteArray("+++") << 2;
    QTest::newRow("aba in ababa aba") << QByteArray("ababa aba") << QByteArray("aba") << 2;
}

void TestReplyBuffer::selfOverlappingTokens()
{
    // Counting is non-overlapping and left to right; at every chunking the
    // incremental count follows the same greedy choice of matches.
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, token);
    QFETCH(int, expected);

    QCOMPARE(wholeBufferCount(stream, token), expected);
    for (int split = 0; split <= stream.size(); ++split) {
        for (int step = 1; step <= stream.size(); ++step) {
            KcReplyBuffer buffer;
            QByteArray soFar;
            buffer.append(stream.left(split));
            soFar = stream.left(split);
            for (int at = split; at < stream.size(); at += step) {
                buffer.append(stream.mid(at, step));
                soFar += stream.mid(at, step);
                QCOMPARE(buffer.count(token), wholeBufferCount(soFar, token));
            }
            QCOMPARE(buffer.count(token), expected);
            QVERIFY(buffer.contains(token));
        }
    }
}

void TestReplyBuffer::randomChunkings_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("maxChunk");
    for (quint32 seed : {1u, 7u, 42u, 2024u, 99991u}) {
        for (int maxChunk : {1, 3, 16, 300})
            QTest::addRow("seed %u max chunk %d", seed, maxChunk) << seed << maxChunk;
    }
}

void TestReplyBuffer::randomChunkings()
{
    QFETCH(quint32, seed);
    QFETCH(int, maxChunk);

    QRandomGenerator random(seed);
    const QList<QByteArray> tokens = replyTokens();

    // A stream of telemetry-like noise with the tokens, and pieces of them,
    // scattered through it.
    QByteArray stream;
    while (stream.size() < 4000) {
        const int what = random.bounded(4);
        if (what == 0) {
            stream += tokens.at(random.bounded(tokens.size()));
        } else if (what == 1) {
            const QByteArray &token = tokens.at(random.bounded(tokens.size()));
            stream += token.left(random.bounded(token.size() + 1));
        } else {
            const int n = random.bounded(1, 20);
            for (int i = 0; i < n; ++i)
                stream += char(random.bounded(256));
        }
    }

    KcReplyBuffer buffer;
    QByteArray soFar;
    QByteArray failure;
    int at = 0;
    while (at < stream.size()) {
        const int size = random.bounded(1, maxChunk + 1);
        const QByteArray chunk = stream.mid(at, size);
        at += chunk.size();
        buffer.append(chunk);
        soFar += chunk;
        // Ask about a random subset only, so that each token's scan lags
        // behind the buffer by a different amount.
        for (const QByteArray &token : tokens) {
            if (random.bounded(3) == 0)
                QVERIFY2(sameAsWholeBuffer(buffer, soFar, token, &failure), failure.constData());
        }
    }
    QCOMPARE(buffer.bytes(), stream);
    QCOMPARE(buffer.size(), stream.size());
    for (const QByteArray &token : tokens) {
        QCOMPARE(buffer.count(token), stream.count(token));
        QCOMPARE(buffer.contains(token), stream.contains(token));
    }
    QCOMPARE(buffer.hasRadioBanner(), KcRadioProtocol::hasRadioBanner(stream));
}

void TestReplyBuffer::clearResets()
{
    KcReplyBuffer buffer;
    buffer.append("OK OK Welcome V300");
    QCOMPARE(buffer.count("OK"), 2);
    QVERIFY(buffer.hasRadioBanner());

    buffer.clear();
    QVERIFY(buffer.isEmpty());
    QCOMPARE(buffer.size(), 0);
    QCOMPARE(buffer.bytes(), QByteArray());
    QCOMPARE(buffer.count("OK"), 0);
    QVERIFY(!buffer.contains("OK"));
    QVERIFY(!buffer.hasRadioBanner());

    // New bytes are searched from their start, not from where the old scan
    // had got to.
    buffer.append("OK");
    QCOMPARE(buffer.count("OK"), 1);

    KcReplyBuffer partial;
    partial.append("abcdefgO");
    QVERIFY(!partial.contains("OK"));
    partial.clear();
    partial.append("OK");
    QVERIFY(partial.contains("OK"));
    QCOMPARE(partial.count("OK"), 1);

    // A token's first half before the clear does not pair with a second half
    // after it.
    KcReplyBuffer halves;
    halves.append("NO CAR");
    QVERIFY(!halves.contains("NO CARRIER"));
    halves.clear();
    halves.append("RIER");
    QVERIFY(!halves.contains("NO CARRIER"));
    QCOMPARE(halves.bytes(), QByteArray("RIER"));
}

void TestReplyBuffer::bannerSplitAtEveryPoint_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("full greeting")
        << QByteArray("\r\nWelcome to the Data-link Radio V300\r\nOK\r\n");
    QTest::newRow("Welcome and Radio") << QByteArray("xx Radio yy Welcome");
    QTest::newRow("Welcome and V300") << QByteArray("V300....Welcome");
    QTest::newRow("Welcome alone") << QByteArray("..Welcome..");
    QTest::newRow("no Welcome") << QByteArray("Radio V300");
}

void TestReplyBuffer::bannerSplitAtEveryPoint()
{
    QFETCH(QByteArray, stream);

    const bool expected = KcRadioProtocol::hasRadioBanner(stream);
    for (int split = 0; split <= stream.size(); ++split) {
        KcReplyBuffer buffer;
        buffer.append(stream.left(split));
        QCOMPARE(buffer.hasRadioBanner(), KcRadioProtocol::hasRadioBanner(stream.left(split)));
        buffer.append(stream.mid(split));
        QCOMPARE(buffer.hasRadioBanner(), expected);
    }
}

void TestReplyBuffer::bannerRandomChunkings()
{
    QRandomGenerator random(31337);
    const QList<QByteArray> words{"Welcome", "V300", "Radio", "Welc", "V30", "adio", "\r\nOK\r\n"};
    for (int round = 0; round < 200; ++round) {
        QByteArray stream;
        const int pieces = random.bounded(1, 8);
        for (int i = 0; i < pieces; ++i) {
            stream += QByteArray(random.bounded(0, 30), char('a' + random.bounded(26)));
            stream += words.at(random.bounded(words.size()));
        }
        KcReplyBuffer buffer;
        QByteArray soFar;
        int at = 0;
        while (at < stream.size()) {
            const QByteArray chunk = stream.mid(at, random.bounded(1, 12));
            at += chunk.size();
            buffer.append(chunk);
            soFar += chunk;
            QCOMPARE(buffer.hasRadioBanner(), KcRadioProtocol::hasRadioBanner(soFar));
        }
    }
}

// '|' writes a command, '#' resets; oks: each window's "OK" flag.
void TestReplyBuffer::trackerAttribution_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("oks");
    QTest::newRow("line begun before the write")
        << QByteArray("|\r\nOK\r\n |OK\r\n|") << QByteArray("100");
    QTest::newRow("line begun before a reset")
        << QByteArray("|NO CARRIER\r\n #|OK\r\n") << QByteArray("0");
}

void TestReplyBuffer::trackerAttribution()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, oks);
    KcReplyTracker tracker;
    for (const char byte : stream)
        byte == '|'   ? tracker.commandWritten(QStringLiteral("AT"))
        : byte == '#' ? tracker.reset()
                      : tracker.bytesReceived(QByteArray(1, byte));
    QByteArray seen;
    for (const KcReplyTracker::Window &window : tracker.windows())
        seen += window.ok ? '1' : '0';
    QCOMPARE(seen, oks);
}

QTEST_APPLESS_MAIN(TestReplyBuffer)
#include "tst_replybuffer.moc"
