// A fleet's plan, its IDs and indexes, its record, its ports and the check
// of a network, without a radio: bytes and values in, values out.
#include "cli/kcfleetlinktests.h"
#include "fleet/kcfleetallocation.h"
#include "fleet/kcfleetcheck.h"
#include "fleet/kcfleetplan.h"
#include "fleet/kcfleetports.h"
#include "fleet/kcfleetresume.h"
#include "kcfilesync.h"
#include "kcfleetrecord.h"
#include "kcradioid.h"

#include <QLockFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QByteArray Header = "network,role,port,model,mode,baud,index,id\n";

QStringList described(const QList<KcFleetProblem> &problems)
{
    QStringList lines;
    for (const KcFleetProblem &problem : problems)
        lines << problem.describe();
    return lines;
}

KcFleetRecordEntry entry(const QString &network, int role, const QString &id)
{
    KcFleetRecordEntry e;
    e.time = QStringLiteral("2024-05-01T10:00:00.000Z");
    e.network = network;
    e.role = role;
    e.port = QStringLiteral("/dev/ttyUSB%1").arg(role);
    e.netMode = 1;
    e.id = id;
    e.index = role == 1 ? 3 : 0;
    e.rateFound = 9600;
    e.rateSet = 115200; // S102 1
    e.registers = {{102, QStringLiteral("1")}, {104, id}};
    e.outcome = QStringLiteral("configured");
    e.verified = true;
    e.seconds = 21.5;
    e.version = QStringLiteral("1.0");
    return e;
}

} // namespace

class TstFleet : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void allocation_data();
    void allocation();
    void freshIdAvoidsTaken();
    void record_data();
    void record();
    void resume_data();
    void resume();
    void writer_data();
    void writer();
    void sync_data();
    void sync();
    void ports_data();
    void ports();
    void check_data();
    void check();
};

