#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QStringList>

class KcRadioCommandLink;
class KcRadioTimer;

// How a run of commands is paced once the radio is in command mode.
enum class KcCadence
{
    // One command every command interval (2000 ms), whatever the radio says:
    // the window's cadence, for firmware that needs it.
    Fixed,
    // The next command as soon as the previous one is answered "OK" (after a
    // short gap); "ERROR", or no answer within the command interval, ends the
    // run early. The worst case is the fixed cadence's timing.
    Acknowledged
};

// Writes a run of commands to a radio in command mode through its link and
// says when the run is over. It judges nothing: the verdict is taken from the
// link's replies by the one verdict rule, whichever the cadence.
class KcCommandPacer : public QObject
{
    Q_OBJECT

public:
    // Gap between an answer and the next command.
    static constexpr int AnswerGapMs = 20;

    KcCommandPacer(KcRadioCommandLink *link, QObject *parent = nullptr);

    void setCadence(KcCadence cadence) { mCadence = cadence; }
    KcCadence cadence() const { return mCadence; }

    // Called at every confirmation of command mode. At the fixed cadence each
    // call restarts the interval, so the first command follows the radio's
    // last word by a full interval (step 0, when no escape was written yet,
    // writes one). Paced by acknowledgement, the first command follows the
    // end of the escape's answer once the line has been quiet for the gap.
    void start(const QStringList &commands);
    void stop();
    bool isRunning() const { return mRunning; }

    // Round trip of each answered command, in ms, by its reply window.
    QMap<int, int> roundTrips() const { return mRoundTrips; }

signals:
    void finished();

private:
    void onTick();
    void writeNext();
    void onReply();
    void end();

    KcRadioCommandLink *mLink = nullptr;
    KcCadence mCadence = KcCadence::Fixed;
    QStringList mCommands;
    int mNext = 0; // index of the next command to write
    bool mRunning = false;
    KcRadioTimer *mTickTimer = nullptr;   // fixed cadence; the gap when paced
    KcRadioTimer *mAnswerTimer = nullptr; // the longest wait for an answer
    QElapsedTimer mSince;                 // since the last command was written
    QMap<int, int> mRoundTrips;
};
