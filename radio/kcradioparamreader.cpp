#include "kcradioparamreader.h"

#include "kclogging.h"
#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcsettingslisting.h"

#include <QDebug>

#include <algorithm>

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
}

// The link is a child and releases its port object with itself.
KcRadioParamReader::~KcRadioParamReader() = default;

void KcRadioParamReader::readRadioParam(const QString &portName)
{
    // A verdict still pending from an earlier read must not end this one.
    mVerdictTimer->stop();
    mState = State::Idle;
    ++mStarts;

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
    if (mState != State::Entering)
        return;
    mState = State::Reading;
    // The escape answer ends in "OK" ("NO CARRIER", CR LF, "OK"); when that
    // "OK" has not arrived yet, it may still come after "AT&V" and must not
    // be taken for the end of the listing.
    mEscapeOkOwed = !escapeAnswerComplete(mLink->recvBuffer().bytes());
    sendReadRadioIDCmd();
    mVerdictTimer->start(KcRadioTiming::replyWaitMs());
}

bool KcRadioParamReader::escapeAnswerComplete(const QByteArray &buffer)
{
    const int noCarrier = buffer.lastIndexOf(KcRadioProtocol::NoCarrierToken);
    const int greeting = buffer.lastIndexOf("Welcome");
    QByteArray answer = buffer.mid(qMax(noCarrier, greeting) + 1);
    const QList<QByteArray> lines = answer.replace('\r', '\n').split('\n');
    return std::any_of(lines.cbegin(), lines.cend(), &KcReplyTracker::isOkLine);
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
    mLink->writeCommand(QString::fromLatin1(KcRadioProtocol::DataModeCmd));
    mLink->clearRecvBuffer();
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
    const quint64 start = mStarts;
    if (!mIdStr.isEmpty())
        finish(true, tr("MsgRadioIDReadSuccessfully"), mIdStr, mBaudRateFlag);
    else
        finish(false, tr("MsgRadioIDReadFailed"), QString(), 1);
    // A listing still incomplete now is lost with the port. A receiver that
    // started the next read from its slot owns the port now: leave it open.
    if (start == mStarts)
        mLink->closeSerialPort();
}

void KcRadioParamReader::finish(bool isSucc, const QString &retString, const QString &idStr,
                                int baudRateFlag)
{
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