void TstFleet::plan_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("radios"); // "network role index id" of each radio read
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("p2p and star, comments, blank lines, CRLF")
        << Header + "# hangar 2\r\n\r\nA,ground,/dev/a,MR300S,p2p,230400,,42\r\n"
                    "A,airborne,/dev/b,mr300s,P2P,,,\nS,ground,serial=FT1,MR240,star,,,\n"
                    "S,airborne,/dev/c,MR240,star,,7,\n"
        << QStringList{"A 0 0 42", "A 1 0 ", "S 0 0 ", "S 1 7 "} << QStringList();
    QTest::newRow("no header") << QByteArray("A,ground,/dev/a,MR300,p2p,,,\n") << QStringList()
                               << QStringList{"line 1: the first line must be the header "
                                              "\"network,role,port,model,mode,baud,index,id\""};
    QTest::newRow("empty") << QByteArray("# nothing\n") << QStringList()
                           << QStringList{"the plan holds no header and no radio"};
    QTest::newRow("field count") << Header + "A,ground,/dev/a,MR300,p2p,,\n"
                                 << QStringList()
                                 << QStringList{"line 2: 7 fields, not the 8 of the header"};
    QTest::newRow("unknown values")
        << Header + "A,gnd,/dev/a,MR999,mesh,4800,0,12345678901\n"
        << QStringList()
        << QStringList{"line 2: unknown role \"gnd\" (ground or airborne)",
                       "line 2: unknown model \"MR999\" (MR300, MR240 or MR300S)",
                       "line 2: unknown mode \"mesh\" (p2p or star)",
                       "line 2: unknown baud \"4800\" (9600, 115200 or 230400)",
                       "line 2: index \"0\" is not 1 to 100",
                       "line 2: ID \"12345678901\" is not 1 to 10 digits within 0..4294967295"};
    QTest::newRow("baud and index where unused")
        << Header + "A,ground,/dev/a,MR240,p2p,115200,3,\nA,airborne,serial=,MR240,p2p,,,\n"
        << QStringList()
        << QStringList{"line 2: a MR240 p2p radio takes no baud; leave it blank",
                       "line 2: only a star airborne radio takes an index",
                       "line 3: no port given (a path, or serial=XYZ)"};
    QTest::newRow("p2p roles")
        << Header + "A,ground,/dev/a,MR300,p2p,,,\nA,ground,/dev/b,MR300,p2p,,,\n"
                    "B,airborne,/dev/c,MR300,p2p,,,\n"
        << QStringList{"A 0 0 ", "A 0 0 ", "B 1 0 "}
        << QStringList{"line 2: network \"A\" (p2p) has no airborne radio",
                       "line 3: network \"A\" (p2p) has its ground radio on line 2 already",
                       "line 4: network \"B\" (p2p) has no ground radio"};
    QTest::newRow("star: duplicate index, second ground, mixed model")
        << Header + "S,ground,/dev/a,MR300,star,,,\nS,airborne,/dev/b,MR300,star,,4,\n"
                    "S,airborne,/dev/c,MR300,star,,4,\nS,ground,/dev/d,MR300,star,,,\n"
                    "S,airborne,/dev/e,MR240,star,,,\n"
        << QStringList{"S 0 0 ", "S 1 4 ", "S 1 4 ", "S 0 0 ", "S 1 0 "}
        << QStringList{"line 4: index 4 of network \"S\" is taken on line 3 already",
                       "line 5: network \"S\" (star) has its ground radio on line 2 already",
                       "line 6: network \"S\" is MR300 star on line 2; every radio of a network "
                       "has the same model and mode"};
    QTest::newRow("IDs: twice in a network, one ID for two networks")
        << Header + "A,ground,/dev/a,MR300,p2p,,,7\nA,airborne,/dev/b,MR300,p2p,,,7\n"
                    "B,ground,/dev/c,MR300,p2p,,,007\nB,airborne,/dev/d,MR300,p2p,,,\n"
        << QStringList{"A 0 0 7", "A 1 0 7", "B 0 0 007", "B 1 0 "}
        << QStringList{"line 3: network \"A\" has its ID on line 2 already; give it on one row",
                       "line 4: ID 007 is network \"A\"'s (line 2) too"};
    QTest::newRow("a refused line spares its network the network rules")
        << Header + "A,ground,/dev/a,MR300,p2p,,,\nA,airborne,/dev/b,MR3,p2p,,,\n"
        << QStringList{"A 0 0 "}
        << QStringList{"line 3: unknown model \"MR3\" (MR300, MR240 or MR300S)"};
    QTest::newRow("short line, mixed model, index 101 or on a ground radio, p2p airborne twice")
        << Header + "A,ground,a,MR300,p2p,,\nA,airborne,b,MR300,p2p,,,\nB,ground,a,MR300,p2p,,,\n"
                    "B,airborne,b,MR240,p2p,,,\nS,ground,a,MR300,star,,2,\n"
                    "T,airborne,b,MR300,star,,101,\nC,ground,a,MR300,p2p,,,\n"
                    "C,airborne,b,MR300,p2p,,,\nC,airborne,c,MR300,p2p,,,\n"
        << QStringList{"A 1 0 ", "B 0 0 ", "B 1 0 ", "C 0 0 ", "C 1 0 ", "C 1 0 "}
        << QStringList{"line 2: 7 fields, not the 8 of the header",
                       "line 5: network \"B\" is MR300 p2p on line 4; every radio of a network "
                       "has the same model and mode",
                       "line 6: only a star airborne radio takes an index",
                       "line 7: index \"101\" is not 1 to 100",
                       "line 10: network \"C\" (p2p) has its airborne radio on line 9 already"};
}

void TstFleet::plan()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, radios);
    QFETCH(QStringList, problems);
    const KcFleetPlan plan = KcFleetPlan::parse(text);
    QStringList read;
    for (const KcFleetRadio &radio : plan.radios)
        read << QStringLiteral("%1 %2 %3 %4")
                    .arg(radio.network)
                    .arg(radio.role)
                    .arg(radio.index)
                    .arg(radio.id);
    QCOMPARE(read, radios);
    QCOMPARE(described(plan.problems), problems);
    if (QTest::currentDataTag() == QLatin1String("p2p and star, comments, blank lines, CRLF")) {
        QCOMPARE(plan.radios.at(0).baudRateCode, 0);
        QCOMPARE(plan.radios.at(1).baudRateCode, 7);
        QCOMPARE(plan.radios.at(2).adapterSerial(), QStringLiteral("FT1"));
        QCOMPARE(plan.networks(), (QStringList{"A", "S"}));
    }
}

