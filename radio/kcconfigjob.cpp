#include "kcconfigjob.h"

#include "kcradiocommandlink.h"
#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotimer.h"
#include "kcradiotiming.h"
#include "kcsettingslisting.h"

KcConfigJob::KcConfigJob(const QString &portName, const KcRadioSettings &settings, bool verify,
                         QObject *parent)
    : QObject(parent), mPortName(portName), mSettings(settings), mVerify(verify),
      mLink(new KcRadioCommandLink(KcLinkProfile::panel(), this)),
      mSequenceTimer(new KcRadioTimer(this))
{
    mLink->setPortName(portName);
    connect(mLink, &KcRadioCommandLink::commandModeEntered, this,
            &KcConfigJob::onCommandModeEntered);
    connect(mLink, &KcRadioCommandLink::commandWritten, this, &KcConfigJob::onCommandWritten);
    connect(mLink, &KcRadioCommandLink::gaveUp, this, [this]() {
        finish(Outcome::Silent,
               QStringLiteral("no answer to the escape at 115200, 230400 or 9600"));
    });
    connect(mLink, &KcRadioCommandLink::openFailed, this,
            [this](const QString &port, const QString &error) {
                mReason = QStringLiteral("cannot open %1: %2").arg(port, error);
            });
    connect(mSequenceTimer, &KcRadioTimer::timeout, this, &KcConfigJob::onSequenceTick);
}

KcConfigJob::~KcConfigJob() = default;

QString KcConfigJob::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Running:
        return QStringLiteral("running");
    case Outcome::Configured:
        return QStringLiteral("configured");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::Mismatch:
        return QStringLiteral("mismatch");
    case Outcome::ReadBackFailed:
        return QStringLiteral("read-back-failed");
    case Outcome::PortFailed:
        return QStringLiteral("port-failed");
    case Outcome::Silent:
        return QStringLiteral("silent");
    case Outcome::Aborted:
        return QStringLiteral("aborted");
    }
    return QString();
}

const QList<int> &KcConfigJob::reportedRegisters()
{
    static const QList<int> registers{102, 103, 104, 105, 113};
    return registers;
}

double KcConfigJob::seconds() const
{
    if (mElapsedMs >= 0)
        return mElapsedMs / 1000.0;
    return mElapsed.isValid() ? mElapsed.elapsed() / 1000.0 : 0.0;
}

void KcConfigJob::start()
{
    mElapsed.start();
    if (!mLink->openSerialport()) {
        finish(Outcome::PortFailed, mReason);
        return;
    }
    emit progress(QStringLiteral("opened, looking for the radio's rate"));
    mLink->startCommandModeEntry();
}

void KcConfigJob::onCommandModeEntered()
{
    if (mOutcome != Outcome::Running)
        return;
    if (!mInCommandMode) {
        mInCommandMode = true;
        mRate = mLink->baudRate();
        emit progress(QStringLiteral("command mode at %1 baud").arg(mRate));
    }
    mRepliesReported = 0;
    // As in the window: the first command follows the radio's last word by a
    // full interval.
    mSequenceTimer->start(KcRadioTiming::commandIntervalMs());
}

void KcConfigJob::onCommandWritten(const QString &command)
{
    reportReplies();
    if (command == QLatin1String(KcRadioProtocol::Escape) && !mInCommandMode)
        emit progress(QStringLiteral("> +++ at %1 baud").arg(mLink->baudRate()));
    else
        emit progress(QStringLiteral("> ") + command);
}

void KcConfigJob::reportReplies()
{
    const QList<KcReplyTracker::Window> &windows = mLink->replies().windows();
    // Every window but the one still open; all of them once the run is over.
    const int closed = mOutcome == Outcome::Running && mSequenceTimer->isActive()
                           ? windows.size() - 1
                           : windows.size();
    for (; mRepliesReported < closed; ++mRepliesReported) {
        QByteArray bytes = windows.at(mRepliesReported).bytes;
        for (const QByteArray &line : bytes.replace('\r', '\n').split('\n'))
            if (!line.trimmed().isEmpty())
                emit progress(QStringLiteral("< ") + QString::fromLatin1(line.trimmed()));
    }
}

void KcConfigJob::onSequenceTick()
{
    const int step = mLink->sendStep();
    const std::optional<QString> command = KcConfigSequence::commandForStep(mSettings, step);
    if (!command) {
        judge();
        return;
    }
    mLink->setSendStep(step + 1);
    mLink->writeCommand(*command);
    if (*command == QLatin1String(KcRadioProtocol::DataModeCmd))
        mInCommandMode = false;
}

