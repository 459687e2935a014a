#include "kclinktest.h"

#include "kcradiocommandlink.h"
#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"

#include <QJsonArray>
#include <QSerialPort>

#include <algorithm>

namespace {

// Bits per byte on a serial line (start, 8 data, stop).
constexpr int LineBitsPerByte = 10;
constexpr int ReportEveryMs = 1000;

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
        if (!reading.openError.isEmpty())
            return end(Outcome::PortFailed,
                       QStringLiteral("cannot open %1: %2").arg(port, reading.openError));
        if (!reading.lost.isEmpty())
            return end(Outcome::PortFailed, QStringLiteral("port lost: %1").arg(reading.lost));
    }
    for (int i = 0; i < mRadios.size(); ++i) {
        if (mRadios.at(i).rate > 0 && !mRadios.at(i).id.isEmpty())
            continue;
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
    for (int i = 0; i < mRadios.size(); ++i) {
        auto *port = new QSerialPort(mRadios.at(i).port, this);
        mPorts.append(port);
        port->setBaudRate(mRadios.at(i).rate);
        if (!port->open(QIODevice::ReadWrite))
            return end(
                Outcome::PortFailed,
                QStringLiteral("cannot open %1: %2").arg(mRadios.at(i).port, port->errorString()));
        port->clear();
        connect(port, &QSerialPort::readyRead, this, [this, i]() { onReadable(i); });
        connect(port, &QSerialPort::errorOccurred, this,
                [this, i](QSerialPort::SerialPortError error) {
                    if (error == QSerialPort::ResourceError && mOutcome == Outcome::Running)
                        end(Outcome::PortFailed,
                            QStringLiteral("port lost: %1").arg(mRadios.at(i).port));
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
            mRows.append(Row{0, to, KcLinkTally(), 0});
    } else {
        mRows.append(Row{phase, 0, KcLinkTally(), 0});
    }
    mSentAt.clear();
    mSending = true;
    mPhaseStart = KcRadioTiming::nowMs();
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
    const qint64 owed = mRate * (now - mPhaseStart) / 1000 + KcLinkFrameCoder::FrameBytes;
    QByteArray bytes;
    while (qint64(mSentAt.size() + 1) * KcLinkFrameCoder::FrameBytes <= owed) {
        bytes += KcLinkFrameCoder::encode(mPhase, quint32(mSentAt.size()));
        mSentAt.append(now);
    }
    if (!bytes.isEmpty())
        mPorts.at(mPhase)->write(bytes);
}

void KcLinkTest::onReadable(int index)
{
    const QByteArray bytes = mPorts.at(index)->readAll();
    if (mPhase < 0 || mOutcome != Outcome::Running)
        return;
    const qint64 now = KcRadioTiming::nowMs();
    for (const KcLinkFrameCoder::Decoded &frame : mCoders[index].feed(bytes)) {
        for (Row &row : mRows) {
            if (row.to != index || row.from != mPhase)
                continue;
            if (!frame.intact)
                row.tally.corrupt();
            // A frame of an earlier direction, or one never sent, is not ours.
            else if (frame.direction == mPhase && frame.sequence < quint32(mSentAt.size()))
                row.tally.received(frame.sequence, mSentAt.at(int(frame.sequence)), now,
                                   mPhaseStart);
        }
    }
    if (!mSending && phaseComplete())
        endPhase();
}

bool KcLinkTest::phaseComplete() const
{
    for (const Row &row : mRows)
        if (row.from == mPhase && row.tally.receivedFrames() < mSentAt.size())
            return false;
    return true;
}

void KcLinkTest::endSending()
{
    mSending = false;
    mTick->stop();
    for (Row &row : mRows)
        if (row.from == mPhase) {
            row.tally.setSent(mSentAt.size(), KcLinkFrameCoder::FrameBytes);
            row.durationMs = KcRadioTiming::nowMs() - mPhaseStart;
        }
    // Up to DrainLimitMs more for the last frames to arrive.
    if (phaseComplete())
        endPhase();
    else
        mPhaseTimer->start(DrainLimitMs);
}

void KcLinkTest::reportPhase()
{
    for (const Row &row : qAsConst(mRows))
        if (row.from == mPhase)
            emit frames(row.from, row.to, mSentAt.size(), row.tally.receivedFrames());
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
    for (const Row &row : qAsConst(mRows)) {
        if (row.tally.delivery() >= mOptions.minDelivery)
            continue;
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
            if (row.from == mPhase) {
                row.tally.setSent(mSentAt.size(), KcLinkFrameCoder::FrameBytes);
                row.durationMs = KcRadioTiming::nowMs() - mPhaseStart;
            }
    mSending = false;
    mTick->stop();
    mPhaseTimer->stop();
    mReportTimer->stop();
    closePorts();
    mOutcome = outcome;
    mReason = reason;
    emit finished();
}

void KcLinkTest::closePorts()
{
    // The radios are in data mode and stay there: nothing is written now.
    for (QSerialPort *port : qAsConst(mPorts)) {
        port->disconnect(this);
        if (port->isOpen())
            port->close();
    }
}

QJsonObject KcLinkTest::rowJson(const Row &row, const QList<KcLinkRadio> &radios)
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
        {QStringLiteral("framesDuplicated"), t.duplicated()},
        {QStringLiteral("framesOutOfOrder"), t.outOfOrder()},
        {QStringLiteral("delivery"), qRound(t.delivery() * 10000) / 10000.0},
        {QStringLiteral("goodputBytesPerSecond"), qRound(t.goodputBytesPerSecond(row.durationMs))},
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
        directions.append(rowJson(row, mRadios));
    QJsonObject object{{QStringLiteral("outcome"), outcomeName(mOutcome)},
                       {QStringLiteral("radios"), radios},
                       {QStringLiteral("directions"), directions},
                       {QStringLiteral("seconds"), mOptions.seconds},
                       {QStringLiteral("bytesPerSecond"), mRate},
                       {QStringLiteral("minDelivery"), mOptions.minDelivery}};
    if (!mReason.isEmpty())
        object.insert(QStringLiteral("reason"), mReason);
    return object;
}

QString KcLinkTest::table() const
{
    int width = 4;
    for (const KcLinkRadio &radio : mRadios)
        width = qMax(width, radio.who().size());
    QString text = QStringLiteral("%1  %2  %3 %4 %5 %6 %7 %8  %9")
                       .arg(QStringLiteral("FROM"), -width)
                       .arg(QStringLiteral("TO"), -width)
                       .arg(QStringLiteral("SENT"), 5)
                       .arg(QStringLiteral("RECV"), 5)
                       .arg(QStringLiteral("BAD"), 4)
                       .arg(QStringLiteral("LOST"), 5)
                       .arg(QStringLiteral("DELIVERY"), 8)
                       .arg(QStringLiteral("B/S"), 6)
                       .arg(QStringLiteral("LATENCY p50/p95/max ms"));
    for (const Row &row : mRows) {
        const KcLinkTally &t = row.tally;
        text += QStringLiteral("\n%1  %2  %3 %4 %5 %6 %7 %8  %9/%10/%11")
                    .arg(mRadios.at(row.from).who(), -width)
                    .arg(mRadios.at(row.to).who(), -width)
                    .arg(t.sent(), 5)
                    .arg(t.receivedFrames(), 5)
                    .arg(t.corruptFrames(), 4)
                    .arg(t.lost(), 5)
                    .arg(percent(t.delivery()), 8)
                    .arg(qRound(t.goodputBytesPerSecond(row.durationMs)), 6)
                    .arg(t.latencyPercentileMs(50))
                    .arg(t.latencyPercentileMs(95))
                    .arg(t.latencyPercentileMs(100));
    }
    return text;
}