void TstFleet::allocation_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("recorded"); // "network=ID" in record order
    QTest::addColumn<bool>("resume");
    QTest::addColumn<bool>("allowReused");
    QTest::addColumn<QStringList>("ids");    // "network=ID", "network=fresh" for a drawn one
    QTest::addColumn<QList<int>>("indexes"); // of every radio after allocation
    QTest::addColumn<QStringList>("problems");

    const QByteArray star = Header +
                            "S,airborne,/dev/b,MR300,star,,2,\nS,ground,/dev/a,MR300,star,,,\n"
                            "S,airborne,/dev/c,MR300,star,,,\nS,airborne,/dev/d,MR300,star,,1,\n"
                            "S,airborne,/dev/e,MR300,star,,,\n";
    QTest::newRow("lowest free indexes, fresh ID")
        << star << QStringList() << false << false << QStringList{"S=fresh"}
        << QList<int>{2, 0, 3, 1, 4} << QStringList();
    QTest::newRow("resume reuses the latest recorded ID")
        << star << QStringList{"S=111", "T=222", "S=333"} << true << false << QStringList{"S=333"}
        << QList<int>{2, 0, 3, 1, 4} << QStringList();
    QTest::newRow("without resume the recorded ID is not reused")
        << star << QStringList{"S=333"} << false << false << QStringList{"S=fresh"}
        << QList<int>{2, 0, 3, 1, 4} << QStringList();
    const QByteArray given =
        Header + "A,ground,/dev/a,MR300,p2p,,,0555\nA,airborne,/dev/b,MR300,p2p,,,\n";
    QTest::newRow("given ID recorded for another network")
        << given << QStringList{"B=555", "A=555"} << true << false << QStringList{"A=0555"}
        << QList<int>{0, 0}
        << QStringList{"line 2: ID 0555 is recorded for network \"B\"; --allow-reused-id "
                       "permits it"};
    QTest::newRow("given ID recorded by the window")
        << given << QStringList{"=555"} << false << false << QStringList{"A=0555"}
        << QList<int>{0, 0}
        << QStringList{"line 2: ID 0555 is recorded by the window; --allow-reused-id permits it"};
    // A window read tells the ID a radio had; a run that reached no radio gave none.
    for (const char *outcome : {"read", "silent", "port-failed"})
        QTest::newRow(
            qPrintable(QStringLiteral("given ID the window's %1 line holds").arg(outcome)))
            << given << QStringList{QStringLiteral("=555 ") + outcome} << false << false
            << QStringList{"A=0555"} << QList<int>{0, 0} << QStringList();
    QTest::newRow("allowed on purpose")
        << given << QStringList{"B=555"} << false << true << QStringList{"A=0555"}
        << QList<int>{0, 0} << QStringList();
    QTest::newRow("resume: a recorded ID two networks share")
        << star << QStringList{"S=333", "T=333"} << true << false << QStringList{"S=333"}
        << QList<int>{2, 0, 3, 1, 4}
        << QStringList{"line 2: network \"S\" would resume with ID 333, which the record holds "
                       "for network \"T\" too; --allow-reused-id permits it"};
}

