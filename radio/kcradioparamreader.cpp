#include "kcradioparamreader.h"

#include "kclogging.h"
#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcsettingslisting.h"

#include <QDebug>

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
    mLink->setLastCmd(QString());
    mLink->clearRecvBuffer();
    mLink->setSendStep(0);
    mLink->setPortName(portName);

    if (!mLink->openSerialport()) {
        emit sigRadioIDReady(false, tr("MsgSerialPortOpenFailed"), QString(), 1);
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
    sendReadRadioIDCmd();
    mVerdictTimer->start(KcRadioTiming::replyWaitMs());
    // From here on the buffer holds only the listing.
    mLink->clearRecvBuffer();
}

void KcRadioParamReader::sendReadRadioIDCmd()
{
    if (!mLink->writeCommand(QString::fromLatin1(KcRadioProtocol::ListSettingsCmd)))
        qCDebug(kcLinkLog) << "KcRadioParamReader::sendReadRadioIDCmd failed: seriport is null";
}

void KcRadioParamReader::onReplyReceived(const QByteArray &chunk)
{
    Q_UNUSED(chunk)
    // The listing may come in pieces; it is complete once "OK" follows it.
    if (mState != State::Reading ||
        mLink->lastCmd() != QLatin1String(KcRadioProtocol::ListSettingsCmd) ||
        !mLink->recvBuffer().contains(KcRadioProtocol::OkToken))
        return;

    const QByteArray &listing = mLink->recvBuffer().bytes();
    mIdStr = parseRadioID(listing);
    mBaudRateFlag = parseBaudRateFlag(listing);
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
