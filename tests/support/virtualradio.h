#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QSocketNotifier;
class KcRadioTimer;
class QTimer;
class VirtualAir;

// A radio modem simulator on a pseudo-terminal. The slave side's path is
// opened by QSerialPort like any serial port. The simulator keeps a slave
// descriptor of its own open (so the pty survives the tool closing its port)
// and reads the line speed that the tool set with tcgetattr: it understands
// and answers bytes only when that speed equals its own serial rate, as a
// real radio does. Runs in the thread that owns it, on QSocketNotifier.
// Framing, counting, factory defaults and the command set are described at
// the top of virtualradio.cpp.
class VirtualRadio : public QObject
{
    Q_OBJECT

public:
    enum class EscapeAnswer
    {
        NoCarrier, // "\r\nNO CARRIER\r\nOK\r\n"
        Greeting,  // "\r\nWelcome to the Data-link Radio V300\r\nOK\r\n"
        OkOnly,    // "\r\nOK\r\n"
        Silence    // nothing
    };

    // What "ATA" is answered with, besides an "OK" before it with
    // okBeforeConnect.
    enum class DataModeAnswer
    {
        Connect, // "\r\nCONNECT 115200\r\n"
        OkOnly,  // "\r\nOK\r\n"
        Silence  // nothing
    };

    struct Options
    {
        int baudRate = 115200; // the radio's own serial rate
        EscapeAnswer escapeAnswer = EscapeAnswer::NoCarrier;
        bool echo = false;               // echo every received byte back
        int chunkSize = 0;               // >0: replies written in pieces of this size
        int chunkGapMs = 0;              // gap between the pieces
        int answerLimit = -1;            // >=0: stop answering after this many commands
        int unplugAfterCommands = -1;    // >=0: close the master after this many commands
        int telemetryBytesPerSecond = 0; // >0: stream data in data mode at this rate
        bool ataChangesRate = true;      // "ATA" makes S102's rate the radio's rate
        bool okBeforeConnect = false;    // "ATA" answered "OK" before "CONNECT 115200"
        DataModeAnswer ataAnswer = DataModeAnswer::Connect;
        QByteArray refuseCommand;     // this command line (no CR) is answered "ERROR"; "*": all
        QList<int> unstoredRegisters; // set commands answered "OK" but not applied
        QByteArray dataBeforeEscapeAnswer; // data-mode text sent ahead of the escape answer
        QByteArray afterEscapeAnswer;      // sent right after the escape answer (a second "OK")
        bool garbledAtOtherSpeeds = false; // replies sent while the tool's line speed differs
                                           // from the radio's rate arrive as garbage
        QByteArray lineEnd = "\r\n";       // ends the lines of every reply
        int replyDelayMs = 0;              // >0: every reply held back this long (radio clock)
        bool startInCommandMode = false;   // powered up in command mode (left there earlier)
        // The answer to refuseCommand.
        QByteArray refusal = "\r\nERROR\r\n";
    };

    // One received command: "+++" or a line with its CR, as received.
    struct Received
    {
        qint64 msecs = 0;        // since start(), on the virtual clock when one is installed
        QByteArray bytes;        // exact bytes of the command
        int lineSpeed = 0;       // the line speed the tool had set when it arrived
        bool understood = false; // line speed matched the radio's rate
    };

    // (Two constructors: a default argument of a nested type with member
    // initialisers is not allowed inside its enclosing class.)
    explicit VirtualRadio(QObject *parent = nullptr);
    explicit VirtualRadio(const Options &options, QObject *parent = nullptr);
    ~VirtualRadio() override;

    // Opens the pseudo-terminal. False on failure.
    bool start();
    // The slave path, e.g. "/dev/pts/7": what goes into a port list.
    QString portPath() const;

    Options options() const { return mOptions; }
    void setEscapeAnswer(EscapeAnswer answer) { mOptions.escapeAnswer = answer; }
    void setEcho(bool echo) { mOptions.echo = echo; }
    void setRefuseCommand(const QByteArray &command) { mOptions.refuseCommand = command; }
    int baudRate() const { return mOptions.baudRate; }
    void setBaudRate(int baudRate) { mOptions.baudRate = baudRate; }
    void setTelemetryBytesPerSecond(int bytesPerSecond);

    bool inCommandMode() const { return mCommandMode; }
    // Put in command mode from outside (another tool on the line, a power
    // glitch): answers as it does an escape.
    void leaveDataMode();
    // Register values as last set ("102" -> "1"); presets load defaults.
    QMap<int, QString> registers() const { return mRegisters; }
    void setRegister(int reg, const QString &value) { mRegisters[reg] = value; }
    QMap<int, QString> storedRegisters() const { return mStored; }

    // Writes bytes to the tool now, as the radio would on its own (a greeting
    // at power-on, say); ignores the line speed.
    void sendUnsolicited(const QByteArray &bytes);