void TstFleet::allocation()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, recorded);
    QFETCH(bool, resume);
    QFETCH(bool, allowReused);
    QFETCH(QStringList, ids);
    QFETCH(QList<int>, indexes);
    QFETCH(QStringList, problems);
    KcFleetPlan plan = KcFleetPlan::parse(text);
    QVERIFY2(plan.ok(), qPrintable(described(plan.problems).join('\n')));
    KcFleetAllocation::assignIndexes(plan.radios);
    QList<int> assigned;
    for (const KcFleetRadio &radio : plan.radios)
        assigned << radio.index;
    QCOMPARE(assigned, indexes);

    QList<KcFleetRecordEntry> record;
    QSet<QString> recordedIds;
    for (const QString &pair : recorded) {
        // "=ID read": a window line with that outcome.
        const QString id = pair.section('=', 1).section(' ', 0, 0);
        record.append(entry(pair.section('=', 0, 0), 0, id));
        record.last().source = pair.startsWith('=') ? QStringLiteral("window") : QString();
        if (pair.contains(' '))
            record.last().outcome = pair.section(' ', 1);
        recordedIds.insert(id);
    }
    QRandomGenerator random(7);
    const KcFleetAllocation::Ids result =
        KcFleetAllocation::assignIds(plan, record, resume, allowReused, random);
    QCOMPARE(described(result.problems), problems);
    QStringList got;
    for (auto it = result.byNetwork.cbegin(); it != result.byNetwork.cend(); ++it) {
        const bool fresh = !ids.contains(it.key() + '=' + it.value());
        if (fresh) {
            // Drawn by the window's rule and none of the record's.
            QCOMPARE(it.value().size(), 10);
            QVERIFY(KcRadioId::acceptedDigits(it.value()));
            QVERIFY(!recordedIds.contains(it.value()));
        }
        QCOMPARE(result.reused.value(it.key()),
                 resume && !fresh && recordedIds.contains(it.value()));
        got << it.key() + '=' + (fresh ? QStringLiteral("fresh") : it.value());
    }
    QCOMPARE(got, ids);
}

void TstFleet::freshIdAvoidsTaken()
{
    // The ID that the first two draws make is taken: the next is drawn.
    QRandomGenerator first(99);
    const quint64 taken = KcRadioId::fromDraws(first.bounded(32768u), first.bounded(32768u));
    QRandomGenerator random(99);
    const quint64 id = KcFleetAllocation::freshId(random, {taken});
    QVERIFY(id != taken);
    QVERIFY(id >= 1000000000ULL && id <= KcRadioId::MaxId);
}

void TstFleet::record_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("networks"); // of the entries read
    QTest::addColumn<QStringList>("problems");
    const QByteArray a = QJsonDocument(entry("A", 0, "12").toJson()).toJson(QJsonDocument::Compact);
    const QByteArray b = QJsonDocument(entry("B", 1, "13").toJson()).toJson(QJsonDocument::Compact);
    QTest::newRow("empty") << QByteArray() << QStringList() << QStringList();
    QTest::newRow("two lines") << a + '\n' + b + '\n' << QStringList{"A", "B"} << QStringList();
    QTest::newRow("torn last line")
        << a + '\n' + b.left(40) << QStringList{"A"}
        << QStringList{"line 2: the last line is incomplete (a run cut off while writing it); "
                       "skipped"};
    QTest::newRow("a cut line ended by the next run")
        << a.left(30) + '\n' + b + '\n'
        << QStringList{"B"} << QStringList{"line 1: not a JSON object; skipped"};
    QTest::newRow("an object that is no entry")
        << QByteArray("{\"network\":\"A\",\"role\":\"pilot\"}\n\n") + a + '\n'
        << QStringList{"A"}
        << QStringList{"line 1: \"role\" is not one of ground, airborne; skipped"};
    QTest::newRow("a window line without an ID")
        << QByteArray(a).replace("\"12\"", "\"\"").replace("{", "{\"source\":\"window\",") + '\n'
        << QStringList{"A"} << QStringList();
    // Written before the rates had a name each: "rate" is the rate found,
    // in the fleet's lines and the window's alike.
    const QByteArray old =
        QByteArray(a).replace("\"rateFound\":9600,\"rateSet\":115200", "\"rate\":9600");
    QTest::newRow("an old line's rate") << old + '\n' << QStringList{"A"} << QStringList();
    QTest::newRow("an old window line's rate")
        << QByteArray(old).replace("{", "{\"source\":\"window\",") + '\n'
        << QStringList{"A"} << QStringList();
    QTest::newRow("an ID that is a number")
        << QByteArray(a).replace("\"12\"", "12") + '\n'
        << QStringList() << QStringList{"line 1: \"id\" must be a string of digits; skipped"};
}