void KcConfigJob::judge()
{
    mSequenceTimer->stop();
    mLink->setLastCmd(QString());
    mLink->setSendStep(0);
    reportReplies();
    const KcCommandVerdict verdict =
        KcConfigSequence::judge(KcConfigSequence::commands(mSettings), mLink->replies());
    mLink->clearRecvBuffer();
    mLink->resetReplies();
    mLink->closeSerialPort();
    if (!verdict.ok) {
        finish(Outcome::Refused, verdict.describe());
        return;
    }
    emit progress(QStringLiteral("every command acknowledged"));
    if (mVerify)
        startReadBack();
    else
        finish(Outcome::Configured);
}

void KcConfigJob::startReadBack()
{
    mReader = new KcRadioParamReader(this);
    connect(mReader, &KcRadioParamReader::sigRadioIDReady, this,
            [this](bool isSucc) { onReadBack(isSucc); });
    connect(mReader->link(), &KcRadioCommandLink::commandWritten, this,
            [this](const QString &command) { emit progress(QStringLiteral("> ") + command); });
    // The radio takes the rate it was given when it returns to data mode;
    // the reader still tries the others when it does not answer there.
    const int code = KcRadioProtocol::baudRateCodeFor(mSettings.netMode, mSettings.radioType,
                                                      mSettings.baudRateCode);
    mReader->link()->setBaudRate(KcRadioProtocol::baudRateForCode(code));
    emit progress(QStringLiteral("reading the stored settings back"));
    mReader->readRadioParam(mPortName);
}

void KcConfigJob::onReadBack(bool isSucc)
{
    Q_UNUSED(isSucc)
    const QByteArray listing = mReader->listing();
    if (listing.isEmpty()) {
        finish(Outcome::ReadBackFailed, QStringLiteral("the radio did not list its settings"));
        return;
    }
    for (int reg : reportedRegisters())
        if (const std::optional<QString> value = KcSettingsListing::registerValue(listing, reg))
            mRegisters.insert(reg, *value);
    const QList<KcRegisterMismatch> mismatches = KcConfigSequence::verify(mSettings, listing);
    if (!mismatches.isEmpty()) {
        QStringList parts;
        for (const KcRegisterMismatch &mismatch : mismatches)
            parts << QStringLiteral("S%1 holds %2, %3 was sent")
                         .arg(mismatch.reg)
                         .arg(mismatch.stored.isEmpty()
                                  ? QStringLiteral("nothing")
                                  : QStringLiteral("\"%1\"").arg(mismatch.stored))
                         .arg(mismatch.expected);
        finish(Outcome::Mismatch, parts.join(QStringLiteral("; ")));
        return;
    }
    mVerified = true;
    emit progress(QStringLiteral("stored settings match"));
    finish(Outcome::Configured);
}

void KcConfigJob::abort()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    mAborting = true;
    mSequenceTimer->stop();
    mLink->stopCommandModeEntry();
    // Whoever holds the radio in command mode sends it back to data mode.
    KcRadioCommandLink *link = mLink;
    bool inCommandMode = mInCommandMode;
    if (mReader) {
        link = mReader->link();
        link->stopCommandModeEntry();
        inCommandMode = link->lastCmd() == QLatin1String(KcRadioProtocol::ListSettingsCmd);
    }
    auto release = [this]() {
        mLink->closeSerialPort();
        if (mReader)
            mReader->link()->closeSerialPort();
        finish(Outcome::Aborted, QStringLiteral("stopped"));
    };
    if (!inCommandMode || !link->isPortOpen()) {
        release();
        return;
    }
    link->writeCommand(QString::fromLatin1(KcRadioProtocol::DataModeCmd));
    // Closing restores the port's former line settings at once, which would
    // garble an "ATA" still on its way: give it the reply wait to leave.
    KcRadioTimer::singleShot(KcRadioTiming::replyWaitMs(), this, release);
}

void KcConfigJob::finish(Outcome outcome, const QString &reason)
{
    if (mOutcome != Outcome::Running)
        return;
    mOutcome = outcome;
    mReason = reason;
    if (mElapsed.isValid())
        mElapsedMs = mElapsed.elapsed();
    mSequenceTimer->stop();
    emit finished();
}
