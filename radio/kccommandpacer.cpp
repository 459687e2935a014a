#include "kccommandpacer.h"

#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"

KcCommandPacer::KcCommandPacer(KcRadioCommandLink *link, QObject *parent)
    : QObject(parent), mLink(link), mTickTimer(new KcRadioTimer(this)),
      mAnswerTimer(new KcRadioTimer(this))
{
    mAnswerTimer->setSingleShot(true);
    connect(mTickTimer, &KcRadioTimer::timeout, this, &KcCommandPacer::onTick);
    connect(mAnswerTimer, &KcRadioTimer::timeout, this, [this]() {
        // The escape's answer did not end in "OK" in time: go on without.
        if (mRunning && mNext == 0)
            writeNext();
        else
            end(); // no answer within the interval: the verdict names it
    });
    connect(mLink, &KcRadioCommandLink::replyReceived, this, &KcCommandPacer::onReply);
}

void KcCommandPacer::start(const QStringList &commands)
{
    if (mCadence == KcCadence::Fixed) {
        if (!mRunning) {
            mTickTimer->setSingleShot(false);
            mCommands = commands;
            mRoundTrips.clear();
            mRunning = true;
        }
        mTickTimer->start(KcRadioTiming::commandIntervalMs());
        return;
    }
    if (!mRunning) {
        mCommands = commands;
        mRoundTrips.clear();
        mNext = 0;
        mRunning = true;
        mTickTimer->setSingleShot(true);
        // The escape's answer ends in its own "OK"; a command written before
        // it would be credited with it. Wait for it, or for the answer wait.
        mAnswerTimer->start(KcRadioTiming::DataModeAnswerWaitMs);
    }
    // Every further confirmation is a further piece of the answer: the gap
    // starts again, so that the first command waits for a quiet line, and
    // nothing that began arriving before it (a second "OK") is taken for its
    // answer.
    if (mNext == 0 && mLink->escapeAnswerComplete())
        mTickTimer->start(AnswerGapMs);
}

void KcCommandPacer::stop()
{
    mRunning = false;
    mTickTimer->stop();
    mAnswerTimer->stop();
}

void KcCommandPacer::onTick()
{
    if (!mRunning)
        return;
    if (mCadence == KcCadence::Acknowledged) {
        writeNext();
        return;
    }
    const int step = mLink->sendStep();
    if (step == 0) {
        mLink->sendEnterCmdModeCmd();
        return;
    }
    if (step > mCommands.size()) {
        end();
        return;
    }
    mLink->setSendStep(step + 1);
    mSince.start();
    if (!mLink->writeCommand(mCommands.at(step - 1)))
        end(); // the port is gone
}

void KcCommandPacer::writeNext()
{
    mAnswerTimer->stop();
    if (mNext >= mCommands.size()) {
        end();
        return;
    }
    const QString command = mCommands.at(mNext++);
    mLink->setSendStep(mNext + 1);
    mSince.start();
    if (!mLink->writeCommand(command)) {
        end(); // the port is gone
        return;
    }
    // "ATA" is answered, if at all, while the port is released.
    if (command == QLatin1String(KcRadioProtocol::DataModeCmd)) {
        end();
        return;
    }
    mAnswerTimer->start(KcRadioTiming::commandIntervalMs());
}

void KcCommandPacer::onReply()
{
    if (!mRunning)
        return;
    const QList<KcReplyTracker::Window> &windows = mLink->replies().windows();
    if (windows.isEmpty() || !mSince.isValid())
        return;
    const KcReplyTracker::Window &window = windows.last();
    if (!(window.ok || window.error) || mRoundTrips.contains(windows.size() - 1))
        return;
    mRoundTrips.insert(windows.size() - 1, int(mSince.elapsed()));
    if (mCadence != KcCadence::Acknowledged || mNext == 0)
        return;
    mAnswerTimer->stop();
    if (window.error)
        end();
    else
        mTickTimer->start(AnswerGapMs);
}

void KcCommandPacer::end()
{
    if (!mRunning)
        return;
    stop();
    emit finished();
}