void TstFleet::record()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, networks);
    QFETCH(QStringList, problems);
    const KcFleetRecord::Contents contents = KcFleetRecord::parse(bytes);
    QStringList read;
    for (const KcFleetRecordEntry &e : contents.entries) {
        read << e.network;
        // Every field comes back as it was written.
        KcFleetRecordEntry written = entry(e.network, e.role, e.id);
        written.source = e.source;
        if (!bytes.contains("rateSet"))
            written.rateSet = 0; // an old line tells no rate set
        QCOMPARE(e.toJson(), written.toJson());
        QVERIFY(!e.toJson().contains(QStringLiteral("rate")));
        QCOMPARE(e.toJson().value(QStringLiteral("seconds")).toDouble(), 21.5);
    }
    QCOMPARE(read, networks);
    QCOMPARE(described(contents.problems), problems);
}

void TstFleet::resume_data()
{
    QTest::addColumn<QString>("change"); // what differs from the recorded radio
    QTest::addColumn<bool>("done");
    QTest::newRow("same radio") << "" << true;
    QTest::newRow("through its adapter") << "serial" << true;
    QTest::newRow("another ID") << "id" << false;
    QTest::newRow("another index") << "index" << false;
    QTest::newRow("another port") << "port" << false;
    QTest::newRow("another serial rate") << "S102" << false;
    QTest::newRow("failed after it was done") << "failed later" << false;
    QTest::newRow("not verified") << "unverified" << false;
    QTest::newRow("another model") << "model" << false;
    // A network's link lines: the latest decides.
    QTest::newRow("linked") << "link: linked" << true;
    QTest::newRow("linked, then not") << "link: linked, not-linked" << false;
    QTest::newRow("not linked, then linked") << "link: not-linked, linked" << true;
}

void TstFleet::resume()
{
    QFETCH(QString, change);
    QFETCH(bool, done);
    if (change.startsWith(QLatin1String("link: "))) {
        const KcFleetLinkTests::Network network{
            "S",
            "12",
            {{"/dev/ttyUSB0", "ground", 0, "12"}, {"/dev/ttyUSB1", "airborne", 0, "12"}}};
        QList<QJsonObject> links;
        for (const QString &outcome : change.mid(6).split(QStringLiteral(", ")))
            links << QJsonObject{{"network", "S"},
                                 {"id", "12"},
                                 {"outcome", outcome},
                                 {"radios", QJsonArray{QJsonObject{{"port", "/dev/ttyUSB0"}},
                                                       QJsonObject{{"port", "/dev/ttyUSB1"}}}}};
        QCOMPARE(KcFleetLinkTests::linkedBefore(links, network), done);
        return;
    }
    // Recorded: star MR300 airborne radio, index 3, /dev/ttyUSB1, ID 12, S102=1.
    QList<KcFleetRecordEntry> entries{entry("S", 0, "12"), entry("S", 1, "12")};
    entries[1].adapterSerial = QStringLiteral("FT1");
    entries[1].verified = change != QLatin1String("unverified");
    entries[1].radioType = change == QLatin1String("model") ? 1 : 0;
    entries[1].registers[102] = change == QLatin1String("S102") ? "7" : "1";
    if (change == QLatin1String("failed later")) {
        entries.append(entries.at(1));
        entries.last().outcome = QStringLiteral("refused");
    }
    const KcFleetPlan plan = KcFleetPlan::parse(
        Header + "S,ground,/dev/ttyUSB0,MR300,star,,,\nS,airborne," +
        (change == QLatin1String("serial") ? "serial=FT1" : "/dev/ttyUSB1") + ",MR300,star,," +
        (change == QLatin1String("index") ? "4" : "3") + ",\n");
    QVERIFY(plan.ok());
    const QString port = change == QLatin1String("port") ? "/dev/ttyUSB7" : "/dev/ttyUSB1";
    const QString id = change == QLatin1String("id") ? "13" : "012";
    QCOMPARE(KcFleetResume::isDone(entries, plan.radios.at(1), id, port), done);
}

