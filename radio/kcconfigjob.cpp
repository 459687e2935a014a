#include "kcconfigjob.h"

#include "kcradiocommandlink.h"
#include "kcradioparamreader.h"
#include "kcradioprotocol.h"
#include "kcradiotiming.h"
#include "kcsettingslisting.h"

#include <memory>

KcConfigJob::KcConfigJob(const QString &portName, const KcRadioSettings &settings, bool verify,
                         QObject *parent)
    : QObject(parent), mPortName(portName), mSettings(settings), mVerify(verify),
      mLink(new KcRadioCommandLink(KcLinkProfile::panel(), this)),
      mPacer(new KcCommandPacer(mLink, this))
{
    mLink->setPortName(portName);
    // Unlike the window, a radio left in command mode is found and recovered.
    mLink->setRecoversCommandMode(true);
    connect(mLink, &KcRadioCommandLink::commandModeEntered, this,
            &KcConfigJob::onCommandModeEntered);
    connect(mLink, &KcRadioCommandLink::commandWritten, this, &KcConfigJob::onCommandWritten);
    connect(mLink, &KcRadioCommandLink::gaveUp, this,
            [this]() { finish(Outcome::Silent, noEscapeAnswer(*mLink)); });
    connect(mLink, &KcRadioCommandLink::openFailed, this,
            [this](const QString &port, const QString &error) {
                mReason = QStringLiteral("cannot open %1: %2").arg(port, error);
            });
    connect(mLink, &KcRadioCommandLink::portLost, this, &KcConfigJob::onPortLost);
    connect(mPacer, &KcCommandPacer::finished, this, &KcConfigJob::onSequenceOver);
    relayExchange(mLink);
}

void KcConfigJob::relayExchange(KcRadioCommandLink *link)
{
    connect(link, &KcRadioCommandLink::commandWritten, this,
            [this, link](const QString &command) { emit commandSent(command, link->baudRate()); });
    connect(link, &KcRadioCommandLink::chunkReceived, this, &KcConfigJob::chunkReceived);
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
    case Outcome::Unanswered:
        return QStringLiteral("unanswered");
    case Outcome::Mismatch:
        return QStringLiteral("mismatch");
    case Outcome::ReadBackFailed:
        return QStringLiteral("read-back-failed");
    case Outcome::PortFailed:
        return QStringLiteral("port-failed");
    case Outcome::Silent:
        return QStringLiteral("silent");
    case Outcome::PortLost:
        return QStringLiteral("port-lost");
    case Outcome::Aborted:
        return QStringLiteral("aborted");
    }
    return QString();
}

QString KcConfigJob::noEscapeAnswer(const KcRadioCommandLink &link)
{
    QString reason = QStringLiteral("no answer to the escape at 115200, 230400 or 9600");
    if (link.unreadableDuringEntry())
        reason += QStringLiteral("; what came was not readable at the rate it came at");
    return reason;
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
    mPacer->setCadence(mCadence);
    mLink->setGuardedEntry(mCadence == KcCadence::Acknowledged);
    if (!mLink->openSerialport()) {
        finish(Outcome::PortFailed, mReason);
        return;
    }
    emit progress(QStringLiteral("opened, looking for the radio's rate"));
    mLink->startCommandModeEntry();
}

void KcConfigJob::onCommandModeEntered()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    if (!mInCommandMode) {
        mInCommandMode = true;
        mRate = mLink->baudRate();
        emit progress(QStringLiteral("command mode at %1 baud").arg(mRate));
        mRepliesReported = 0;
    }
    mPacer->start(KcConfigSequence::commands(mSettings));
}

void KcConfigJob::onCommandWritten(const QString &command)
{
    reportReplies(mLink, mPacer->roundTrips());
    if (command == QLatin1String(KcRadioProtocol::Escape) && !mInCommandMode)
        emit progress(QStringLiteral("> +++ at %1 baud").arg(mLink->baudRate()));
    else if (command == QLatin1String(KcRadioProtocol::AttentionCmd) && !mInCommandMode)
        emit progress(
            QStringLiteral("> AT at %1 baud (in command mode already?)").arg(mLink->baudRate()));
    else
        emit progress(QStringLiteral("> ") + command);
}

void KcConfigJob::reportReplies(const KcRadioCommandLink *link, const QMap<int, int> &roundTrips)
{
    const QList<KcReplyTracker::Window> &windows = link->replies().windows();
    // Every window but the one still open; all of them once the run is over.
    const int closed = mPacer->isRunning() ? windows.size() - 1 : windows.size();
    for (; mRepliesReported < closed; ++mRepliesReported) {
        QByteArray bytes = windows.at(mRepliesReported).bytes;
        for (const QByteArray &raw : bytes.replace('\r', '\n').split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.isEmpty())
                continue;
            QString text = QStringLiteral("< ") + QString::fromLatin1(line);
            const bool answer = KcReplyTracker::isOkLine(line) || KcReplyTracker::isErrorLine(line);
            if (answer && roundTrips.contains(mRepliesReported))
                text += QStringLiteral(" (%1 ms)").arg(roundTrips.value(mRepliesReported));
            emit progress(text);
        }
    }
}

