#include "kclinktest.h"

#include "kcradiocommandlink.h"
#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSerialPort>

#include <algorithm>

namespace {

// Bits per byte on a serial line (start, 8 data, stop).
constexpr int LineBitsPerByte = 10;
constexpr int ReportEveryMs = 1000;
// Enough of a port's last bytes to find "NO CARRIER" split over two reads.
constexpr int AnswerTailBytes = 16;

bool sameId(const QString &a, const QString &b)
{
    bool okA = false;
    bool okB = false;
    const qulonglong x = a.toULongLong(&okA);
    const qulonglong y = b.toULongLong(&okB);
    return okA && okB ? x == y : a == b;
}

QString percent(double ratio)
{
    return QString::number(ratio * 100.0, 'f', 1) + QStringLiteral(" %");
}

} // namespace

KcLinkTest::KcLinkTest(const QList<KcLinkRadio> &radios, const Options &options, QObject *parent)
    : QObject(parent), mRadios(radios), mOptions(options)
{
    mTick = new KcRadioTimer(this);
    connect(mTick, &KcRadioTimer::timeout, this, &KcLinkTest::sendDue);
    mPhaseTimer = new KcRadioTimer(this);
    mPhaseTimer->setSingleShot(true);
    connect(mPhaseTimer, &KcRadioTimer::timeout, this, [this]() {
        if (mSending)
            endSending();
        else
            endPhase();
    });
    mReportTimer = new KcRadioTimer(this);
    connect(mReportTimer, &KcRadioTimer::timeout, this, &KcLinkTest::reportPhase);
    mReturnTimer = new KcRadioTimer(this);
    mReturnTimer->setSingleShot(true);
    connect(mReturnTimer, &KcRadioTimer::timeout, this, [this]() {
        mReturnWaitOver = true;
        judge();
    });
}

KcLinkTest::~KcLinkTest()
{
    closePorts();
}

QString KcLinkTest::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Running:
        return QStringLiteral("running");
    case Outcome::Linked:
        return QStringLiteral("linked");
    case Outcome::NotLinked:
        return QStringLiteral("not-linked");
    case Outcome::DifferentIds:
        return QStringLiteral("different-ids");
    case Outcome::Unreadable:
        return QStringLiteral("unreadable");
    case Outcome::Silent:
        return QStringLiteral("silent");
    case Outcome::PortFailed:
        return QStringLiteral("port-failed");
    case Outcome::Interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

void KcLinkTest::start()
{
    mReadings.resize(mRadios.size());
    for (int i = 0; i < mRadios.size(); ++i)
        mReadings[i].done = mRadios.at(i).rate > 0 && !mRadios.at(i).id.isEmpty();
    readRadios();
    proceedWhenRead();
}

void KcLinkTest::readRadios()
{
    // All at the same time: each on its own port and link.
    for (int i = 0; i < mRadios.size(); ++i) {
        if (mReadings.at(i).done)
            continue;
        auto *reader = new KcRadioParamReader(this);
        mReadings[i].reader = reader;
        KcRadioCommandLink *link = reader->link();
        link->setRecoversCommandMode(true);
        reader->setCadence(mOptions.cadence);
        reader->setListingWaitMs(KcRadioTiming::commandIntervalMs());
        connect(
            link, &KcRadioCommandLink::openFailed, this,
            [this, i](const QString &, const QString &error) { mReadings[i].openError = error; });
        connect(link, &KcRadioCommandLink::portLost, this,
                [this, i](const QString &port) { mReadings[i].lost = port; });
        connect(link, &KcRadioCommandLink::commandModeEntered, this, [this, i, link]() {
            if (mReadings.at(i).entered)
                return;
            mReadings[i].entered = true;
            emit commandModeEntered(i, link->baudRate());
        });
        connect(link, &KcRadioCommandLink::portReleased, this, &KcLinkTest::proceedWhenRead);
        connect(reader, &KcRadioParamReader::sigRadioIDReady, this,
                [this, i](bool ok, const QString &, const QString &id, int rateCode) {
                    onRead(i, ok, id, rateCode);
                });
        reader->readRadioParam(mRadios.at(i).port);
    }
}

void KcLinkTest::onRead(int index, bool ok, const QString &id, int rateCode)
{
    Reading &reading = mReadings[index];
    reading.done = true;
    if (ok) {
        mRadios[index].id = id;
        mRadios[index].rate = KcRadioProtocol::baudRateForCode(rateCode);
        emit radioRead(index);
    }
    proceedWhenRead();
}