void TstFleet::writer_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("error");        // a part of the error, when it fails
    QTest::addColumn<QStringList>("networks"); // read back after the appends
    QTest::newRow("new record") << "" << true << "" << QStringList{"A", "B"};
    QTest::newRow("after a torn line") << "torn" << true << "" << QStringList{"A", "A", "B"};
    QTest::newRow("held by a live process")
        << "live lock" << false << "is in use by" << QStringList();
    QTest::newRow("lock of a process that is gone")
        << "stale lock" << true << "" << QStringList{"A", "B"};
    QTest::newRow("disk full") << "full" << true << "cannot write" << QStringList();
    // /dev/null takes the lines and no sync; nothing is read back.
    QTest::newRow("device without a sync") << "null" << true << "" << QStringList();
    QTest::newRow("folder missing") << "no folder" << false << "cannot lock" << QStringList();
    QTest::newRow("held, through a link") << "link" << false << "is in use by" << QStringList();
    QTest::newRow("lock file naming no process")
        << "ownerless stale lock" << false << "may be stale" << QStringList();
    QTest::newRow("lock file naming no process: the lock is what to remove")
        << "ownerless stale lock" << false << "record.jsonl.lock and run again" << QStringList();
#ifdef Q_OS_UNIX // the second line goes in only in part: the record is cut back
    QTest::newRow("a device that accepts part of a write")
        << "partial" << true << "only 10 of" << QStringList{"A"};
#endif
}

void TstFleet::writer()
{
    QFETCH(QString, setup);
    QFETCH(bool, opens);
    QFETCH(QString, error);
    QFETCH(QStringList, networks);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("record.jsonl"));
    std::unique_ptr<QLockFile> otherLock;
    if (setup == QLatin1String("torn")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(entry("A", 0, "1").toJson()).toJson(QJsonDocument::Compact) +
                   "\n{\"network\":\"A\",\"ro");
    } else if (setup == QLatin1String("live lock") || setup == QLatin1String("link")) {
        otherLock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
        QVERIFY(otherLock->tryLock(0));
        // Held through the record's other name.
        if (setup == QLatin1String("link") && QFile(path).open(QIODevice::WriteOnly) &&
            QFile::link(path, path + ".link"))
            path += ".link";
    } else if (setup.endsWith(QLatin1String("stale lock"))) {
        // A lock left by a process that was killed: no process has an ID
        // as high as the system's limit.
        QFile limit(QStringLiteral("/proc/sys/kernel/pid_max"));
        QVERIFY(limit.open(QIODevice::ReadOnly));
        QFile lock(path + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        if (setup == QLatin1String("stale lock")) // else empty: it names no process
            lock.write(limit.readAll().trimmed() + "\nkcradio\n" +
                       QSysInfo::machineHostName().toUtf8() + '\n');
    } else if (setup == QLatin1String("full")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
    } else if (setup == QLatin1String("null")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    } else if (setup == QLatin1String("no folder")) {
        path = dir.filePath(QStringLiteral("gone/record.jsonl"));
    }

    KcFleetRecordWriter writer(path);
    QVERIFY2(writer.open() == opens, qPrintable(writer.errorString()));
    if (opens) {
        bool written = writer.append(entry("A", 0, "1"));
#ifdef Q_OS_UNIX // a size limit just past the first line: the system takes part of the next
        rlimit before = {};
        const bool partial =
            setup == QLatin1String("partial") && !::getrlimit(RLIMIT_FSIZE, &before);
        const rlimit limit = {rlim_t(QFileInfo(path).size() + 10), before.rlim_max};
        QVERIFY(!partial ||
                (std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && !::setrlimit(RLIMIT_FSIZE, &limit)));
#endif
        written = written && writer.append(entry("B", 1, "2"));
#ifdef Q_OS_UNIX
        QVERIFY(!partial || !::setrlimit(RLIMIT_FSIZE, &before));
#endif
        QCOMPARE(written, error.isEmpty());
    }
    QVERIFY2(writer.errorString().contains(error), qPrintable(writer.errorString()));
    if (!error.isEmpty() && networks.isEmpty())
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const KcFleetRecord::Contents contents = KcFleetRecord::parse(file.readAll());
    QStringList read;
    for (const KcFleetRecordEntry &e : contents.entries)
        read << e.network;
    QCOMPARE(read, networks);
    QCOMPARE(contents.problems.size(), setup == QLatin1String("torn") ? 1 : 0);
    QVERIFY(file.size() == 0 || (file.seek(file.size() - 1) && file.read(1) == "\n"));
}

