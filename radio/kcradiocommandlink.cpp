#include "kcradiocommandlink.h"

#include "kclogging.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"

#include <QDateTime>
#include <QDebug>

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
    : QObject(parent), mProfile(profile)
{
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
    return port;
}

bool KcRadioCommandLink::openSerialport()
{
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

void KcRadioCommandLink::startCommandModeEntry()
{
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
}

bool KcRadioCommandLink::writeCommand(const QString &commandText)
{
    if (!mSerialPort)
        return false;
    // A port that is closed, or was closed after it vanished, takes nothing.
    if (mSerialPort->isOpen())
        mSerialPort->write(KcRadioProtocol::commandLine(commandText));
    mLastCmd = commandText;
    mReplies.commandWritten(commandText);
    emit commandWritten(commandText);
    return true;
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

    if (mCmdModeTryCount >= MaxEntryAttempts) {
        mCmdModeTryCount = 0;
        mCmdModeTimer->stop();
        mRecvBuffer.clear();
        mReplies.reset();
        if (mProfile.countPositiveReplies)
            mOKCount = 0;
        closeSerialPort();
        emit gaveUp();
        return;
    }

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

    if (!chunk.isEmpty()) {
        mRecvBuffer.append(chunk);
        mReplies.bytesReceived(chunk);
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

    if (mLastCmd == QLatin1String(KcRadioProtocol::Escape) &&
        (mRecvBuffer.contains(KcRadioProtocol::NoCarrierToken) || banner)) {
        mCmdModeTryCount = 0;
        if (mCmdModeTimer)
            mCmdModeTimer->stop();
        // Nothing that came before is the answer to a command of the owner.
        mReplies.reset();
        emit commandModeEntered();
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
            mSerialPort->close();
            emit portLost(mPortName);
        }
        break;
    default:
        break;
    }
}
