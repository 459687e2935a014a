#include "kcradioeraser.h"

#include "kcconfigsequence.h"
#include "kclogging.h"
#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"

#include <QDebug>

#include <memory>

namespace {
const char *const ResetBaudRateCmd = "ATS102=7"; // 9600, the rate of the last entry retry
} // namespace

KcRadioEraser::KcRadioEraser(QObject *parent)
    : QObject(parent), mLink(new KcRadioCommandLink(KcLinkProfile::eraser(), this))
{
    connect(mLink, &KcRadioCommandLink::commandModeEntered, this,
            &KcRadioEraser::onCommandModeEntered);
    connect(mLink, &KcRadioCommandLink::gaveUp, this, &KcRadioEraser::onCommandModeGivenUp);
    // No step can reach a radio whose port is gone: fail now.
    connect(mLink, &KcRadioCommandLink::portLost, this, [this]() {
        if (!mRunning)
            return;
        mRunning = false;
        if (mNormalCmdTimer)
            mNormalCmdTimer->stop();
        if (mPacer)
            mPacer->stop();
        mLink->releasePort();
        emit sigEarseRadioResult(false);
    });
}

void KcRadioEraser::setCadence(KcCadence cadence)
{
    mLink->setGuardedEntry(cadence == KcCadence::Acknowledged);
    if (cadence == KcCadence::Fixed || mPacer)
        return;
    mPacer = new KcCommandPacer(mLink, this);
    mPacer->setCadence(cadence);
    connect(mPacer, &KcCommandPacer::finished, this, [this]() {
        if (mRunning)
            finish();
    });
}

void KcRadioEraser::abort()
{
    if (mPacer)
        mPacer->stop();
    mRunning = false;
    if (mNormalCmdTimer)
        mNormalCmdTimer->stop();
    mLink->releasePort(KcRadioTiming::replyWaitMs());
}

// The link is a child and releases its port object with itself.
KcRadioEraser::~KcRadioEraser() = default;

void KcRadioEraser::earseRadio(const QString &portName)
{
    mRunning = false;
    if (mNormalCmdTimer)
        mNormalCmdTimer->stop();

    mLink->setLastCmd(QString());
    mLink->clearRecvBuffer();
    mLink->setSendStep(0);
    mLink->setPortName(portName);

    if (!mLink->openSerialport()) {
        emit sigEarseRadioResult(false);
        return;
    }
    mRunning = true;
    // Writes the first escape at the rate the previous operation ended with.
    mLink->startCommandModeEntry();
}

void KcRadioEraser::onCommandModeEntered()
{
    if (!mRunning)
        return;
    if (mPacer) {
        mPacer->start({QString::fromLatin1(ResetBaudRateCmd),
                       QString::fromLatin1(KcRadioProtocol::StoreCmd),
                       QString::fromLatin1(KcRadioProtocol::DataModeCmd)});
        return;
    }
    if (!mNormalCmdTimer) {
        mNormalCmdTimer = new KcRadioTimer(this);
        connect(mNormalCmdTimer, &KcRadioTimer::timeout, this,
                &KcRadioEraser::onNormalCmdSendTimeout);
    }
    // Every chunk before the first step lands here again (the confirming reply
    // stays in the buffer), so the first step follows the last of them by a
    // full interval.
    mNormalCmdTimer->start(KcRadioTiming::commandIntervalMs());
}

void KcRadioEraser::onCommandModeGivenUp()
{
    // The link has closed the port and cleared the buffer already.
    if (!mRunning)
        return;
    mRunning = false;
    emit sigEarseRadioResult(false);
}

void KcRadioEraser::onNormalCmdSendTimeout()
{
    switch (mLink->sendStep()) {
    case 0:
        mLink->sendEnterCmdModeCmd();
        break;
    case 1:
        sendATS102_7Cmd();
        mLink->setSendStep(2);
        break;
    case 2:
        sendATWCmd();
        mLink->setSendStep(3);
        break;
    case 3:
        sendATACmd();
        mLink->setSendStep(4);
        break;
    default:
        finish();
        break;
    }
}

void KcRadioEraser::sendATS102_7Cmd()
{
    if (mLink->writeCommand(QString::fromLatin1(ResetBaudRateCmd)))
        qCDebug(kcLinkLog) << "KcRadioEraser::sendATS102_7Cmd";
    else
        qCDebug(kcLinkLog) << "KcRadioEraser::sendATS102_7Cmd failed: serialport is null";
}

void KcRadioEraser::sendATWCmd()
{
    mLink->writeCommand(QString::fromLatin1(KcRadioProtocol::StoreCmd));
    qCDebug(kcLinkLog) << "KcRadioEraser::sendATWCmd";
}

void KcRadioEraser::sendATACmd()
{
    mLink->writeCommand(QString::fromLatin1(KcRadioProtocol::DataModeCmd));
    qCDebug(kcLinkLog) << "KcRadioEraser::sendATACmd";
}

void KcRadioEraser::finish()
{
    mLink->setSendStep(0);
    if (mNormalCmdTimer)
        mNormalCmdTimer->stop();
    if (mPacer)
        mPacer->stop();

    const KcCommandVerdict verdict = judgeSteps();
    mVerdict = verdict;
    const bool isSucc = verdict.ok;
    if (!isSucc)
        qCDebug(kcLinkLog) << "KcRadioEraser::finish" << qPrintable(verdict.describe());

    mRunning = false;
    mLink->clearRecvBuffer();
    mLink->setSendStep(0);
    // "ATA" went out (a step ago at the fixed cadence); the release waits for
    // its answer, makes sure it has left (and sends it again should the radio
    // still be in command mode). The last command is forgotten after that,
    // and the replies once judged again. A receiver that starts the next
    // erase from its slot takes the port over.
    const auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(mLink, &KcRadioCommandLink::portReleased, this, [this, connection]() {
        disconnect(*connection);
        mLink->setLastCmd(QString());
        mVerdict = judgeSteps();
        mLink->resetReplies();
    });
    mLink->releasePort();
    emit sigEraseVerdict(verdict);
    emit sigEarseRadioResult(isSucc);
}

KcCommandVerdict KcRadioEraser::judgeSteps() const
{
    // Each command must have been acknowledged on its own; "ATA" need not be
    // answered, as the radio may switch to data mode without a word. Either
    // cadence gives a step the command interval for its answer.
    KcCommandVerdict verdict = KcConfigSequence::judge(
        {QString::fromLatin1(ResetBaudRateCmd), QString::fromLatin1(KcRadioProtocol::StoreCmd),
         QString::fromLatin1(KcRadioProtocol::DataModeCmd)},
        mLink->replies());
    verdict.waitMs = KcRadioTiming::commandIntervalMs();
    return verdict;
}
