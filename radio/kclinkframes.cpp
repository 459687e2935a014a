#include "kclinkframes.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int DirectionDigits = 2;
constexpr int SequenceDigits = 8;
constexpr int CrcDigits = 8;
constexpr int BodyBytes = KcLinkFrameCoder::FrameBytes - 1 - CrcDigits;
constexpr int FillerBytes = BodyBytes - DirectionDigits - SequenceDigits;

QByteArray hex(quint32 value, int digits)
{
    return QByteArray::number(value, 16).rightJustified(digits, '0');
}

bool readHex(const QByteArray &text, quint32 &value)
{
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    bool ok = false;
    value = text.toUInt(&ok, 16);
    return ok;
}

} // namespace

quint32 KcLinkFrameCoder::crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray KcLinkFrameCoder::encode(int direction, quint32 sequence)
{
    QByteArray body =
        hex(quint32(direction) & 0xff, DirectionDigits) + hex(sequence, SequenceDigits);
    // The filler changes with the sequence, so that frames differ throughout.
    for (int i = 0; i < FillerBytes; ++i)
        body += char('g' + (sequence * 7 + quint32(i)) % 20);
    return Start + body + hex(crc32(body), CrcDigits);
}

KcLinkFrameCoder::Decoded KcLinkFrameCoder::decode(const QByteArray &frame)
{
    Decoded decoded;
    const QByteArray body = frame.mid(1, BodyBytes);
    quint32 crc = 0;
    quint32 direction = 0;
    if (!readHex(frame.mid(1 + BodyBytes), crc) || crc != crc32(body) ||
        !readHex(body.left(DirectionDigits), direction) ||
        !readHex(body.mid(DirectionDigits, SequenceDigits), decoded.sequence))
        return decoded;
    decoded.intact = true;
    decoded.direction = int(direction);
    return decoded;
}

QList<KcLinkFrameCoder::Decoded> KcLinkFrameCoder::feed(const QByteArray &bytes)
{
    QList<Decoded> frames;
    for (const char c : bytes) {
        if (c == Start) {
            mPartial = QByteArray(1, Start);
            continue;
        }
        if (mPartial.isEmpty())
            continue;
        mPartial += c;
        if (mPartial.size() == FrameBytes) {
            frames.append(decode(mPartial));
            mPartial.clear();
        }
    }
    return frames;
}

void KcLinkTally::received(quint32 sequence, qint64 sentAtMs, qint64 atMs, qint64 startMs,
                           bool late)
{
    if (sequence >= quint32(mSeen.size()))
        mSeen.resize(int(sequence) + 1);
    if (mSeen.at(int(sequence))) {
        ++mDuplicated;
        return;
    }
    mSeen[int(sequence)] = true;
    if (qint64(sequence) < mHighest)
        ++mOutOfOrder;
    mHighest = qMax(mHighest, qint64(sequence));
    ++mReceived;
    if (late)
        ++mLate;
    mSpanMs = qMax(mSpanMs, atMs - startMs);
    mLatencies.append(qMax<qint64>(0, atMs - sentAtMs));
    if (mFirstFrameMs < 0)
        mFirstFrameMs = qMax<qint64>(0, atMs - startMs);
}

double KcLinkTally::delivery() const
{
    return mSent > 0 ? double(qMin(mReceived, mSent)) / double(mSent) : 0.0;
}

int KcLinkTally::corruptFrames() const
{
    return mSent > 0 ? qMin(mCorrupt, qMax(0, mSent - mReceived)) : mCorrupt;
}

double KcLinkTally::goodputBytesPerSecond(int offeredBytesPerSecond) const
{
    const double bytes = double(mReceived) * mFrameBytes;
    double spanMs = double(mSpanMs);
    if (offeredBytesPerSecond > 0)
        spanMs = qMax(spanMs, double(mSent) * mFrameBytes * 1000.0 / offeredBytesPerSecond);
    return spanMs > 0 ? bytes * 1000.0 / spanMs : 0.0;
}

qint64 KcLinkTally::latencyPercentileMs(double p) const
{
    return percentile(mLatencies, p);
}

qint64 KcLinkTally::percentile(QVector<qint64> values, double p)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const int rank = int(std::ceil(qBound(0.0, p, 100.0) / 100.0 * values.size()));
    return values.at(qBound(0, rank - 1, values.size() - 1));
}
