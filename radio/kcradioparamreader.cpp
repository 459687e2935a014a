#include "kcradioparamreader.h"

#include "kclogging.h"
#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcsettingslisting.h"

#include <QDebug>

#include <algorithm>
#include <memory>

KcRadioParamReader::KcRadioParamReader(QObject *parent)
    : QObject(parent), mLink(new KcRadioCommandLink(KcLinkProfile::reader(), this)),
      mVerdictTimer(new KcRadioTimer(this))
{
    mVerdictTimer->setSingleShot(true);
    connect(mVerdictTimer, &KcRadioTimer::timeout, this, &KcRadioParamReader::onVerdictTimeout);

    connect(mLink, &KcRadioCommandLink::commandModeEntered, this,
            &KcRadioParamReader::onCommandModeEntered);
    connect(mLink, &KcRadioCommandLink::replyReceived, this, &KcRadioParamReader::onReplyReceived);
    connect(mLink, &KcRadioCommandLink::gaveUp, this, &KcRadioParamReader::onCommandModeGivenUp);
    // Nothing more can be read from a port that is gone: fail now.
    connect(mLink, &KcRadioCommandLink::portLost, this, [this]() {
        if (mState != State::Reading && mState != State::Entering)
            return;
        mVerdictTimer->stop();
        mLink->releasePort();
        finish(false, tr("MsgRadioIDReadFailed"), QString(), 1);
    });
}

// The link is a child and releases its port object with itself.
KcRadioParamReader::~KcRadioParamReader() = default;

void KcRadioParamReader::readRadioParam(const QString &portName)
{
    // A verdict still pending from an earlier read must not end this one.
    mVerdictTimer->stop();
    if (mPacer)
        mPacer->stop();
    mState = State::Idle;

    mIdStr.clear();
    mListing.clear();
    mLink->setLastCmd(QString());
    mLink->clearRecvBuffer();
    mLink->resetReplies();
    mLink->setSendStep(0);
    mLink->setPortName(portName);

    if (!mLink->openSerialport()) {
        // The dialout group that grants access to serial ports is Linux's;
        // elsewhere the advice goes without it.
#ifdef Q_OS_LINUX
        emit sigRadioIDReady(false, tr("MsgSerialPortOpenFailed"), QString(), 1);
#else
        emit sigRadioIDReady(false, tr("MsgSerialPortOpenFailedGeneral"), QString(), 1);
#endif
        return;
    }
    mState = State::Entering;
    // Writes the first escape at the rate the previous read ended with.
    mLink->startCommandModeEntry();
}

void KcRadioParamReader::onCommandModeEntered()
{
    // Paced, a further piece of the escape's answer keeps "AT&V" back.
    if (mState == State::Reading && mPacer && mPacer->isRunning())
        mPacer->start({});
    if (mState != State::Entering)
        return;
    mState = State::Reading;
    // The escape answer ends in "OK" ("NO CARRIER", CR LF, "OK"); when that
    // "OK" has not arrived yet, it may still come after "AT&V" and must not
    // be taken for the end of the listing. Paced, "AT&V" waits for it.
    mEscapeOkOwed = !mPacer && !mLink->escapeAnswerComplete();
    if (mPacer) {
        // "AT&V" once the escape's answer has ended and the line is quiet;
        // the listing wait runs from its writing.
        mPacer->start({QString::fromLatin1(KcRadioProtocol::ListSettingsCmd)});
        return;
    }
    sendReadRadioIDCmd();
    startVerdictTimer();
}

void KcRadioParamReader::startVerdictTimer()
{
    mVerdictTimer->start(listingWaitMs());
}

int KcRadioParamReader::listingWaitMs() const
{
    return mListingWaitMs >= 0 ? mListingWaitMs : KcRadioTiming::replyWaitMs();
}

KcCommandVerdict KcRadioParamReader::listingVerdict() const
{
    KcCommandVerdict verdict = KcConfigSequence::judge(
        {QString::fromLatin1(KcRadioProtocol::ListSettingsCmd)}, mLink->replies());
    verdict.waitMs = listingWaitMs();
    return verdict;
}

void KcRadioParamReader::sendReadRadioIDCmd()
{
    if (!mLink->writeCommand(QString::fromLatin1(KcRadioProtocol::ListSettingsCmd)))
        qCDebug(kcLinkLog) << "KcRadioParamReader::sendReadRadioIDCmd failed: seriport is null";
}

