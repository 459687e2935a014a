#pragma once

#include "kccommandpacer.h"
#include "kclinkframes.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

class KcRadioParamReader;
class KcRadioTimer;
class QSerialPort;

// One radio of a link test. Without a rate or an ID the test reads them
// first, as "kcradio read" does.
struct KcLinkRadio
{
    QString port;
    QString role; // "ground" or "airborne"
    int rate = 0; // the serial rate its S102 gives
    QString id;   // its S104
    QString who() const { return role + QLatin1Char(' ') + port; }
};

// Proves that a ground radio and its airborne radios pass data: counted
// frames (KcLinkFrameCoder) go from the ground to every airborne radio at
// once, then from each airborne radio to the ground, one direction after
// the other, and each receiver's tally (KcLinkTally) gives the verdict.
//
// Before any traffic, radios without a known rate and ID are read at the same
// time (rate search, listing, "ATA"); radios whose IDs differ end the test
// with nothing sent. Every radio stays in data mode throughout: the test
// itself only opens the ports at the rate S102 gives, writes frames that can
// never form an escape, and reads. A radio that answers as a modem during
// the traffic ("NO CARRIER", "OK": something put it in command mode) is sent
// back with "ATA" and the test fails, saying so. Every interval runs on the
// radio clock.
//
// After a direction has sent, the receivers wait for its last frames for as
// long as frames keep coming (a quiet spell of QuietMs, or twice the slowest
// latency seen if that is longer), up to DrainLimitMs. A frame that comes
// later still, during the next direction, counts as received and late.
class KcLinkTest : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Running,
        Linked,
        NotLinked,    // a direction delivered too few frames
        DifferentIds, // nothing sent
        Unreadable,   // a radio answered but listed no ID
        Silent,       // a radio never answered the escape
        PortFailed,   // a port could not be opened or was lost
        Interrupted
    };

    struct Options
    {
        int seconds = 2;                             // of each direction
        int bytesPerSecond = 1000;                   // offered load, capped at half the slower line
        double minDelivery = 0.99;                   // of every direction, to pass
        KcCadence cadence = KcCadence::Acknowledged; // of the pre-read
    };

    // One direction as one receiver saw it.
    struct Row
    {
        int from = 0; // index into radios()
        int to = 0;
        KcLinkTally tally;
    };

    static constexpr int DrainLimitMs = 10000;
    static constexpr int QuietMs = 1000;
    static constexpr int ReturnWaitMs = 1000; // for "CONNECT" after "ATA"
    static constexpr int TickMs = 20;

    // radios.first() is the ground radio.
    KcLinkTest(const QList<KcLinkRadio> &radios, const Options &options, QObject *parent = nullptr);
    ~KcLinkTest() override;

    void start();
    // Stops the traffic at once; a radio being read is sent back to data
    // mode. finished() follows once every port is released.
    void abort();

    Outcome outcome() const { return mOutcome; }
    static QString outcomeName(Outcome outcome);
    QString reason() const { return mReason; }
    const QList<KcLinkRadio> &radios() const { return mRadios; }
    const QList<Row> &rows() const { return mRows; }
    int bytesPerSecond() const { return mRate; }
    const Options &options() const { return mOptions; }
    // Frames each direction sends at the load of trafficStarted().
    int plannedFrames() const;
    // "airborne /dev/ttyUSB1 answered NO CARRIER", one per time it happened.
    QStringList leftDataMode() const { return mLeftDataMode; }

    // radios, directions and the verdict, for a JSON result or a record.
    QJsonObject toJson() const;
    // The record's line of this test, as kcradio fleet and the window write
    // it: toJson() with kind "link", the radios' ID, the time and the version.
    QJsonObject recordLine(const QString &id) const;
    // The direction (an index into rows()) that failed the test; -1 when none did.
    int failedRow() const { return mFailedRow; }
    // The radio (an index into radios()) whose read or port failed the test; -1 when none.
    int failedRadio() const { return mFailedRadio; }
    static QJsonObject rowJson(const Row &row, const QList<KcLinkRadio> &radios,
                               int bytesPerSecond);
    // One row per direction, with a header line.
    QString table() const;

signals:
    // A radio being read answered the escape at this serial rate.
    void commandModeEntered(int radio, int rate);
    // A radio was read: radios().at(radio) holds its ID and rate.
    void radioRead(int radio);
    // The traffic starts at this load.
    void trafficStarted(int bytesPerSecond, int seconds);
    // Frames so far in one direction, about once a second and at its end.
    void frames(int from, int to, int sent, int received);
    void finished();

private:
    void readRadios();
    void onRead(int index, bool ok, const QString &id, int rateCode);
    void proceedWhenRead();
    void openPorts();
    void startPhase(int phase);
    void sendDue();
    void onReadable(int index);
    void endSending();
    void waitForLastFrames();
    void noticeAnswers(int index, const QByteArray &bytes);
    Row *rowOf(int from, int to);
    void endPhase();
    void reportPhase();
    bool phaseComplete() const;
    void judge();
    void end(Outcome outcome, const QString &reason);
    void closePorts();

    QList<KcLinkRadio> mRadios;
    Options mOptions;
    int mRate = 0;
    Outcome mOutcome = Outcome::Running;
    QString mReason;
    int mFailedRow = -1;
    int mFailedRadio = -1;

    struct Reading
    {
        KcRadioParamReader *reader = nullptr;
        bool done = false;
        bool entered = false;
        QString openError;
        QString lost;
    };
    QVector<Reading> mReadings;

    QList<QSerialPort *> mPorts;
    QVector<KcLinkFrameCoder> mCoders;
    QList<Row> mRows;
    int mPhase = -1; // 0: ground to every airborne radio; k: airborne k to ground
    bool mSending = false;
    qint64 mSendingEnded = 0;
    qint64 mWaitLimit = 0;            // for the running direction's last frames
    QVector<qint64> mPhaseStarts;     // by phase
    QVector<QVector<qint64>> mSentAt; // by phase, then sequence number
    KcRadioTimer *mTick = nullptr;
    KcRadioTimer *mPhaseTimer = nullptr;
    KcRadioTimer *mReportTimer = nullptr;
    KcRadioTimer *mReturnTimer = nullptr;
    bool mAborting = false;
    bool mJudging = false;
    bool mReturnWaitOver = false;

    enum class Return
    {
        None,
        Sent, // "ATA" written, "CONNECT" not seen yet
        Back
    };
    QVector<Return> mReturns;         // by radio
    QVector<QByteArray> mAnswerTails; // by radio: the last bytes, for answers split in two
    QStringList mLeftDataMode;
};