void KcLinkTest::proceedWhenRead()
{
    if (mOutcome != Outcome::Running || mPhase >= 0 || !mPorts.isEmpty())
        return;
    for (const Reading &reading : qAsConst(mReadings))
        if (!reading.done || (reading.reader && reading.reader->link()->isReleasing()))
            return; // a port is still held
    if (mAborting) {
        end(Outcome::Interrupted, QStringLiteral("interrupted"));
        return;
    }
    // The worst failure of a read decides.
    for (int i = 0; i < mRadios.size(); ++i) {
        const Reading &reading = mReadings.at(i);
        const QString &port = mRadios.at(i).port;
        if (!reading.openError.isEmpty() || !reading.lost.isEmpty())
            mFailedRadio = i;
        if (!reading.openError.isEmpty())
            return end(Outcome::PortFailed,
                       QStringLiteral("cannot open %1: %2").arg(port, reading.openError));
        if (!reading.lost.isEmpty())
            return end(Outcome::PortFailed, QStringLiteral("port lost: %1").arg(reading.lost));
    }
    for (int i = 0; i < mRadios.size(); ++i) {
        if (mRadios.at(i).rate > 0 && !mRadios.at(i).id.isEmpty())
            continue;
        mFailedRadio = i;
        if (!mReadings.at(i).entered)
            return end(Outcome::Silent,
                       QStringLiteral("%1: no answer to the escape").arg(mRadios.at(i).who()));
        return end(Outcome::Unreadable,
                   QStringLiteral("%1: the radio listed no ID").arg(mRadios.at(i).who()));
    }
    QStringList differing;
    for (int i = 1; i < mRadios.size(); ++i)
        if (!sameId(mRadios.at(0).id, mRadios.at(i).id))
            differing
                << QStringLiteral("%1 holds ID %2").arg(mRadios.at(i).who(), mRadios.at(i).id);
    if (!differing.isEmpty())
        return end(Outcome::DifferentIds,
                   QStringLiteral("different radio IDs, nothing sent: %1 holds ID %2, %3")
                       .arg(mRadios.at(0).who(), mRadios.at(0).id, differing.join(", ")));
    openPorts();
}

void KcLinkTest::openPorts()
{
    // Never more than half what the slower line carries: the frames must
    // not queue up in front of the radio.
    int slowest = mRadios.first().rate;
    for (const KcLinkRadio &radio : qAsConst(mRadios))
        slowest = qMin(slowest, radio.rate);
    mRate = qMax(1, qMin(mOptions.bytesPerSecond, slowest / LineBitsPerByte / 2));
    mCoders.resize(mRadios.size());
    mSentAt.resize(mRadios.size());
    mPhaseStarts.resize(mRadios.size());
    mReturns.fill(Return::None, mRadios.size());
    mAnswerTails.resize(mRadios.size());
    for (int i = 0; i < mRadios.size(); ++i) {
        auto *port = new QSerialPort(mRadios.at(i).port, this);
        mPorts.append(port);
        port->setBaudRate(mRadios.at(i).rate);
        if (!port->open(QIODevice::ReadWrite)) {
            mFailedRadio = i;
            return end(
                Outcome::PortFailed,
                QStringLiteral("cannot open %1: %2").arg(mRadios.at(i).port, port->errorString()));
        }
        port->clear();
        connect(port, &QSerialPort::readyRead, this, [this, i]() { onReadable(i); });
        connect(
            port, &QSerialPort::errorOccurred, this, [this, i](QSerialPort::SerialPortError error) {
                if (error != QSerialPort::ResourceError || mOutcome != Outcome::Running)
                    return;
                mFailedRadio = i;
                end(Outcome::PortFailed, QStringLiteral("port lost: %1").arg(mRadios.at(i).port));
            });
    }
    emit trafficStarted(mRate, mOptions.seconds);
    startPhase(0);
}

void KcLinkTest::startPhase(int phase)
{
    mPhase = phase;
    if (phase == 0) {
        for (int to = 1; to < mRadios.size(); ++to)
            mRows.append(Row{0, to, KcLinkTally()});
    } else {
        mRows.append(Row{phase, 0, KcLinkTally()});
    }
    mSentAt[phase].clear();
    mSending = true;
    mPhaseStarts[phase] = KcRadioTiming::nowMs();
    sendDue();
    mTick->start(TickMs);
    mPhaseTimer->start(mOptions.seconds * 1000);
    mReportTimer->start(ReportEveryMs);
}

