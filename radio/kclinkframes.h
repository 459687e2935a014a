#pragma once

#include <QByteArray>
#include <QList>
#include <QVector>

// The frames of a link test and what one receiver makes of them. No port, no
// clock: the runner (KcLinkTest) feeds bytes and times in.
//
// A frame is FrameBytes of printable ASCII: '#', the direction (2 hex
// digits), the sequence number (8 hex digits), a filler of letters g..z and a
// CRC-32 (8 hex digits) over everything between '#' and the CRC. It never
// holds '+', CR or LF, so no run of frames can make a radio see "+++" or a
// line that looks like a modem answer; '#' appears only at a frame's start,
// so a receiver finds the next frame again after a loss.
class KcLinkFrameCoder
{
public:
    static constexpr int FrameBytes = 32;
    static constexpr char Start = '#';

    struct Decoded
    {
        bool intact = false; // false: a whole frame whose check failed
        int direction = -1;
        quint32 sequence = 0;
    };

    static QByteArray encode(int direction, quint32 sequence);
    static quint32 crc32(const QByteArray &bytes);

    // Every whole frame completed by these bytes, in order. Bytes outside a
    // frame are skipped; a frame cut short by the next '#' was lost in part
    // and is neither intact nor corrupt (its remainder starts over). Keeps at
    // most one partial frame between calls.
    QList<Decoded> feed(const QByteArray &bytes);

private:
    static Decoded decode(const QByteArray &frame);
    QByteArray mPartial; // from a '#', shorter than a frame
};

// The figures of one direction at one receiver: which frames came, when, and
// what they add up to.
class KcLinkTally
{
public:
    // Frames sent in the direction so far.
    void setSent(int frames, int frameBytes)
    {
        mSent = frames;
        mFrameBytes = frameBytes;
    }
    // An intact frame, sent sentAtMs and received atMs on one clock;
    // startMs is when the direction began. late: it came after the receiver
    // had stopped waiting for the direction (it still counts as received).
    void received(quint32 sequence, qint64 sentAtMs, qint64 atMs, qint64 startMs,
                  bool late = false);
    // A whole frame whose check failed: never counted as received.
    void corrupt() { ++mCorrupt; }

    int sent() const { return mSent; }
    int receivedFrames() const { return mReceived; }
    // Every frame sent is received, corrupt or lost, exactly once: corrupt
    // frames beyond those not received intact were copies, not frames.
    int corruptFrames() const;
    int duplicated() const { return mDuplicated; }
    int outOfOrder() const { return mOutOfOrder; }
    int late() const { return mLate; }
    int lost() const { return qMax(0, mSent - mReceived - corruptFrames()); }
    // Intact distinct frames over frames sent; 0 with nothing sent.
    double delivery() const;
    // Bytes of intact frames per second over the span the frames took: from
    // the direction's start to the last arrival, and never less than the
    // offered load needs for the frames sent, so that it never exceeds the
    // load offered.
    double goodputBytesPerSecond(int offeredBytesPerSecond) const;
    // Latency percentile p (0..100) by nearest rank; -1 with no frame.
    qint64 latencyPercentileMs(double p) const;
    qint64 firstFrameMs() const { return mFirstFrameMs; } // -1: none came
    qint64 spanMs() const { return mSpanMs; }             // from the start to the last arrival

    // The nearest-rank percentile of values (0..100); -1 when empty.
    static qint64 percentile(QVector<qint64> values, double p);

private:
    int mSent = 0;
    int mFrameBytes = 0;
    int mReceived = 0;
    int mCorrupt = 0;
    int mDuplicated = 0;
    int mOutOfOrder = 0;
    int mLate = 0;
    qint64 mFirstFrameMs = -1;
    qint64 mSpanMs = 0; // from the start to the last arrival
    qint64 mHighest = -1;
    QVector<bool> mSeen; // by sequence number
    QVector<qint64> mLatencies;
};
