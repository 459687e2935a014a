#include "kcradiocommandlink.h"

#include "kclogging.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace {

// The bytes that Qt has handed to the system and that the system still
// holds for the line. Unix asks the driver (TIOCOUTQ); on Windows a write
// completes, and bytesWritten() follows, once the driver has taken it, so
// nothing is counted there and the last write's line time covers the rest.
int systemQueuedBytes(QSerialPort *port)
{
    int queued = 0;
#ifdef Q_OS_UNIX
    if (::ioctl(int(port->handle()), TIOCOUTQ, &queued) != 0)
        queued = 0;
#else
    Q_UNUSED(port)
#endif
    return queued;
}

// Hands Qt's buffer to the system now rather than at the event loop's next
// turn: Windows starts its overlapped write here. Unix writes as the port
// becomes writable, so nothing is done there.
void startSystemWrite(QSerialPort *port)
{
#ifdef Q_OS_WIN
    port->flush();
#else
    Q_UNUSED(port)
#endif
}

// Waits for the device to send what it holds: tcdrain on Unix, which returns
// at once after the line time already waited. Windows has no such count for
// the device; its line time was waited for.
void drainSystemQueue(QSerialPort *port)
{
#ifdef Q_OS_UNIX
    ::tcdrain(int(port->handle()));
#else
    Q_UNUSED(port)
#endif
}

} // namespace

KcLinkProfile KcLinkProfile::panel()
{
    KcLinkProfile profile;
    profile.owner = Owner::Panel;
    profile.className = "KcRadioConfigItemForm";
    profile.escapeAtStart = false;
    profile.escapeAfterFailedReopen = true;
    profile.countPositiveReplies = true;
    profile.logOpenFailure = false;
    return profile;
}

KcLinkProfile KcLinkProfile::reader()
{
    KcLinkProfile profile;
    profile.owner = Owner::Reader;
    profile.className = "KcRadioParamReader";
    profile.escapeAtStart = true;
    profile.escapeAfterFailedReopen = false;
    profile.countPositiveReplies = false;
    profile.logOpenFailure = true;
    return profile;
}

KcLinkProfile KcLinkProfile::eraser()
{
    KcLinkProfile profile = reader();
    profile.owner = Owner::Eraser;
    profile.className = "KcRadioEraser";
    return profile;
}

KcRadioCommandLink::KcRadioCommandLink(const KcLinkProfile &profile, QObject *parent)
    : QObject(parent), mProfile(profile), mEscapeAnswerTimer(new KcRadioTimer(this)),
      mDataModeAnswerTimer(new KcRadioTimer(this)), mDataModeRoundTimer(new KcRadioTimer(this)),
      mReleaseTimer(new KcRadioTimer(this)), mDrainTimer(new KcRadioTimer(this))
{
    for (KcRadioTimer *timer : {mEscapeAnswerTimer, mDataModeAnswerTimer, mDataModeRoundTimer,
                                mReleaseTimer, mDrainTimer})
        timer->setSingleShot(true);
    connect(mDataModeRoundTimer, &KcRadioTimer::timeout, this,
            &KcRadioCommandLink::sendBackToDataMode);
    connect(mEscapeAnswerTimer, &KcRadioTimer::timeout, this, [this]() {
        if (mRelease == Release::EscapeAnswer)
            continueRelease();
    });
    connect(mDataModeAnswerTimer, &KcRadioTimer::timeout, this, [this]() {
        if (mRelease == Release::DataModeAnswer)
            continueRelease();
    });
    connect(mReleaseTimer, &KcRadioTimer::timeout, this, [this]() {
        qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::releasePort"))
                           << "output still queued, closing anyway";
        finishRelease();
    });
    connect(mDrainTimer, &KcRadioTimer::timeout, this, &KcRadioCommandLink::drain);
}

KcRadioCommandLink::~KcRadioCommandLink()
{
    // The port object has no Qt parent: release it with the link so that
    // nothing is left behind when an owner goes away in the middle of its work.
    if (mSerialPort) {
        mSerialPort->close();
        delete mSerialPort;
    }
}

void KcRadioCommandLink::setPortNameSource(std::function<std::optional<QString>()> source)
{
    mPortNameSource = std::move(source);
}

QString KcRadioCommandLink::tag() const
{
    return QString::fromLatin1(mProfile.className);
}

