#pragma once

#include "kcradiotiming.h"
#include "kcreplybuffer.h"
#include "kcreplytracker.h"

#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <functional>
#include <optional>

class KcRadioTimer;

// How one owner of a command link (the radio panel, the parameter reader or
// the eraser) differs from the others. The link itself is written once.
struct KcLinkProfile
{
    enum class Owner
    {
        Panel,
        Reader,
        Eraser
    };

    Owner owner = Owner::Panel;
    // Class name that starts the owner's debug lines.
    const char *className = "KcRadioConfigItemForm";
    // The reader and the eraser write the first escape as soon as entry starts;
    // the panel writes it at the first tick.
    bool escapeAtStart = false;
    // The panel writes the escape after a reopen even when the reopen failed
    // (the bytes are lost); the others only after a successful reopen.
    bool escapeAfterFailedReopen = false;
    // The panel counts positive replies during a configuration.
    bool countPositiveReplies = false;
    // The reader and the eraser log the port's error string when an open
    // fails; the panel reports it to the operator instead.
    bool logOpenFailure = false;

    static KcLinkProfile panel();
    static KcLinkProfile reader();
    static KcLinkProfile eraser();
};

// The serial command exchange with one radio: owns one serial port, opens it
// with the radio line settings, brings the radio into command mode by writing
// the escape at each baud rate in turn, and gathers every reply byte.
class KcRadioCommandLink : public QObject
{
    Q_OBJECT

public:
    // Give up after this many counted entry attempts.
    static constexpr int MaxEntryAttempts = 6;
    // Chunk count of a configuration at which "CONNECT 115200" also counts.
    static constexpr int ConnectCountsAt = 7;

    explicit KcRadioCommandLink(const KcLinkProfile &profile, QObject *parent = nullptr);
    ~KcRadioCommandLink() override;

    const KcLinkProfile &profile() const { return mProfile; }

    // Name of the port to open. An owner that sets a source is asked at every
    // open; a source that has no name makes the open fail without a report.
    void setPortName(const QString &portName) { mPortName = portName; }
    QString portName() const { return mPortName; }
    void setPortNameSource(std::function<std::optional<QString>()> source);

    int baudRate() const { return mBaudRate; }
    void setBaudRate(int baudRate) { mBaudRate = baudRate; }
    QList<int> baudRateList() const { return mBaudRateList; }

    // (Re)creates the port object when needed, applies the line settings and
    // opens it for reading and writing. Emits openFailed on failure.
    bool openSerialport();
    // Closes the port and schedules its object for deletion. False when there
    // was no port object.
    bool closeSerialPort();
    bool hasPort() const { return mSerialPort != nullptr; }
    bool isPortOpen() const;
    QSerialPort *serialPort() const { return mSerialPort; }
    // Port objects of all links that exist right now, released or not yet
    // deleted: a leak shows as growth here.
    static int livePortObjects();

    // Starts command-mode entry on the port that the owner has just opened.
    void startCommandModeEntry();
    bool isEntering() const;
    // Stops the entry attempts without a word (an owner that is told to stop).
    void stopCommandModeEntry();
    int entryAttempts() const { return mCmdModeTryCount; }
    // Bytes that are no text came since entry started and before command mode
    // was confirmed: an answer sent at another line speed (one that came too
    // late for the rate it was meant for) reads as such.
    bool unreadableDuringEntry() const { return mUnreadableDuringEntry; }

    // Writes the escape "+++" and marks step 1.
    void sendEnterCmdModeCmd();
    // Writes one command (text plus CR; the escape without) and remembers it
    // as the last command. A port that is missing, closed or gone takes
    // nothing: the command is not reported as written and false returned.
    bool writeCommand(const QString &commandText);

    // Ports this link has lost so far (see portLost): an owner compares the
    // figure before and after a piece of work.
    int portsLost() const { return mPortsLost; }
    // The system's words for the last port lost (empty when it gave none).
    QString lostReason() const { return mLostReason; }