// The sync behind every record line, on any platform.
void TstFleet::sync_data()
{
    QTest::addColumn<QString>("file"); // "" for a new file in a folder
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("synced");
    QTest::addColumn<QString>("error");
    const QString nothing = QFileInfo::exists(QStringLiteral("/dev/null"))
                                ? QStringLiteral("/dev/null")
                                : QStringLiteral("NUL");
    QTest::newRow("a file with a line") << "" << true << true << "";
    QTest::newRow("a file not open") << "" << false << false << "not open";
    QTest::newRow("a device that keeps nothing") << nothing << true << true << "";
}

void TstFleet::sync()
{
    QFETCH(QString, file);
    QFETCH(bool, open);
    QFETCH(bool, synced);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QFile target(file.isEmpty() ? dir.filePath(QStringLiteral("record.jsonl")) : file);
    if (open) {
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered));
        QCOMPARE(target.write("{}\n"), qint64(3));
    }
    QString why;
    QCOMPARE(KcFileSync::syncFile(target, &why), synced);
    QVERIFY2(why.contains(error), qPrintable(why));
}

void TstFleet::ports_data()
{
    QTest::addColumn<QByteArray>("rows");   // the plan's lines after the header; {d} is a folder
    QTest::addColumn<QStringList>("paths"); // resolved, {d} for the folder
    QTest::addColumn<QStringList>("problems");
    QTest::newRow("paths and an adapter")
        << QByteArray("A,ground,{d}/a,MR300,p2p,,,\nA,airborne,serial=FT2,MR300,p2p,,,\n")
        << QStringList{"{d}/a", "{d}/b"} << QStringList();
    QTest::newRow("one device through a link")
        << QByteArray("A,ground,{d}/a,MR300,p2p,,,\nA,airborne,{d}/link,MR300,p2p,,,\n")
        << QStringList{"{d}/a", "{d}/link"}
        << QStringList{"line 3: {d}/link is the port of line 2 ({d}/a) already"};
    QTest::newRow("a path and its adapter")
        << QByteArray("A,ground,{d}/b,MR300,p2p,,,\nA,airborne,serial=FT2,MR300,p2p,,,\n")
        << QStringList{"{d}/b", "{d}/b"}
        << QStringList{"line 3: serial=FT2 is the port of line 2 ({d}/b) already"};
    QTest::newRow("a device that is no serial port")
        << QByteArray("A,ground,/dev/null,MR300,p2p,,,\nA,airborne,{d}/a,MR300,p2p,,,\n")
        << QStringList{"", "{d}/a"}
        << QStringList{"line 2: /dev/null is a mem device, not a serial port"};
    QTest::newRow("a plain file and a folder, listed nowhere")
        << QByteArray("A,ground,{d}/e,MR300,p2p,,,\nA,airborne,{d},MR300,p2p,,,\n")
        << QStringList{"", ""}
        << QStringList{"line 2: {d}/e is a plain file, not a serial port",
                       "line 3: {d} is a folder, not a serial port"};
    QTest::newRow("busy port")
        << QByteArray("A,ground,{d}/c,MR300,p2p,,,\nA,airborne,{d}/a,MR300,p2p,,,\n")
        << QStringList{"{d}/c", "{d}/a"}
        << QStringList{"line 2: {d}/c is busy: another program holds it"};
    QTest::newRow("missing port and adapters")
        << QByteArray("A,ground,{d}/none,MR300,p2p,,,\nA,airborne,serial=XX,MR300,p2p,,,\n"
                      "B,ground,serial=TWIN,MR300,p2p,,,\n")
        << QStringList{"", "", ""}
        << QStringList{"line 2: no port {d}/none",
                       "line 3: no adapter with serial number XX is plugged in (kcradio ports "
                       "lists them)",
                       "line 4: adapters {d}/c, {d}/d all report serial number TWIN; name the "
                       "port by its path"};
}