bool KcRadioCommandLink::isPortOpen() const
{
    return mSerialPort && mSerialPort->isOpen();
}

bool KcRadioCommandLink::isEntering() const
{
    return mCmdModeTimer && mCmdModeTimer->isActive();
}

namespace {
int sLivePortObjects = 0;
} // namespace

int KcRadioCommandLink::livePortObjects()
{
    return sLivePortObjects;
}

QSerialPort *KcRadioCommandLink::createSerialPort()
{
    auto *port = new QSerialPort(mPortName);
    ++sLivePortObjects;
    connect(port, &QObject::destroyed, []() { --sLivePortObjects; });
    mSerialPortName = mPortName;
    connect(port, &QSerialPort::readyRead, this, &KcRadioCommandLink::onSerialReadyRead);
    connect(port, &QSerialPort::errorOccurred, this, &KcRadioCommandLink::onSerialError);
    connect(port, &QSerialPort::bytesWritten, this, [this]() {
        if (mRelease == Release::Drain)
            drain();
    });
    return port;
}

bool KcRadioCommandLink::openSerialport()
{
    // Whoever opens the port now takes it over from a release under way.
    cancelRelease();
    if (mPortNameSource) {
        const std::optional<QString> name = mPortNameSource();
        if (!name)
            return false;
        mPortName = *name;
    }

    if (!mSerialPort) {
        mSerialPort = createSerialPort();
    } else if (mSerialPortName != mPortName) {
        mSerialPort->close();
        delete mSerialPort;
        mSerialPort = createSerialPort();
    }

    mSerialPort->setBaudRate(mBaudRate, QSerialPort::AllDirections);
    mSerialPort->setDataBits(mDataBits);
    mSerialPort->setParity(mParity);
    mSerialPort->setStopBits(mStopBits);

    if (mSerialPort->isOpen() || mSerialPort->open(QIODevice::ReadWrite)) {
        qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::openSerialport ")) << mBaudRate;
        return true;
    }

    if (mProfile.logOpenFailure)
        qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::openSerialport"))
                           << mSerialPort->errorString();
    emit openFailed(mPortName, mSerialPort->errorString());
    return false;
}

bool KcRadioCommandLink::closeSerialPort()
{
    cancelRelease();
    mInCommandMode = false;
    mProbing = false;
    mClearLine = false;
    // Nothing written on this port can be answered any more.
    mEscapeAnswerTimer->stop();
    mDataModeAnswerTimer->stop();
    if (!mSerialPort)
        return false;
    // Hand what is still buffered (a last "ATA", say) to the system, then
    // close first, so the device and its lock are free for the next open even
    // before the object itself is deleted.
    if (mSerialPort->isOpen())
        mSerialPort->flush();
    mSerialPort->close();
    mSerialPort->deleteLater();
    mSerialPort = nullptr;
    if (mProfile.owner == KcLinkProfile::Owner::Panel)
        qCDebug(kcLinkLog) << "close serial port";
    else
        qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::closeSerialPort"));
    return true;
}

bool KcRadioCommandLink::escapeAnswerComplete() const
{
    const QByteArray &buffer = mRecvBuffer.bytes();
    const int noCarrier = buffer.lastIndexOf(KcRadioProtocol::NoCarrierToken);
    const int greeting = buffer.lastIndexOf("Welcome");
    QByteArray answer = buffer.mid(qMax(noCarrier, greeting) + 1);
    const QList<QByteArray> lines = answer.replace('\r', '\n').split('\n');
    return std::any_of(lines.cbegin(), lines.cend(), &KcReplyTracker::isOkLine);
}

int KcRadioCommandLink::escapeAnswerWaitMs() const
{
    return mGuardedEntry ? KcRadioTiming::lateEscapeAnswerWaitMs()
                         : int(KcRadioTiming::EscapeAnswerWaitMs);
}

