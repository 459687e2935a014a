#pragma once

#include "kccommandpacer.h"
#include "kcconfigsequence.h"
#include "kcradiotiming.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <functional>

class KcRadioCommandLink;
class KcRadioParamReader;

// Configures one radio without a window: the panel's rate search, command
// sequence, cadence and verdict, then, when asked, a read-back of the
// registers it stored. Reports progress as plain lines and ends once with
// finished().
class KcConfigJob : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Running,
        Configured,     // acknowledged, and verified when asked
        Refused,        // a command was refused
        Unanswered,     // a command was not acknowledged within its wait
        Mismatch,       // acknowledged, but the radio holds other values
        ReadBackFailed, // acknowledged, but the listing could not be read
        PortFailed,     // the port could not be opened
        Silent,         // the radio never answered the escape
        PortLost,       // the port vanished (an adapter pulled) during the run
        Aborted
    };

    KcConfigJob(const QString &portName, const KcRadioSettings &settings, bool verify,
                QObject *parent = nullptr);
    ~KcConfigJob() override;

    // Before start(): the fixed 2000 ms cadence of the window, or pacing by
    // the radio's acknowledgements (the default).
    void setCadence(KcCadence cadence) { mCadence = cadence; }
    KcCadence cadence() const { return mCadence; }

    void start();
    // Stops at once: a radio in command mode is sent back to data mode with
    // "ATA" before the port is released. Emits finished() unless over.
    void abort();

    QString portName() const { return mPortName; }
    Outcome outcome() const { return mOutcome; }
    // Why the job failed, in one line; empty on success.
    QString reason() const { return mReason; }
    // The serial rate at which the radio answered the escape; 0 before.
    int rate() const { return mRate; }
    bool verified() const { return mVerified; }
    // The registers of the verified listing that a configuration concerns
    // (S102, S103, S104, S105, S113), as the radio listed them; empty
    // without a read-back.
    QMap<int, QString> registers() const { return mRegisters; }
    // Seconds from start() to the end of the job.
    double seconds() const;
    // The registers that registers() reports.
    static const QList<int> &reportedRegisters();

    static QString outcomeName(Outcome outcome);
    // Why no escape on the link was answered, in one line.
    static QString noEscapeAnswer(const KcRadioCommandLink &link);

signals:
    void progress(const QString &line);
    void finished();
    // The exchange with the radio, for a transcript: every command (and
    // escape) handed to the port at the rate the port was set to, and every
    // chunk received, on the job's link and on its read-back's.
    void commandSent(const QString &command, int rate);
    void chunkReceived(const QByteArray &chunk);

private:
    void onCommandModeEntered();
    void onCommandWritten(const QString &command);
    void onSequenceOver();
    void judge();
    void startReadBack();
    void onReadBack();
    void onPortLost(const QString &port);
    void reportReplies(const KcRadioCommandLink *link, const QMap<int, int> &roundTrips);
    // Runs then() once link has released its port; starts the release unless
    // one is under way (with the link's wait for the answer to "ATA" unless
    // one is named).
    void whenReleased(KcRadioCommandLink *link, const std::function<void()> &then,
                      int dataModeAnswerWaitMs = -1);
    void relayExchange(KcRadioCommandLink *link);
    void finish(Outcome outcome, const QString &reason = QString());

    QString mPortName;
    KcRadioSettings mSettings;
    bool mVerify = true;
    KcRadioCommandLink *mLink = nullptr;
    KcCommandPacer *mPacer = nullptr;
    KcRadioParamReader *mReader = nullptr;
    KcCadence mCadence = KcCadence::Acknowledged;
    Outcome mOutcome = Outcome::Running;
    QString mReason;
    int mRate = 0;
    bool mVerified = false;
    QMap<int, QString> mRegisters;
    QElapsedTimer mElapsed;
    qint64 mElapsedMs = -1; // fixed when the job ends
    bool mInCommandMode = false;
    bool mAborting = false;
    int mRepliesReported = 0; // windows whose replies went out as progress
};