    // Whether the radio confirmed command mode and has not been sent "ATA"
    // since.
    bool inCommandMode() const { return mInCommandMode; }
    // The rate the radio confirmed command mode at since entry last
    // started, also when it did so too late for the owner (during a
    // release); 0 when it did not.
    int answeredRate() const { return mAnsweredRate; }
    // Since entry last started, an "ATA" sent at the rate of an unanswered
    // escape was answered: the radio had been in command mode (it entered
    // it silently, answered too late, or was left there) and is back in
    // data mode.
    bool backFromCommandMode() const { return mBackFromCommandMode; }

    // Ends the work on this port the one safe way: entry stops; an escape
    // that may still be answered is waited out; a radio in command mode is
    // sent "ATA" and its answer awaited briefly; what was written leaves the
    // computer (Qt's buffer, then the system's) before the port is closed,
    // as closing restores the line settings under bytes still on their way.
    // Asynchronous, bounded in time; portReleased() follows, at once when
    // there was nothing to wait for. An open before then keeps the port.
    // The answer to "ATA" is awaited up to the reply wait unless the owner
    // names another wait: it shows that the radio read "ATA" at its rate.
    // Only an answer that began after "ATA" was written counts.
    void releasePort(int dataModeAnswerWaitMs = -1);
    bool isReleasing() const { return mRelease != Release::None; }

    // The escape's answer has ended in its "OK" (an "OK" line after the last
    // "NO CARRIER" or greeting): a command written now gets its own answer.
    bool escapeAnswerComplete() const;

    // Escapes at the guard time: the first one follows the opening by the
    // guard time of silence (at the rate the port was opened with when the
    // owner starts with an escape). The next ones wait until an answer to the
    // last is no longer possible, so that no escape follows another while its
    // answer may still come. The first command after an answered escape
    // starts with a lone CR, which clears whatever is on the radio's command
    // line (an escape the radio took for text, say).
    void setGuardedEntry(bool guarded) { mGuardedEntry = guarded; }

    // After six unanswered escapes, and when the escape is answered by a bare
    // "OK", try "AT" at each rate: a radio left in command mode answers it.
    // When that fails too, each rate an escape went out at gets a lone CR and
    // "ATA" (its answer awaited up to the reply wait) before the link gives
    // up: an escape answered too late for us may have put the radio in
    // command mode. A radio in data mode passes those bytes over the air.
    void setRecoversCommandMode(bool recovers) { mRecoversCommandMode = recovers; }

    // After six unanswered escapes the link reports gaveUp() with the port
    // still open and then releases it: each rate an escape went out at gets
    // "ATA" before the port goes (portReleased() follows), so that an escape
    // the radio took without a word does not leave it in command mode. The
    // escapes stay the only way into command mode: nothing is probed.
    void setReleasesOnGivingUp(bool releases) { mReleasesOnGivingUp = releases; }

    QString lastCmd() const { return mLastCmd; }
    void setLastCmd(const QString &command) { mLastCmd = command; }
    int sendStep() const { return mSendStep; }
    void setSendStep(int step) { mSendStep = step; }
    int okCount() const { return mOKCount; }
    void resetOkCount() { mOKCount = 0; }

    const KcReplyBuffer &recvBuffer() const { return mRecvBuffer; }
    void clearRecvBuffer() { mRecvBuffer.clear(); }