void KcRadioCommandLink::startCommandModeEntry()
{
    mEscapeRates.clear();
    mUnreadableDuringEntry = false;
    mAnsweredRate = 0;
    mBackFromCommandMode = false;
    mEscapeRate = mLateAnswerRate = mReturnRate = 0;
    mEscapeAtMs = -1;
    if (mGuardedEntry) {
        if (!mCmdModeTimer) {
            mCmdModeTimer = new KcRadioTimer(this);
            connect(mCmdModeTimer, &KcRadioTimer::timeout, this,
                    &KcRadioCommandLink::onSendDLCmdModeCmd);
        }
        mCmdModeTryCount = 0;
        mSendStep = 0;
        mGuardTick = true;
        mCmdModeTimer->start(KcRadioTiming::GuardTimeMs);
        return;
    }
    if (mProfile.escapeAtStart) {
        sendEnterCmdModeCmd();
        emit entryAttempt(0, mBaudRate);
    }
    if (!mCmdModeTimer) {
        mCmdModeTimer = new KcRadioTimer(this);
        connect(mCmdModeTimer, &KcRadioTimer::timeout, this,
                &KcRadioCommandLink::onSendDLCmdModeCmd);
    }
    if (mProfile.escapeAtStart)
        mCmdModeTryCount = 0;
    else
        mSendStep = 0;
    mCmdModeTimer->start(KcRadioTiming::commandIntervalMs());
}

void KcRadioCommandLink::stopCommandModeEntry()
{
    if (mCmdModeTimer)
        mCmdModeTimer->stop();
    mCmdModeTryCount = 0;
    mProbes = 0;
}

bool KcRadioCommandLink::writeCommand(const QString &commandText)
{
    if (!mSerialPort)
        return false;
    mLastCmd = commandText;
    // A port that is closed, or was closed after it vanished, takes nothing.
    if (!mSerialPort->isOpen())
        return false;
    QByteArray line = KcRadioProtocol::commandLine(commandText);
    if (mClearLine && commandText != QLatin1String(KcRadioProtocol::Escape)) {
        mClearLine = false;
        line.prepend('\r');
    }
    mSerialPort->write(line);
    mLastWriteBytes = int(line.size());
    mProbing = false;
    if (commandText == QLatin1String(KcRadioProtocol::Escape)) {
        mEscapeAnswerTimer->start(escapeAnswerWaitMs());
        if (!mEscapeRates.contains(mBaudRate))
            mEscapeRates.append(mBaudRate);
        // An earlier escape at another rate may still be answered, late.
        const qint64 now = KcRadioTiming::nowMs();
        const bool earlierMayAnswer = mEscapeAtMs >= 0 && mEscapeRate != mBaudRate;
        mLateAnswerRate = earlierMayAnswer ? mEscapeRate : 0;
        mLateAnswerUntilMs = mEscapeAtMs + KcRadioTiming::lateEscapeAnswerWaitMs();
        mReturnRate = 0;
        mEscapeRate = mBaudRate;
        mEscapeAtMs = now;
    } else if (commandText == QLatin1String(KcRadioProtocol::DataModeCmd)) {
        mInCommandMode = false;
        mDataModeAnswered = false;
        mDataModeAnswerTimer->start(mRelease == Release::None
                                        ? int(KcRadioTiming::DataModeAnswerWaitMs)
                                        : mDataModeAnswerWaitMs);
    }
    mReplies.commandWritten(commandText);
    emit commandWritten(commandText);
    return true;
}

// --- Releasing the port ------------------------------------------------------

void KcRadioCommandLink::releasePort(int dataModeAnswerWaitMs)
{
    mDataModeAnswerWaitMs =
        dataModeAnswerWaitMs < 0 ? KcRadioTiming::replyWaitMs() : dataModeAnswerWaitMs;
    mDataModeRoundTimer->stop();
    // The rates of unanswered escapes are kept: one of them may still have
    // landed, and the radio then gets "ATA" there before the port goes.
    // An "ATA" written before still gets the whole wait.
    if (mLastCmd == QLatin1String(KcRadioProtocol::DataModeCmd) && !mDataModeAnswered &&
        mDataModeAnswerTimer->isActive())
        mDataModeAnswerTimer->start(mDataModeAnswerWaitMs);
    if (mCmdModeTimer)
        mCmdModeTimer->stop();
    mCmdModeTryCount = 0;
    mProbes = 0;
    if (!isPortOpen()) {
        closeSerialPort();
        emit portReleased();
        return;
    }
    mRelease = Release::EscapeAnswer;
    continueRelease();
}