bool KcRadioParamReader::listingComplete() const
{
    const QList<KcReplyTracker::Window> &windows = mLink->replies().windows();
    if (windows.isEmpty() ||
        windows.last().command != QLatin1String(KcRadioProtocol::ListSettingsCmd))
        return false;
    // The listing ends with the first "OK" after its entries; before any
    // entry, an "OK" ends it only when it is not the escape answer's.
    QByteArray listing = windows.last().bytes;
    const QList<QByteArray> words =
        listing.replace('\r', ' ').replace('\n', ' ').replace('\t', ' ').split(' ');
    bool entrySeen = false;
    bool escapeOkOwed = mEscapeOkOwed;
    for (const QByteArray &word : words) {
        if (KcSettingsListing::hasEntry(word)) {
            entrySeen = true;
        } else if (word == KcRadioProtocol::OkToken) {
            if (entrySeen || !escapeOkOwed)
                return true;
            escapeOkOwed = false;
        }
    }
    return false;
}

void KcRadioParamReader::onReplyReceived(const QByteArray &chunk)
{
    Q_UNUSED(chunk)
    // The listing may come in pieces, and the escape answer's end with it.
    if (mState != State::Reading || !listingComplete())
        return;

    mListing = mLink->replies().windows().last().bytes;
    mIdStr = parseRadioID(mListing);
    mBaudRateFlag = parseBaudRateFlag(mListing);
    if (mPacer)
        mPacer->stop();
    mLink->writeCommand(QString::fromLatin1(KcRadioProtocol::DataModeCmd));
    mLink->clearRecvBuffer();
    if (mCadence != KcCadence::Acknowledged)
        return;
    // Done as soon as the radio is back in data mode and the port released.
    mVerdictTimer->stop();
    mState = State::Leaving;
    const auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(mLink, &KcRadioCommandLink::portReleased, this, [this, connection]() {
        disconnect(*connection);
        if (mState != State::Leaving)
            return; // stopped or started anew meanwhile
        finish(!mIdStr.isEmpty(),
               mIdStr.isEmpty() ? tr("MsgRadioIDReadFailed") : tr("MsgRadioIDReadSuccessfully"),
               mIdStr, mIdStr.isEmpty() ? 1 : mBaudRateFlag);
    });
    mLink->releasePort();
}

void KcRadioParamReader::onCommandModeGivenUp()
{
    // The link has closed the port and cleared the buffer already.
    if (mState != State::Entering)
        return;
    finish(false, tr("MsgEnterCmdModeFailed"), QString(), 1);
}

void KcRadioParamReader::onVerdictTimeout()
{
    if (mState != State::Reading)
        return;
    emit sigListingVerdict(listingVerdict());
    // Whatever the listing came to, the radio leaves command mode: "ATA" is
    // sent now unless it went out after the listing, and has left before the
    // port closes. A receiver that starts the next read from its slot takes
    // the port over.
    mLink->releasePort();
    if (!mIdStr.isEmpty())
        finish(true, tr("MsgRadioIDReadSuccessfully"), mIdStr, mBaudRateFlag);
    else
        finish(false, tr("MsgRadioIDReadFailed"), QString(), 1);
}

void KcRadioParamReader::setCadence(KcCadence cadence)
{
    mCadence = cadence;
    mLink->setGuardedEntry(cadence == KcCadence::Acknowledged);
    if (cadence == KcCadence::Fixed || mPacer)
        return;
    mPacer = new KcCommandPacer(mLink, this);
    mPacer->setCadence(cadence);
    connect(mLink, &KcRadioCommandLink::commandWritten, this, [this](const QString &command) {
        if (mState == State::Reading && command == QLatin1String(KcRadioProtocol::ListSettingsCmd))
            startVerdictTimer();
    });
}

void KcRadioParamReader::abort()
{
    if (mPacer)
        mPacer->stop();
    mVerdictTimer->stop();
    mState = State::Idle;
    mLink->releasePort(KcRadioTiming::replyWaitMs());
}

void KcRadioParamReader::finish(bool isSucc, const QString &retString, const QString &idStr,
                                int baudRateFlag)
{
    if (mPacer)
        mPacer->stop();
    mState = State::Idle;
    emit sigRadioIDReady(isSucc, retString, idStr, baudRateFlag);
}

QString KcRadioParamReader::parseRadioID(const QByteArray &listing) const
{
    return KcSettingsListing::parseRadioID(listing);
}

int KcRadioParamReader::parseBaudRateFlag(const QByteArray &listing) const
{
    return KcSettingsListing::parseBaudRateFlag(listing);
}