void TstFleet::ports()
{
    QFETCH(QByteArray, rows);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, problems);
    QTemporaryDir dir;
    const QString d = QFileInfo(dir.path()).canonicalFilePath();
    for (const char *name : {"a", "b", "c", "d", "e"}) {
        QFile file(d + '/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(d + "/a", d + "/link"));
    auto port = [&](const char *name, const char *serial) {
        KcSerialPorts::Port p;
        p.name = d + '/' + name;
        p.serialNumber = QString::fromLatin1(serial);
        return p;
    };
    // Plain files stand for ports that the system lists.
    QList<KcSerialPorts::Port> available{port("b", "FT2"), port("c", "TWIN"), port("d", "TWIN"),
                                         port("a", "")};
    available[1].busy = true;
    const KcFleetPlan plan =
        KcFleetPlan::parse(Header + QByteArray(rows).replace("{d}", d.toUtf8()));
    QList<KcFleetProblem> found;
    const QList<KcFleetPorts::Resolved> resolved =
        KcFleetPorts::resolve(plan.radios, available, found);
    QStringList got;
    for (const KcFleetPorts::Resolved &r : resolved)
        got << QString(r.path).replace(d, QStringLiteral("{d}"));
    QCOMPARE(got, paths);
    QCOMPARE(described(found).replaceInStrings(d, QStringLiteral("{d}")), problems);
    if (QTest::currentDataTag() == QLatin1String("paths and an adapter"))
        QCOMPARE(resolved.at(1).adapterSerial, QStringLiteral("FT2"));
}

void TstFleet::check_data()
{
    QTest::addColumn<int>("radioType");
    QTest::addColumn<int>("netMode");
    QTest::addColumn<QStringList>("radios");   // "102=1 104=5 ..." per radio, ground first
    QTest::addColumn<QStringList>("findings"); // "radio: description"
    QTest::newRow("p2p MR300S pair at 230400 and 9600")
        << 2 << 0 << QStringList{"102=0 103=2 104=77 113=3", "102=7 103=0 104=0077 113=3"}
        << QStringList();
    QTest::newRow("p2p, different IDs and a wrong S103")
        << 0 << 0 << QStringList{"102=1 103=0 104=77 113=0", "102=0 103=0 104=78 113=0"}
        << QStringList{"1: S104 holds 78, the ground radio's is 77",
                       "1: S103 holds 0, a configuration leaves 2 with S102=0"};
    QTest::newRow("star: S102, S113, missing ID, indexes")
        << 1 << 1
        << QStringList{"102=1 103=1 113=0", "102=7 103=1 104=5 105=3 113=3",
                       "102=1 103=1 104=5 105=3 113=0", "102=1 103=1 104=5 105=1 113=0"}
        << QStringList{"0: S104 is not listed, the network's ID",
                       "1: S102 holds 7, a configuration leaves 1",
                       "1: S113 holds 3, a configuration leaves 0 on this model",
                       "2: S105 holds 3, index 2 is airborne radio 1's as well",
                       "3: S105 holds 1, an airborne radio's index plus one, 2 to 101"};
    QTest::newRow("star: index 100 fits")
        << 1 << 1 << QStringList{"102=1 103=1 104=5 113=0", "102=1 103=1 104=5 105=101 113=0"}
        << QStringList();
}

void TstFleet::check()
{
    QFETCH(int, radioType);
    QFETCH(int, netMode);
    QFETCH(QStringList, radios);
    QFETCH(QStringList, findings);
    QList<QMap<int, QString>> registers;
    for (const QString &radio : radios) {
        QMap<int, QString> map;
        for (const QString &pair : radio.split(' '))
            map.insert(pair.section('=', 0, 0).toInt(), pair.section('=', 1));
        registers << map;
    }
    QStringList got;
    for (const KcFleetCheck::Finding &finding : KcFleetCheck::judge(radioType, netMode, registers))
        got << QStringLiteral("%1: %2").arg(finding.radio).arg(finding.describe());
    QCOMPARE(got, findings);
}

QTEST_GUILESS_MAIN(TstFleet)
#include "tst_fleet.moc"