void KcRadioCommandLink::continueRelease()
{
    if (!isPortOpen()) {
        finishRelease();
        return;
    }
    if (mRelease == Release::EscapeAnswer) {
        // An escape (or a probe) still within its wait may put the radio in
        // command mode after we have gone: wait for its answer or its end.
        const bool askingForCommandMode =
            mLastCmd == QLatin1String(KcRadioProtocol::Escape) || mProbing;
        if (!mInCommandMode && askingForCommandMode && mEscapeAnswerTimer->isActive())
            return;
        mRelease = Release::DataModeAnswer;
        if (mInCommandMode)
            writeCommand(QString::fromLatin1(KcRadioProtocol::DataModeCmd));
    }
    if (mRelease == Release::DataModeAnswer) {
        if (mLastCmd == QLatin1String(KcRadioProtocol::DataModeCmd) && !mDataModeAnswered &&
            mDataModeAnswerTimer->isActive())
            return;
        // An escape that went unanswered (a radio that answers late, or not
        // at all) may have put the radio in command mode all the same: it
        // gets "ATA" at each rate such an escape went out at, as when entry
        // fails, before the port is given up.
        if (!mInCommandMode && !mEscapeRates.isEmpty()) {
            mRelease = Release::LateEscapes;
            sendBackToDataMode();
            return;
        }
        mRelease = Release::Drain;
        mLineTimeWaited = false;
        mReleaseTimer->start(KcRadioTiming::DrainLimitMs);
        drain();
    }
}

void KcRadioCommandLink::drain()
{
    if (mRelease != Release::Drain)
        return;
    if (!isPortOpen()) {
        finishRelease();
        return;
    }
    // Qt's own buffer first: bytesWritten() calls back.
    if (mSerialPort->bytesToWrite() > 0) {
        startSystemWrite(mSerialPort);
        return;
    }
    auto lineTimeMs = [this](int bytes) {
        // Ten bits a byte on an 8N1 line, rounded up.
        return int((qint64(bytes) * 10 * 1000 + mBaudRate - 1) / qMax(1, mBaudRate)) + 1;
    };
    const int queued = systemQueuedBytes(mSerialPort);
    if (queued > 0) {
        mDrainTimer->start(lineTimeMs(queued));
        return;
    }
    // The device's own buffer is not counted: give the last write its time
    // on the wire before the system's drain, which then returns at once.
    if (!mLineTimeWaited) {
        mLineTimeWaited = true;
        mDrainTimer->start(lineTimeMs(mLastWriteBytes));
        return;
    }
    drainSystemQueue(mSerialPort);
    finishRelease();
}

void KcRadioCommandLink::finishRelease()
{
    cancelRelease();
    closeSerialPort();
    emit portReleased();
}

void KcRadioCommandLink::cancelRelease()
{
    mRelease = Release::None;
    mReleaseTimer->stop();
    mDrainTimer->stop();
    // A round of "ATA" at the rates of unanswered escapes belongs to the port
    // it was started on: one cut short (the port lost, taken over or closed)
    // must not come back later and take over the next run's port.
    mDataModeRoundTimer->stop();
}

void KcRadioCommandLink::sendEnterCmdModeCmd()
{
    if (!mSerialPort) {
        if (mProfile.owner == KcLinkProfile::Owner::Panel)
            qCDebug(kcLinkLog)
                << "KcRadioConfigItemForm::radioEnterCmdMode failed: serialPort is null";
        else
            qCDebug(kcLinkLog) << qPrintable(
                tag() + QStringLiteral("::sendEnterCmdModeCmd failed: serialPort is null"));
        return;
    }
    mSendStep = 1;
    writeCommand(QString::fromLatin1(KcRadioProtocol::Escape));
    if (mProfile.owner == KcLinkProfile::Owner::Eraser)
        qCDebug(kcLinkLog) << "KcRadioEraser::sendEnterCmdModeCmd";
}

