#pragma once

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
    explicit KcRadioParamReader(QObject *parent = nullptr);
    ~KcRadioParamReader() override;

    // Starts one read on the named port. A port that cannot be opened is
    // reported before this returns. A start while an earlier read is still
    // running takes the link over: the earlier read reports nothing more.
    void readRadioParam(const QString &portName);

    KcRadioCommandLink *link() const { return mLink; }
    // The settings listing of the last read that got one, as received.
    QByteArray listing() const { return mListing; }

signals:
    // The single result of a read; retString is translated, idStr and
    // baudRateFlag carry the values when isSucc is true.
    void sigRadioIDReady(bool isSucc, const QString &retString, const QString &idStr,
                         int baudRateFlag);

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
        Reading
    };

    void sendReadRadioIDCmd();
    bool listingComplete() const;
    static bool escapeAnswerComplete(const QByteArray &buffer);
    QString parseRadioID(const QByteArray &listing) const;
    int parseBaudRateFlag(const QByteArray &listing) const;
    void finish(bool isSucc, const QString &retString, const QString &idStr, int baudRateFlag);

    KcRadioCommandLink *mLink = nullptr;
    // The verdict of the running read; one timer for all reads, so a verdict
    // that is still pending can be cancelled by the next start.
    KcRadioTimer *mVerdictTimer = nullptr;
    State mState = State::Idle;
    // Counts starts, so that work after a result can tell whether the
    // receiver of that result has already started the next read.
    quint64 mStarts = 0;
    QString mIdStr;
    QByteArray mListing;
    bool mEscapeOkOwed = false;
    int mBaudRateFlag = 1;
};