    // Every command received, in order.
    QList<Received> transcript() const { return mTranscript; }
    // Only the bytes of the commands, in order; an empty line (a lone CR) is
    // none.
    QList<QByteArray> commands() const;
    // Every byte received, in order, as one array.
    QByteArray rawReceived() const { return mRaw; }
    void clearTranscript();
    // The line speed the tool has set on the port now.
    int currentLineSpeed() const;

    // Closes the master side: the pty vanishes like a pulled USB adapter.
    // Its number is then held back from new radios for 20 s (across
    // processes), since the tool may keep retrying the vanished path.
    void unplug();
    bool isUnplugged() const;

    // The factory preset loaded last by "AT&F<n>", -1 before any.
    int loadedPreset() const { return mLoadedPreset; }
    // Bytes the line dropped because nobody read them (a full pty buffer).
    qint64 droppedBytes() const { return mDroppedBytes; }
    // Telemetry bytes written to the line so far.
    qint64 telemetryBytesSent() const { return mTelemetrySent; }
    // Serial rate of an S102 baud-rate code (0 = 230400 ... 14 = 300), 0 when unknown.
    static int rateForBaudRateCode(int code);

    // What is moving on the line right now, for telling when it has come to
    // rest (VirtualClock::settle). Polling a pty descriptor first makes the
    // kernel hand over bytes still on their way to it, so the figures are
    // exact at the moment of the call.
    struct LineActivity
    {
        bool toolBytesWaiting = false; // the tool wrote bytes the radio has not read
        bool replying = false;         // reply pieces are still queued
        bool streaming = false;        // telemetry flows (in data mode)
        qint64 bytesReceived = 0;      // read from the line so far
        qint64 bytesWritten = 0;       // written to the line so far
        int bytesForTool = 0;          // in the tool's input queue, not read yet
    };
    LineActivity lineActivity() const;
    // Every radio that exists in this process.
    static QList<VirtualRadio *> liveRadios();

    // The air it sends on in data mode (VirtualAir::attach sets it).
    void setAir(VirtualAir *air) { mAir = air; }
    // Whether bytes sent on the air by a radio holding S104 = id reach this
    // one: it is in data mode, its line is open and its live S104 is the same
    // number.
    bool hearsOnAir(const QString &id) const;
    // Bytes from the air, passed out on the serial line; dropped while the
    // tool's line speed is not the radio's rate (they would be garbage).
    void receiveFromAir(const QByteArray &bytes);
    qint64 airBytesPassedOut() const { return mAirBytesOut; }

signals:
    // Emitted for every transcript entry, heard or not, after the radio has
    // acted on it; transcriptEntryAdded carries the whole entry.
    void commandReceived(const QByteArray &bytes, int lineSpeed);
    void transcriptEntryAdded(const VirtualRadio::Received &entry);

private:
    // implementation detail left to the implementer
    void onReadable();
    void handleCommand(const QByteArray &command, int lineSpeed);
    void reply(const QByteArray &bytes, bool heldBack = false);
    void writeNow(const QByteArray &bytes);
    void sendTelemetry();
    qint64 writeToLine(const QByteArray &bytes); // bytes actually written
    QList<QByteArray> takeCommands();
    void record(const QByteArray &bytes, int lineSpeed, bool understood);
    void handleLine(const QByteArray &line);
    void setRegisterCommand(const QByteArray &body);
    void loadPreset(int preset);
    QByteArray settingsListing() const;
    QByteArray escapeAnswerBytes() const;
    QByteArray nextTelemetryFrame();
    void writeNextPiece();
    void updateTelemetryTimer();
    bool answering() const;
    void closeLine(bool vanished); // vanished: the number is held back a while

    Options mOptions;
    int mMaster = -1;
    int mSlave = -1;
    QString mSlavePath;
    QSocketNotifier *mNotifier = nullptr;
    QTimer *mTelemetryTimer = nullptr;
    QElapsedTimer mClock;
    qint64 mVirtualStart = -1; // virtual time of start(), -1 without a virtual clock
    qint64 mBytesReceived = 0;
    qint64 mBytesWritten = 0;
    QByteArray mPending;
    QByteArray mRaw;
    QList<Received> mTranscript;
    QMap<int, QString> mRegisters;
    QMap<int, QString> mStored;
    bool mCommandMode = false;
    int mCommandsSeen = 0;
    int mPendingSpeed = -1;                 // line speed at which mPending began
    QList<QByteArray> mOutQueue;            // reply pieces still to be written
    QTimer *mChunkTimer = nullptr;          // the next piece at once
    KcRadioTimer *mPieceGapTimer = nullptr; // the next piece after chunkGapMs
    QElapsedTimer mTelemetryClock;
    double mTelemetryCarry = 0.0; // fraction of a byte owed to the next tick
    QByteArray mTelemetryFrame;   // rest of the frame being streamed
    quint32 mTelemetrySeq = 0;
    qint64 mTelemetrySent = 0;
    qint64 mDroppedBytes = 0;
    int mLoadedPreset = -1;
    VirtualAir *mAir = nullptr;
    qint64 mAirBytesOut = 0;
};