void KcRadioCommandLink::onSendDLCmdModeCmd()
{
    if (mProfile.owner == KcLinkProfile::Owner::Reader)
        qCDebug(kcLinkLog) << "KcRadioParamReader::onSendDLCmdModeCmd"
                           << QDateTime::currentMSecsSinceEpoch();

    if (mGuardTick) {
        mGuardTick = false;
        mCmdModeTimer->start(KcRadioTiming::escapeRateStepMs());
        if (mProfile.escapeAtStart) {
            sendEnterCmdModeCmd();
            emit entryAttempt(0, mBaudRate);
            return;
        }
    }
    if (mReturnRate != 0) {
        returnForLateAnswer();
        return;
    }
    if (mCmdModeTryCount >= MaxEntryAttempts && waitOutLastEscape())
        return;
    if (mGuardedEntry)
        mCmdModeTimer->start(KcRadioTiming::escapeRateStepMs());
    if (mCmdModeTryCount >= MaxEntryAttempts && mRecoversCommandMode &&
        mProbes < mBaudRateList.size()) {
        probeCommandMode();
        return;
    }
    if (mCmdModeTryCount >= MaxEntryAttempts) {
        mCmdModeTimer->stop();
        if (mRecoversCommandMode)
            sendBackToDataMode();
        else
            giveUp();
        return;
    }

    // An escape at the start went out at the first rate already: guarded,
    // the next one tries the next rate rather than the same one again while
    // the first may still be answered (a radio in command mode answers a
    // second escape with an "OK" of its own).
    if (mGuardedEntry && mCmdModeTryCount == 0 && mEscapeRate == mBaudRateList.value(0))
        ++mCmdModeTryCount;
    const bool hadPort = closeSerialPort();
    const int rates = mBaudRateList.size();
    const int index = mCmdModeTryCount < rates ? mCmdModeTryCount : mCmdModeTryCount % rates;
    mBaudRate = mBaudRateList.at(index);

    bool reopened = false;
    if (hadPort) {
        reopened = openSerialport();
        ++mCmdModeTryCount;
        if (reopened || mProfile.escapeAfterFailedReopen)
            sendEnterCmdModeCmd();
        emit entryAttempt(mCmdModeTryCount, mBaudRate);
        if (!reopened && mSerialPort) {
            // The port that was open a moment ago cannot be opened again
            // (its node is gone, or another program took it): no escape can
            // reach the radio any more, so entry ends as a lost port rather
            // than going on to a give-up that would blame the radio.
            mCmdModeTimer->stop();
            mCmdModeTryCount = 0;
            mLostReason = mSerialPort->errorString();
            ++mPortsLost;
            emit portLost(mPortName);
            return;
        }
    }

    switch (mProfile.owner) {
    case KcLinkProfile::Owner::Panel:
        qCDebug(kcLinkLog) << "KcRadioConfigItemForm::onSendDLCmdModeCmd: " << mCmdModeTryCount;
        break;
    case KcLinkProfile::Owner::Reader:
        qCDebug(kcLinkLog) << "KcRadioParamReader::onSendDLCmdModeCmd: " << reopened
                           << mCmdModeTryCount;
        break;
    case KcLinkProfile::Owner::Eraser:
        qCDebug(kcLinkLog) << "KcRadioEraser::onSendDLCmdModeCmd: " << reopened << mCmdModeTryCount
                           << mBaudRate;
        break;
    }
}

void KcRadioCommandLink::giveUp()
{
    mCmdModeTryCount = 0;
    mProbes = 0;
    mRecvBuffer.clear();
    mReplies.reset();
    if (mProfile.countPositiveReplies)
        mOKCount = 0;
    if (mReleasesOnGivingUp && isPortOpen()) {
        // The owner hears of the failure first; the port then goes the safe
        // way unless the owner has taken it over meanwhile.
        emit gaveUp();
        if (!isReleasing() && !isEntering())
            releasePort();
        return;
    }
    mEscapeRates.clear();
    closeSerialPort();
    emit gaveUp();
}

void KcRadioCommandLink::sendBackToDataMode()
{
    // One rate after the other, each once its "ATA" is answered or the reply
    // wait is over; then the link gives up.
    const bool releasing = mRelease == Release::LateEscapes;
    if (mEscapeRates.isEmpty()) {
        if (releasing) {
            mRelease = Release::DataModeAnswer;
            continueRelease();
        } else {
            giveUp();
        }
        return;
    }
    const bool hadPort = closeSerialPort();
    mBaudRate = mEscapeRates.takeFirst();
    const bool reopened = hadPort && openSerialport();
    // Reopening takes the port over from a release; this is that release.
    if (releasing)
        mRelease = Release::LateEscapes;
    if (reopened) {
        mClearLine = true;
        writeCommand(QString::fromLatin1(KcRadioProtocol::DataModeCmd));
    }
    mDataModeRoundTimer->start(KcRadioTiming::replyWaitMs());
    qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::sendBackToDataMode")) << mBaudRate;
}