void KcLinkTest::sendDue()
{
    if (!mSending)
        return;
    const qint64 now = KcRadioTiming::nowMs();
    const qint64 owed =
        mRate * (now - mPhaseStarts.at(mPhase)) / 1000 + KcLinkFrameCoder::FrameBytes;
    QVector<qint64> &sentAt = mSentAt[mPhase];
    QByteArray bytes;
    while (qint64(sentAt.size() + 1) * KcLinkFrameCoder::FrameBytes <= owed) {
        bytes += KcLinkFrameCoder::encode(mPhase, quint32(sentAt.size()));
        sentAt.append(now);
    }
    if (!bytes.isEmpty())
        mPorts.at(mPhase)->write(bytes);
}

int KcLinkTest::plannedFrames() const
{
    // One frame ahead of the load, as sendDue() sends.
    return int(qint64(mRate) * mOptions.seconds / KcLinkFrameCoder::FrameBytes) + 1;
}

KcLinkTest::Row *KcLinkTest::rowOf(int from, int to)
{
    for (Row &row : mRows)
        if (row.from == from && row.to == to)
            return &row;
    return nullptr;
}

void KcLinkTest::onReadable(int index)
{
    const QByteArray bytes = mPorts.at(index)->readAll();
    if (mPhase < 0 || mOutcome != Outcome::Running)
        return;
    noticeAnswers(index, bytes);
    const qint64 now = KcRadioTiming::nowMs();
    bool arrived = false;
    for (const KcLinkFrameCoder::Decoded &frame : mCoders[index].feed(bytes)) {
        // A corrupt frame tells no direction: it counts against the running one.
        Row *row = rowOf(frame.intact ? frame.direction : mPhase, index);
        if (!row)
            continue; // not meant for this radio
        if (!frame.intact) {
            row->tally.corrupt();
            continue;
        }
        const QVector<qint64> &sentAt = mSentAt.at(frame.direction);
        if (frame.sequence >= quint32(sentAt.size()))
            continue; // never sent: not ours
        // A direction that ended stopped waiting: its frame is late, not lost.
        const bool late = frame.direction != mPhase;
        row->tally.received(frame.sequence, sentAt.at(int(frame.sequence)), now,
                            mPhaseStarts.at(frame.direction), late);
        arrived = arrived || !late;
    }
    if (!mSending && arrived && !mJudging) {
        if (phaseComplete())
            endPhase();
        else
            waitForLastFrames();
    }
}

void KcLinkTest::noticeAnswers(int index, const QByteArray &bytes)
{
    // Frames hold only lower-case hex digits and letters: upper-case words
    // on the line are the radio's own, as a modem in command mode.
    const QByteArray text = mAnswerTails.at(index) + bytes;
    mAnswerTails[index] = text.right(AnswerTailBytes);
    if (mReturns.at(index) == Return::Sent) {
        if (text.contains("CONNECT")) {
            mReturns[index] = Return::Back;
            mAnswerTails[index].clear();
            if (mJudging)
                judge();
        }
        return;
    }
    QString answer;
    if (text.contains("NO CARRIER"))
        answer = QStringLiteral("NO CARRIER");
    else if (text.contains("OK\r") || text.contains("OK\n"))
        answer = QStringLiteral("OK");
    if (answer.isEmpty())
        return;
    mLeftDataMode << QStringLiteral("%1 answered %2").arg(mRadios.at(index).who(), answer);
    mReturns[index] = Return::Sent;
    mAnswerTails[index].clear();
    // The CR first ends whatever the frames left on its command line.
    mPorts.at(index)->write("\rATA\r");
}

bool KcLinkTest::phaseComplete() const
{
    for (const Row &row : mRows)
        if (row.from == mPhase && row.tally.receivedFrames() < mSentAt.at(mPhase).size())
            return false;
    return true;
}

void KcLinkTest::endSending()
{
    mSending = false;
    mTick->stop();
    for (Row &row : mRows)
        if (row.from == mPhase)
            row.tally.setSent(mSentAt.at(mPhase).size(), KcLinkFrameCoder::FrameBytes);
    mSendingEnded = KcRadioTiming::nowMs();
    mWaitLimit = mSendingEnded + DrainLimitMs;
    if (phaseComplete())
        endPhase();
    else
        waitForLastFrames();
}

void KcLinkTest::waitForLastFrames()
{
    // Until frames stop coming: a quiet spell after the last arrival, longer
    // on a slow link. Before the first frame of the direction, to the limit.
    qint64 lastArrival = -1;
    qint64 slowest = 0;
    for (const Row &row : qAsConst(mRows))
        if (row.from == mPhase && row.tally.receivedFrames() > 0) {
            lastArrival = qMax(lastArrival, mPhaseStarts.at(mPhase) + row.tally.spanMs());
            slowest = qMax(slowest, row.tally.latencyPercentileMs(100));
        }
    qint64 deadline = mWaitLimit;
    if (lastArrival >= 0)
        deadline =
            qMin(deadline, qMax(lastArrival, mSendingEnded) + qMax<qint64>(QuietMs, 2 * slowest));
    mPhaseTimer->start(int(qMax<qint64>(0, deadline - KcRadioTiming::nowMs())));
}

