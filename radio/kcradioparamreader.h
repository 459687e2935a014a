#pragma once

#include "kccommandpacer.h"
#include "kcconfigsequence.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class KcRadioCommandLink;
class KcRadioTimer;

// Reads the radio ID (S104) and the baud-rate flag (S102) out of one radio:
// opens the port, brings the radio into command mode, lists its settings with
// "AT&V", sends it back to data mode with "ATA" and reports once, a fixed wait
// after command mode was confirmed, through sigRadioIDReady.
class KcRadioParamReader : public QObject
{
    Q_OBJECT

public:
    // The commands a read writes once command mode is entered: "AT&V", then
    // "ATA".
    static constexpr int CommandsAfterEscape = 2;

    explicit KcRadioParamReader(QObject *parent = nullptr);
    ~KcRadioParamReader() override;

    // Starts one read on the named port. A port that cannot be opened is
    // reported before this returns. A start while an earlier read is still
    // running takes the link over: the earlier read reports nothing more.
    void readRadioParam(const QString &portName);

    KcRadioCommandLink *link() const { return mLink; }
    // How long after command mode was confirmed the read is judged; the
    // window's 1000 ms by default. A radio that lists slowly needs longer.
    void setListingWaitMs(int ms) { mListingWaitMs = ms; }
    // Paced by acknowledgement: escapes at the guard time, and the result as
    // soon as the listing is complete and the radio is back in data mode,
    // rather than at the end of the listing wait. The window's reader keeps
    // the fixed cadence.
    void setCadence(KcCadence cadence);
    // Stops at once and reports nothing more: a radio in command mode is sent
    // back to data mode and the link releases the port (its portReleased()
    // follows).
    void abort();
    // The settings listing of the last read that got one, as received.
    QByteArray listing() const { return mListing; }
    // How the radio answered "AT&V" in the last read, judged from what has
    // arrived so far: once the port is released, a listing that came after
    // the wait shows as an answer too late.
    KcCommandVerdict listingVerdict() const;

signals:
    // The single result of a read; retString is translated, idStr and
    // baudRateFlag carry the values when isSucc is true.
    void sigRadioIDReady(bool isSucc, const QString &retString, const QString &idStr,
                         int baudRateFlag);
    // How the radio answered "AT&V", judged when the wait for the listing
    // ends; comes just before that read's sigRadioIDReady.
    void sigListingVerdict(const KcCommandVerdict &verdict);

private slots:
    void onCommandModeEntered();
    void onReplyReceived(const QByteArray &chunk);
    void onCommandModeGivenUp();
    void onVerdictTimeout();

private:
    enum class State
    {
        Idle,
        Entering,
        Reading,
        Leaving // listing complete, the radio on its way back to data mode
    };

    void sendReadRadioIDCmd();
    void startVerdictTimer();
    int listingWaitMs() const;
    bool listingComplete() const;
    QString parseRadioID(const QByteArray &listing) const;
    int parseBaudRateFlag(const QByteArray &listing) const;
    void finish(bool isSucc, const QString &retString, const QString &idStr, int baudRateFlag);

    KcRadioCommandLink *mLink = nullptr;
    // The verdict of the running read; one timer for all reads, so a verdict
    // that is still pending can be cancelled by the next start.
    KcRadioTimer *mVerdictTimer = nullptr;
    State mState = State::Idle;
    QString mIdStr;
    QByteArray mListing;
    int mBaudRateFlag = 1;
    KcCadence mCadence = KcCadence::Fixed;
    KcCommandPacer *mPacer = nullptr; // paced: writes "AT&V" once the line is quiet
    int mListingWaitMs = -1;          // -1: the reply wait of every radio timer
};