bool KcRadioCommandLink::dataModeAnswered(const QByteArray &chunk) const
{
    if (chunk.contains("CONNECT"))
        return true;
    // An "OK" or "ERROR" in the window of "ATA" is its own only when the
    // command before had its answer: one still owed may come after "ATA".
    const QList<KcReplyTracker::Window> &windows = mReplies.windows();
    if (windows.isEmpty() || windows.last().command != mLastCmd)
        return false;
    const int count = int(windows.size());
    const bool earlierAnswered =
        count < 2 || windows.at(count - 2).ok || windows.at(count - 2).error;
    return earlierAnswered && (windows.last().ok || windows.last().error);
}

void KcRadioCommandLink::probeCommandMode()
{
    // A radio left in command mode takes "+++" for a line of its own and may
    // say nothing; "AT" gets an "OK" (or an "ERROR") out of it at its rate.
    const bool hadPort = closeSerialPort();
    mBaudRate = mBaudRateList.at(mProbes);
    ++mProbes;
    if (hadPort && openSerialport()) {
        writeCommand(QString::fromLatin1(KcRadioProtocol::AttentionCmd));
        mProbing = true;
        mEscapeAnswerTimer->start(escapeAnswerWaitMs());
    }
    if (mGuardedEntry)
        mCmdModeTimer->start(escapeAnswerWaitMs());
    qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::probeCommandMode")) << mBaudRate;
}

void KcRadioCommandLink::noteLateAnswer(const QByteArray &chunk)
{
    // Bytes that are no text while the escape before the last may still be
    // answered: that radio's answer, heard at the wrong rate, most likely.
    // The last escape keeps its own chance to be answered first (a radio
    // streaming binary data at this rate answers it here).
    if (mLateAnswerRate != 0 && !mInCommandMode && mRelease == Release::None && isEntering() &&
        mLastCmd == QLatin1String(KcRadioProtocol::Escape) &&
        KcRadioTiming::nowMs() <= mLateAnswerUntilMs && KcReplyTracker::hasUnreadableBytes(chunk))
        mReturnRate = mLateAnswerRate;
}

void KcRadioCommandLink::returnForLateAnswer()
{
    // The radio that answered late is in command mode at the earlier rate,
    // where an escape would be text to it: "AT" asks, after a lone CR that
    // clears what it took from the escape at the wrong rate. Unanswered,
    // entry goes on with the rates where it left off.
    const bool hadPort = closeSerialPort();
    mBaudRate = mReturnRate;
    mReturnRate = mLateAnswerRate = 0;
    if (hadPort && openSerialport()) {
        mClearLine = true;
        writeCommand(QString::fromLatin1(KcRadioProtocol::AttentionCmd));
        mProbing = true;
        mEscapeAnswerTimer->start(escapeAnswerWaitMs());
    }
    mCmdModeTimer->start(escapeAnswerWaitMs());
    qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::returnForLateAnswer")) << mBaudRate;
}

bool KcRadioCommandLink::waitOutLastEscape()
{
    // Guarded entry moves on before a late answer is over; the last escape's
    // answer is waited out before entry probes or gives up, so that a radio
    // that takes it is not left in command mode.
    const qint64 left =
        mEscapeAtMs + KcRadioTiming::lateEscapeAnswerWaitMs() - KcRadioTiming::nowMs();
    if (!mGuardedEntry || mLastCmd != QLatin1String(KcRadioProtocol::Escape) || left <= 0)
        return false;
    mCmdModeTimer->start(int(left));
    return true;
}

bool KcRadioCommandLink::recognisesEntry(bool banner) const
{
    if (mLastCmd == QLatin1String(KcRadioProtocol::Escape))
        return mRecvBuffer.contains(KcRadioProtocol::NoCarrierToken) || banner;
    if (!mProbing || mReplies.windows().isEmpty())
        return false;
    const KcReplyTracker::Window &probe = mReplies.windows().last();
    return probe.ok || probe.error;
}

void KcRadioCommandLink::enterCommandMode()
{
    mAnsweredRate = mBaudRate;
    mCmdModeTryCount = 0;
    mProbes = 0;
    mProbing = false;
    mInCommandMode = true;
    mEscapeRates.clear();
    mClearLine = mGuardedEntry;
    if (mCmdModeTimer)
        mCmdModeTimer->stop();
    // Nothing that came before is the answer to a command of the owner.
    mReplies.reset();
}