void KcLinkTest::reportPhase()
{
    for (const Row &row : qAsConst(mRows))
        if (row.from == mPhase)
            emit frames(row.from, row.to, mSentAt.at(mPhase).size(), row.tally.receivedFrames());
}

void KcLinkTest::endPhase()
{
    mPhaseTimer->stop();
    mReportTimer->stop();
    reportPhase();
    if (mPhase + 1 < mRadios.size())
        startPhase(mPhase + 1);
    else
        judge();
}

void KcLinkTest::judge()
{
    mJudging = true;
    QStringList notBack;
    for (int i = 0; i < mReturns.size(); ++i)
        if (mReturns.at(i) == Return::Sent)
            notBack << mRadios.at(i).who();
    // A radio sent back to data mode says so before the run ends.
    if (!notBack.isEmpty() && !mReturnWaitOver) {
        if (!mReturnTimer->isActive())
            mReturnTimer->start(ReturnWaitMs);
        return;
    }
    mReturnTimer->stop();
    if (!mLeftDataMode.isEmpty()) {
        QString reason =
            QStringLiteral("left data mode during the traffic (%1); sent back with ATA")
                .arg(mLeftDataMode.join(QStringLiteral(", ")));
        if (!notBack.isEmpty())
            reason +=
                QStringLiteral(", no CONNECT from %1").arg(notBack.join(QStringLiteral(", ")));
        return end(Outcome::NotLinked, reason);
    }
    for (int i = 0; i < mRows.size(); ++i) {
        const Row &row = mRows.at(i);
        // A direction that delivered nothing never passes, whatever the threshold.
        if (row.tally.receivedFrames() > 0 && row.tally.delivery() >= mOptions.minDelivery)
            continue;
        mFailedRow = i;
        const KcLinkRadio &from = mRadios.at(row.from);
        const KcLinkRadio &to = mRadios.at(row.to);
        if (row.tally.receivedFrames() == 0)
            return end(Outcome::NotLinked,
                       QStringLiteral("no frame from %1 reached %2 (IDs %3 and %4)")
                           .arg(from.who(), to.who(), from.id, to.id));
        return end(Outcome::NotLinked,
                   QStringLiteral("%1 received %2 of the frames from %3 (at least %4 needed)")
                       .arg(to.who(), percent(row.tally.delivery()), from.who(),
                            percent(mOptions.minDelivery)));
    }
    end(Outcome::Linked, QString());
}

void KcLinkTest::abort()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    mAborting = true;
    mTick->stop();
    mPhaseTimer->stop();
    mReportTimer->stop();
    if (!mPorts.isEmpty() || mPhase >= 0) {
        end(Outcome::Interrupted, QStringLiteral("interrupted"));
        return;
    }
    for (Reading &reading : mReadings)
        if (reading.reader && !reading.done) {
            reading.reader->abort();
            reading.done = true;
        }
    proceedWhenRead();
}

void KcLinkTest::end(Outcome outcome, const QString &reason)
{
    if (mOutcome != Outcome::Running)
        return;
    // A direction cut short counts what it sent so far.
    if (mSending)
        for (Row &row : mRows)
            if (row.from == mPhase)
                row.tally.setSent(mSentAt.at(mPhase).size(), KcLinkFrameCoder::FrameBytes);
    mSending = false;
    mTick->stop();
    mPhaseTimer->stop();
    mReportTimer->stop();
    mReturnTimer->stop();
    closePorts();
    mOutcome = outcome;
    mReason = reason;
    emit finished();
}

void KcLinkTest::closePorts()
{
    // The radios are in data mode and stay there: nothing more is written,
    // but an "ATA" that sends a radio back goes out before the port closes.
    for (int i = 0; i < mPorts.size(); ++i) {
        QSerialPort *port = mPorts.at(i);
        port->disconnect(this);
        if (!port->isOpen())
            continue;
        if (i < mReturns.size() && mReturns.at(i) == Return::Sent)
            port->flush();
        port->close();
    }
}