    // The replies sorted by the command they answer, from the last
    // confirmation of command mode on.
    const KcReplyTracker &replies() const { return mReplies; }
    void resetReplies() { mReplies.reset(); }

signals:
    // The radio answered the escape: the owner's work can start.
    void commandModeEntered();
    // A chunk arrived that did not confirm command mode.
    void replyReceived(const QByteArray &chunk);
    // Every chunk that arrived, whatever it meant (for a transcript).
    void chunkReceived(const QByteArray &chunk);
    // A command (or the escape) was handed to the port.
    void commandWritten(const QString &command);
    // Six entry attempts went unanswered; the buffer is cleared and the port
    // closed, or being released (setReleasesOnGivingUp).
    void gaveUp();
    void openFailed(const QString &portName, const QString &errorString);
    // An entry attempt wrote the escape: attempt 1 to MaxEntryAttempts, at
    // this rate. The extra escape of an owner that starts with one is
    // attempt 0.
    void entryAttempt(int attempt, int rate);
    // The open port failed or vanished (an adapter pulled), or could not be
    // opened again at the next rate during entry: nothing written from now
    // on reaches the radio, and entry stops. Emitted once per port object.
    void portLost(const QString &portName);
    // releasePort() has closed the port.
    void portReleased();

private slots:
    void onSendDLCmdModeCmd();
    void onSerialReadyRead();
    void onSerialError(QSerialPort::SerialPortError error);

private:
    enum class Release
    {
        None,
        EscapeAnswer,   // an escape in flight may still be answered
        DataModeAnswer, // "ATA" written, its answer may still come
        LateEscapes,    // "ATA" at each rate an unanswered escape went out at
        Drain           // waiting for the written bytes to leave
    };

    QSerialPort *createSerialPort();
    QString tag() const;
    void enterCommandMode();
    bool recognisesEntry(bool banner) const;
    void probeCommandMode();
    void sendBackToDataMode();
    void giveUp();
    bool dataModeAnswered(const QByteArray &chunk) const;
    int escapeAnswerWaitMs() const;
    void continueRelease();
    void drain();
    void finishRelease();
    void cancelRelease();

    KcLinkProfile mProfile;
    std::function<std::optional<QString>()> mPortNameSource;

    QSerialPort *mSerialPort = nullptr;
    QString mSerialPortName; // the name mSerialPort was created for
    QString mPortName;
    int mBaudRate = 115200;
    QSerialPort::DataBits mDataBits = QSerialPort::Data8;
    QSerialPort::Parity mParity = QSerialPort::NoParity;
    QSerialPort::StopBits mStopBits = QSerialPort::OneStop;
    QList<int> mBaudRateList{115200, 230400, 9600};
    KcRadioTimer *mCmdModeTimer = nullptr;
    int mCmdModeTryCount = 0;
    QString mLastCmd;
    KcReplyBuffer mRecvBuffer;
    KcReplyTracker mReplies;
    int mSendStep = 0;
    int mOKCount = 0;

    int mPortsLost = 0;
    bool mInCommandMode = false;
    bool mRecoversCommandMode = false;
    bool mReleasesOnGivingUp = false;
    int mAnsweredRate = 0;
    bool mBackFromCommandMode = false;
    QString mLostReason;
    bool mGuardedEntry = false;
    bool mGuardTick = false; // the next entry tick ends the guard time
    bool mClearLine = false; // the next command starts with a lone CR
    QList<int> mEscapeRates; // rates an escape went out at since entry started
    bool mUnreadableDuringEntry = false;
    int mProbes = 0;       // "AT" probes made after the escapes went unanswered
    bool mProbing = false; // the last "AT" asks whether the radio is in command mode
    bool mDataModeAnswered = false;
    KcRadioTimer *mEscapeAnswerTimer = nullptr;   // runs while an escape may be answered
    KcRadioTimer *mDataModeAnswerTimer = nullptr; // runs while "ATA" may be answered
    KcRadioTimer *mDataModeRoundTimer = nullptr;  // the wait at each rate before giving up
    Release mRelease = Release::None;
    KcRadioTimer *mReleaseTimer = nullptr; // bounds the wait of the release's step
    KcRadioTimer *mDrainTimer = nullptr;   // polls the system's output queue
    int mLastWriteBytes = 0;
    int mDataModeAnswerWaitMs = -1;
    bool mLineTimeWaited = false;
};