void KcConfigJob::onSequenceOver()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    mInCommandMode = false;
    // The radio leaves command mode ("ATA" again, should the run have ended
    // before its own), and the port is free, before anything is judged.
    whenReleased(mLink, [this]() { judge(); });
}

void KcConfigJob::judge()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    reportReplies(mLink, mPacer->roundTrips());
    mLink->setLastCmd(QString());
    mLink->setSendStep(0);
    KcCommandVerdict verdict =
        KcConfigSequence::judge(KcConfigSequence::commands(mSettings), mLink->replies());
    // Either cadence gives a command the command interval for its answer.
    verdict.waitMs = KcRadioTiming::commandIntervalMs();
    mLink->clearRecvBuffer();
    mLink->resetReplies();
    if (!verdict.ok) {
        finish(verdict.fault == KcCommandVerdict::Fault::Unanswered ? Outcome::Unanswered
                                                                    : Outcome::Refused,
               verdict.describe());
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
    mReader->setCadence(mCadence);
    relayExchange(mReader->link());
    // As long as a command's answer may take, not the window's short wait.
    mReader->setListingWaitMs(KcRadioTiming::commandIntervalMs());
    mReader->link()->setRecoversCommandMode(true);
    connect(mReader, &KcRadioParamReader::sigRadioIDReady, this, &KcConfigJob::onReadBack);
    connect(mReader->link(), &KcRadioCommandLink::commandWritten, this,
            [this](const QString &command) { emit progress(QStringLiteral("> ") + command); });
    connect(mReader->link(), &KcRadioCommandLink::portLost, this, &KcConfigJob::onPortLost);
    // The radio takes the rate it was given when it returns to data mode;
    // the reader still tries the others when it does not answer there.
    const int code = KcRadioProtocol::baudRateCodeFor(mSettings.netMode, mSettings.radioType,
                                                      mSettings.baudRateCode);
    mReader->link()->setBaudRate(KcRadioProtocol::baudRateForCode(code));
    emit progress(QStringLiteral("reading the stored settings back"));
    mReader->readRadioParam(mPortName);
}

void KcConfigJob::onReadBack()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    // The reader sends the radio back to data mode before the verdict counts.
    whenReleased(mReader->link(), [this]() {
        if (mOutcome != Outcome::Running || mAborting)
            return;
        const QByteArray listing = mReader->listing();
        if (listing.isEmpty()) {
            const KcCommandVerdict verdict = mReader->listingVerdict();
            finish(Outcome::ReadBackFailed,
                   verdict.answeredLate || verdict.unreadableLater
                       ? verdict.describe()
                       : QStringLiteral("the radio did not list its settings"));
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
    });
}

void KcConfigJob::onPortLost(const QString &port)
{
    if (mOutcome != Outcome::Running)
        return;
    mPacer->stop();
    if (mReader)
        mReader->abort();
    mLink->closeSerialPort();
    finish(Outcome::PortLost, QStringLiteral("port lost: %1").arg(port));
}

void KcConfigJob::whenReleased(KcRadioCommandLink *link, const std::function<void()> &then,
                               int dataModeAnswerWaitMs)
{
    const auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(link, &KcRadioCommandLink::portReleased, this, [connection, then]() {
        disconnect(*connection);
        then();
    });
    if (!link->isReleasing())
        link->releasePort(dataModeAnswerWaitMs);
}

void KcConfigJob::abort()
{
    if (mOutcome != Outcome::Running || mAborting)
        return;
    // Every timer of the run stops first; then only the release writes, and
    // only "ATA" (after an escape still in flight has been waited out).
    mAborting = true;
    mPacer->stop();
    // What the radio now holds: the commands it acknowledged so far say.
    QString reason = QStringLiteral("stopped");
    if (!mReader) {
        QStringList stored = KcConfigSequence::commands(mSettings);
        stored.removeLast(); // "ATA", which the release sends
        reason = KcConfigSequence::stoppedAfterText(
            KcConfigSequence::lastAcknowledged(stored, mLink->replies()));
    }
    KcRadioCommandLink *link = mLink;
    if (mReader) {
        mReader->abort();
        link = mReader->link();
    }
    auto release = [this, reason]() {
        mLink->closeSerialPort();
        finish(Outcome::Aborted, reason);
    };
    if (!link->isReleasing() && !link->hasPort()) {
        release();
        return;
    }
    whenReleased(link, release, KcRadioTiming::replyWaitMs());
}

void KcConfigJob::finish(Outcome outcome, const QString &reason)
{
    if (mOutcome != Outcome::Running)
        return;
    mOutcome = outcome;
    mReason = reason;
    if (mElapsed.isValid())
        mElapsedMs = mElapsed.elapsed();
    mPacer->stop();
    emit finished();
}