QJsonObject KcLinkTest::rowJson(const Row &row, const QList<KcLinkRadio> &radios,
                                int bytesPerSecond)
{
    const KcLinkTally &t = row.tally;
    auto ms = [](qint64 value) { return value < 0 ? QJsonValue() : QJsonValue(value); };
    return QJsonObject{
        {QStringLiteral("from"), radios.at(row.from).who()},
        {QStringLiteral("to"), radios.at(row.to).who()},
        {QStringLiteral("framesSent"), t.sent()},
        {QStringLiteral("framesReceived"), t.receivedFrames()},
        {QStringLiteral("framesCorrupt"), t.corruptFrames()},
        {QStringLiteral("framesLost"), t.lost()},
        {QStringLiteral("framesLate"), t.late()},
        {QStringLiteral("framesDuplicated"), t.duplicated()},
        {QStringLiteral("framesOutOfOrder"), t.outOfOrder()},
        {QStringLiteral("delivery"), qRound(t.delivery() * 10000) / 10000.0},
        {QStringLiteral("goodputBytesPerSecond"), qRound(t.goodputBytesPerSecond(bytesPerSecond))},
        {QStringLiteral("latencyMs"),
         QJsonObject{{QStringLiteral("p50"), ms(t.latencyPercentileMs(50))},
                     {QStringLiteral("p95"), ms(t.latencyPercentileMs(95))},
                     {QStringLiteral("max"), ms(t.latencyPercentileMs(100))}}},
        {QStringLiteral("firstFrameMs"), ms(t.firstFrameMs())}};
}

QJsonObject KcLinkTest::toJson() const
{
    QJsonArray radios;
    for (const KcLinkRadio &radio : mRadios)
        radios.append(QJsonObject{{QStringLiteral("port"), radio.port},
                                  {QStringLiteral("role"), radio.role},
                                  {QStringLiteral("rate"), radio.rate},
                                  {QStringLiteral("id"), radio.id}});
    QJsonArray directions;
    for (const Row &row : mRows)
        directions.append(rowJson(row, mRadios, mRate));
    QJsonObject object{{QStringLiteral("outcome"), outcomeName(mOutcome)},
                       {QStringLiteral("radios"), radios},
                       {QStringLiteral("directions"), directions},
                       {QStringLiteral("seconds"), mOptions.seconds},
                       {QStringLiteral("bytesPerSecond"), mRate},
                       {QStringLiteral("minDelivery"), mOptions.minDelivery}};
    if (!mReason.isEmpty())
        object.insert(QStringLiteral("reason"), mReason);
    if (!mLeftDataMode.isEmpty())
        object.insert(QStringLiteral("leftDataMode"), QJsonArray::fromStringList(mLeftDataMode));
    return object;
}

QJsonObject KcLinkTest::recordLine(const QString &id) const
{
    QJsonObject line = toJson();
    line.insert(QStringLiteral("kind"), QStringLiteral("link"));
    line.insert(QStringLiteral("id"), id);
    line.insert(QStringLiteral("time"),
                QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    line.insert(QStringLiteral("version"), QStringLiteral(KC_VERSION));
    return line;
}

QString KcLinkTest::table() const
{
    int width = 4;
    for (const KcLinkRadio &radio : mRadios)
        width = qMax(width, radio.who().size());
    QString text = QStringLiteral("%1  %2  %3 %4 %5 %6 %7 %8 %9  %10")
                       .arg(QStringLiteral("FROM"), -width)
                       .arg(QStringLiteral("TO"), -width)
                       .arg(QStringLiteral("SENT"), 5)
                       .arg(QStringLiteral("RECV"), 5)
                       .arg(QStringLiteral("BAD"), 4)
                       .arg(QStringLiteral("LOST"), 5)
                       .arg(QStringLiteral("LATE"), 5)
                       .arg(QStringLiteral("DELIVERY"), 8)
                       .arg(QStringLiteral("B/S"), 6)
                       .arg(QStringLiteral("LATENCY p50/p95/max ms"));
    for (const Row &row : mRows) {
        const KcLinkTally &t = row.tally;
        text += QStringLiteral("\n%1  %2  %3 %4 %5 %6 %7 %8 %9  %10/%11/%12")
                    .arg(mRadios.at(row.from).who(), -width)
                    .arg(mRadios.at(row.to).who(), -width)
                    .arg(t.sent(), 5)
                    .arg(t.receivedFrames(), 5)
                    .arg(t.corruptFrames(), 4)
                    .arg(t.lost(), 5)
                    .arg(t.late(), 5)
                    .arg(percent(t.delivery()), 8)
                    .arg(qRound(t.goodputBytesPerSecond(mRate)), 6)
                    .arg(t.latencyPercentileMs(50))
                    .arg(t.latencyPercentileMs(95))
                    .arg(t.latencyPercentileMs(100));
    }
    return text;
}
