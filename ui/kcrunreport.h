#pragma once

#include "kcconfigsequence.h"

#include <QObject>
#include <QString>

class KcRadioCommandLink;

// Why a window run ended the way it did, as a value: the view shows it in
// the window's language, the record keeps the English sentence kcradio
// writes for the same cause.
struct KcRunReason
{
    enum class Cause
    {
        None,
        PortFailed,        // the port did not open (systemError says why)
        PortLost,          // the open port went away
        NoEscapeAnswer,    // no escape was answered at any rate
        EscapeUnreadable,  // ... and what came was unreadable at its rate
        CommandRefused,    // verdict: a command was answered "ERROR"
        CommandUnanswered, // verdict: a command had no answer in its wait
        CommandNotSent,    // verdict: the run ended before a command went out
        NoRadioId,         // a read whose listing held no radio ID
        StoppedAfter,      // a configuration stopped part-way (command: the
                           // last one acknowledged, empty for none)
        Custom             // words of another job (the link test's)
    };

    Cause cause = Cause::None;
    QString port;
    QString systemError;
    QString command;
    int waitMs = 0;
    QList<int> rates;
    QString english; // Custom: the sentence as it stands
    QString words;   // Custom: the same in the window's language, when the job has them
    // The closing "ATA" after a failed entry was answered: the radio had
    // been in command mode and is back in data mode.
    bool backFromCommandMode = false;

    bool isNone() const { return cause == Cause::None && !backFromCommandMode; }
    // The sentence kcradio gives for the same cause.
    QString englishText() const;
};

// The bookkeeping of one window run (a panel's configuration, read or erase;
// the link test), free of widgets: what the links report becomes progress in
// words, and the end of the run a reason, an outcome word and the rate the
// radio was found at, which the view shows and the record keeps. Every view
// that runs radio work feeds one and reads it; none keeps its own copy.
class KcRunReport : public QObject
{
    Q_OBJECT

public:
    enum class Kind
    {
        None,
        Config,
        Read,
        Erase,
        Link
    };

    explicit KcRunReport(QObject *parent = nullptr);

    // Follows the link's entry attempts, entry and written commands while a
    // run of this report uses it.
    void watch(KcRadioCommandLink *link);
    // A run starts on link, with this many commands (the escape included).
    void start(Kind kind, KcRadioCommandLink *link, int commands);
    // The run is over; its reason stays until the next start.
    void end(const KcRunReason &reason = KcRunReason());
    bool isRunning() const { return mKind != Kind::None; }
    Kind kind() const { return mKind; }
    Kind lastKind() const { return mLastKind; }
    KcRadioCommandLink *link() const { return mLink; }

    // The judgement of a read's listing or an erase's commands.
    void setVerdict(const KcCommandVerdict &verdict);
    // The radio is being sent back to data mode before its port goes.
    void showReturning();
    // Progress of a run that is no command sequence (the link test).
    void showStep(int value, int maximum, const QString &text);

    // What ended a failed run, from what the links told: the port went away,
    // a command was judged at fault (or a read's listing held no radio ID),
    // or no escape was answered. An open failure has only its message.
    KcRunReason failureReason() const;
    KcRunReason verdictReason(const KcCommandVerdict &verdict) const;
    KcRunReason escapeReason() const;
    KcRunReason portLostReason(const QString &portName) const;
    // The record's word for what ended a failed read or erase.
    QString failureOutcome() const;
    // The record's word for a command at fault.
    static QString verdictOutcome(const KcCommandVerdict &verdict);

    // The reason the last run ended with, and the same in the window's
    // language.
    const KcRunReason &reason() const { return mReason; }
    QString reasonText() const { return text(mReason); }
    static QString text(const KcRunReason &reason);
    // The rate the radio answered its escape at, 0 when it did not (or the
    // run ended before it opened its port).
    int rateFound() const;

signals:
    void progressChanged(int value, int maximum, const QString &text);
    void ended(const QString &reasonText);

private:
    void onEntryAttempt(int attempt, int rate);
    void onCommandModeEntered();
    void onCommandWritten(const QString &command);
    void showCommandProgress();

    Kind mKind = Kind::None;
    Kind mLastKind = Kind::None;
    KcRadioCommandLink *mLink = nullptr;
    int mFirstAttempt = 1;    // the number the link gives its first entry attempt
    int mTicks = 0;           // intervals spent before command mode was entered
    bool mTried = false;      // an entry attempt wrote the escape
    int mCommands = 0;        // commands of the run, the escape included
    int mWritten = 0;         // of these, written since command mode was entered
    int mPortsLostBefore = 0; // the link's lost ports when the run started
    int mRateFound = 0;
    bool mJudged = false; // mVerdict holds the read's or the erase's verdict
    KcCommandVerdict mVerdict;
    KcRunReason mReason;
};