void KcRadioCommandLink::onSerialReadyRead()
{
    if (!mSerialPort)
        return;
    const QByteArray chunk = mSerialPort->readAll();
    if (mProfile.owner == KcLinkProfile::Owner::Panel)
        qCDebug(kcLinkLog) << "KcRadioConfigItemForm::onSerialReadyRead" << mBaudRate;
    else
        qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::onSerialReadyRead")) << mLastCmd
                           << chunk;

    if (!mInCommandMode && KcReplyTracker::hasUnreadableBytes(chunk))
        mUnreadableDuringEntry = true;
    if (mGuardedEntry)
        noteLateAnswer(chunk);
    if (!chunk.isEmpty()) {
        mRecvBuffer.append(chunk);
        mReplies.bytesReceived(chunk);
        emit chunkReceived(chunk);
    }

    if (mProfile.countPositiveReplies) {
        if (chunk.contains(KcRadioProtocol::OkToken) ||
            (mOKCount == ConnectCountsAt && mRecvBuffer.contains(KcRadioProtocol::ConnectToken)))
            ++mOKCount;
    }

    const bool banner = mRecvBuffer.hasRadioBanner();
    if (mProfile.owner == KcLinkProfile::Owner::Panel)
        qCDebug(kcLinkLog) << "readAll:" << chunk << "bytesAvailable:" << chunk.size() << chunk
                           << banner << mOKCount;

    if (mLastCmd == QLatin1String(KcRadioProtocol::DataModeCmd) && !mDataModeAnswered) {
        mDataModeAnswered = dataModeAnswered(chunk);
        if (mDataModeAnswered && mRelease == Release::DataModeAnswer) {
            continueRelease();
            return;
        }
        if (mDataModeAnswered && mDataModeRoundTimer->isActive()) {
            // "ATA" at the rate of an escape that went unanswered: the radio
            // was in command mode after all.
            mBackFromCommandMode = true;
            if (mAnsweredRate == 0)
                mAnsweredRate = mBaudRate;
            mDataModeRoundTimer->stop();
            sendBackToDataMode();
            return;
        }
    }

    // The answer to an escape that came too late for entry, heard while the
    // port is being given up: the radio is at this rate.
    if (mRelease != Release::None && mAnsweredRate == 0 &&
        (chunk.contains(KcRadioProtocol::NoCarrierToken) || banner))
        mAnsweredRate = mBaudRate;
    if (recognisesEntry(banner)) {
        enterCommandMode();
        if (mRelease == Release::EscapeAnswer) {
            // Too late for the owner: the radio only gets "ATA".
            continueRelease();
            return;
        }
        emit commandModeEntered();
        return;
    }
    // A bare "OK" to the escape: the radio was in command mode already.
    if (mRecoversCommandMode && mRelease == Release::None && isEntering() &&
        mLastCmd == QLatin1String(KcRadioProtocol::Escape) && !mReplies.windows().isEmpty() &&
        mReplies.windows().last().ok) {
        writeCommand(QString::fromLatin1(KcRadioProtocol::AttentionCmd));
        mProbing = true;
        mEscapeAnswerTimer->start(escapeAnswerWaitMs());
        return;
    }
    emit replyReceived(chunk);
}

void KcRadioCommandLink::onSerialError(QSerialPort::SerialPortError error)
{
    // A device that vanished while open (a USB adapter pulled) is reported on
    // Linux as a stream of read errors that never ends. Close the device at
    // the first such error; the object stays, so the running operation goes
    // on to its normal give-up or verdict, and its writes are lost.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
        if (mSerialPort && mSerialPort == sender() && mSerialPort->isOpen()) {
            qCDebug(kcLinkLog) << qPrintable(tag() + QStringLiteral("::onSerialError")) << error
                               << mSerialPort->errorString();
            // The error string of a stream of read errors says nothing
            // reliable about the cause: the loss is told without it.
            mLostReason.clear();
            mSerialPort->close();
            mInCommandMode = false;
            ++mPortsLost;
            emit portLost(mPortName);
            if (mRelease != Release::None)
                finishRelease();
        }
        break;
    default:
        break;
    }
}
