#include "kcrunreport.h"

#include "kcradiocommandlink.h"
#include "kcradioprotocol.h"
#include "kcradiotiming.h"

#include <QCoreApplication>

namespace {

// Fills the numbered places of a translated text. A key that has no
// translation has no places and is shown as it stands.
template <typename... Values> QString filled(const QString &text, const Values &...values)
{
    return text.contains(QLatin1Char('%')) ? text.arg(values...) : text;
}

int wholeSeconds(int ms)
{
    return (ms + 999) / 1000;
}

QString ratesText(const QList<int> &rates, const QString &last)
{
    QStringList words;
    for (int rate : rates)
        words << QString::number(rate);
    if (words.size() < 2)
        return words.join(QString());
    const QString tail = words.takeLast();
    return words.join(QStringLiteral(", ")) + last + tail;
}

} // namespace

QString KcRunReason::englishText() const
{
    QString sentence;
    switch (cause) {
    case Cause::None:
        break;
    case Cause::PortFailed:
        sentence = QStringLiteral("cannot open %1: %2").arg(port, systemError);
        break;
    case Cause::PortLost:
        sentence = systemError.isEmpty()
                       ? QStringLiteral("port lost: %1").arg(port)
                       : QStringLiteral("port lost: %1: %2").arg(port, systemError);
        break;
    case Cause::NoEscapeAnswer:
    case Cause::EscapeUnreadable:
        sentence = QStringLiteral("no answer to the escape at %1")
                       .arg(ratesText(rates, QStringLiteral(" or ")));
        if (cause == Cause::EscapeUnreadable)
            sentence += QStringLiteral("; what came was not readable at the rate it came at");
        break;
    case Cause::CommandRefused:
    case Cause::CommandUnanswered:
    case Cause::CommandNotSent: {
        KcCommandVerdict verdict;
        verdict.command = command;
        verdict.waitMs = waitMs;
        verdict.fault = cause == Cause::CommandRefused      ? KcCommandVerdict::Fault::Refused
                        : cause == Cause::CommandUnanswered ? KcCommandVerdict::Fault::Unanswered
                                                            : KcCommandVerdict::Fault::NotSent;
        sentence = verdict.describe();
        break;
    }
    case Cause::NoRadioId:
        sentence = QStringLiteral("the listing holds no radio ID");
        break;
    case Cause::StoppedAfter:
        sentence = KcConfigSequence::stoppedAfterText(command);
        break;
    case Cause::Custom:
        sentence = english;
        break;
    }
    if (backFromCommandMode) {
        const QString back =
            QStringLiteral("the radio was in command mode and is back in data mode");
        sentence = sentence.isEmpty() ? back : sentence + QStringLiteral("; ") + back;
    }
    return sentence;
}

KcRunReport::KcRunReport(QObject *parent) : QObject(parent) {}

QString KcRunReport::text(const KcRunReason &reason)
{
    // The radio that was found in command mode and sent back is ready for
    // the next run: that is the news, whatever the escapes got.
    if (reason.backFromCommandMode)
        return tr("LabReasonBackFromCommandMode");
    const QString rate1 = QString::number(reason.rates.value(0));
    const QString rate2 = QString::number(reason.rates.value(1));
    const QString rate3 = QString::number(reason.rates.value(2));
    switch (reason.cause) {
    case KcRunReason::Cause::None:
        return QString();
    case KcRunReason::Cause::PortFailed:
        return filled(tr("LabReasonPortFailed"), reason.port, reason.systemError);
    case KcRunReason::Cause::PortLost: {
        const QString lost = filled(tr("LabReasonPortLost"), reason.port);
        return reason.systemError.isEmpty() ? lost
                                            : lost + QStringLiteral(": ") + reason.systemError;
    }
    case KcRunReason::Cause::NoEscapeAnswer:
        return filled(tr("LabReasonNoEscapeAnswer"), rate1, rate2, rate3);
    case KcRunReason::Cause::EscapeUnreadable:
        // Bytes that were no text came: an answer sent at another rate, too
        // late for the rate it was meant for. The radio did answer, only
        // unreadably.
        return filled(tr("LabReasonEscapeUnreadable"), rate1, rate2, rate3);
    case KcRunReason::Cause::CommandRefused:
        return filled(tr("LabReasonRefused"), reason.command);
    case KcRunReason::Cause::CommandUnanswered:
        return filled(tr("LabReasonUnanswered"), reason.command,
                      QString::number(wholeSeconds(reason.waitMs)));
    case KcRunReason::Cause::CommandNotSent:
        return filled(tr("LabReasonNotSent"), reason.command);
    case KcRunReason::Cause::NoRadioId:
        return tr("LabReasonNoRadioId");
    case KcRunReason::Cause::StoppedAfter:
        if (reason.command.isEmpty())
            return tr("LabReasonStoppedBeforeAny");
        if (reason.command == QLatin1String(KcRadioProtocol::StoreCmd))
            return filled(tr("LabReasonStoppedAfterStore"), reason.command);
        if (KcConfigSequence::isPreset(reason.command))
            return filled(tr("LabReasonStoppedAfterPreset"), reason.command);
        return filled(tr("LabReasonStoppedAfterRegister"), reason.command);
    case KcRunReason::Cause::Custom:
        return reason.words.isEmpty() ? reason.english : reason.words;
    }
    return QString();
}

void KcRunReport::watch(KcRadioCommandLink *link)
{
    connect(link, &KcRadioCommandLink::entryAttempt, this, [this, link](int attempt, int rate) {
        if (link == mLink)
            onEntryAttempt(attempt, rate);
    });
    connect(link, &KcRadioCommandLink::commandModeEntered, this, [this, link]() {
        if (link == mLink)
            onCommandModeEntered();
    });
    connect(link, &KcRadioCommandLink::commandWritten, this, [this, link](const QString &command) {
        if (link == mLink)
            onCommandWritten(command);
    });
}

void KcRunReport::start(Kind kind, KcRadioCommandLink *link, int commands)
{
    mKind = kind;
    mLastKind = kind;
    mLink = link;
    // The reader and the eraser write an escape as entry starts (attempt 0).
    mFirstAttempt = link && link->profile().escapeAtStart ? 0 : 1;
    mTicks = 0;
    mTried = false;
    mCommands = commands;
    mWritten = 0;
    mPortsLostBefore = link ? link->portsLost() : 0;
    mJudged = false;
    mVerdict = KcCommandVerdict();
    mReason = KcRunReason();
    emit progressChanged(0, KcRadioCommandLink::MaxEntryAttempts + commands,
                         tr("LabProgressStarting"));
}

void KcRunReport::end(const KcRunReason &reason)
{
    mKind = Kind::None;
    mReason = reason;
    emit ended(reasonText());
}

void KcRunReport::setVerdict(const KcCommandVerdict &verdict)
{
    mJudged = true;
    mVerdict = verdict;
}

void KcRunReport::showReturning()
{
    emit progressChanged(0, 0, tr("LabProgressReturning"));
}

void KcRunReport::showStep(int value, int maximum, const QString &text)
{
    emit progressChanged(value, maximum, text);
}

int KcRunReport::rateFound() const
{
    return mLink && (mTried || mWritten > 0) ? mLink->answeredRate() : 0;
}

// The bar counts intervals: those of the entry attempts so far, then one per
// command after the answered escape and one for the verdict. Until command
// mode is entered its end assumes that the last attempt will be answered.
void KcRunReport::onEntryAttempt(int attempt, int rate)
{
    if (mKind == Kind::None)
        return;
    mTicks = attempt;
    mTried = true;
    const int attempts = KcRadioCommandLink::MaxEntryAttempts - mFirstAttempt + 1;
    emit progressChanged(attempt, KcRadioCommandLink::MaxEntryAttempts + mCommands,
                         filled(tr("LabProgressEntry"), QString::number(rate),
                                QString::number(attempt - mFirstAttempt + 1),
                                QString::number(attempts)));
}

void KcRunReport::onCommandModeEntered()
{
    // The radio may confirm more than once before the first command.
    if (mKind == Kind::None || mWritten > 0)
        return;
    mWritten = 1; // the escape it answered
    showCommandProgress();
}

void KcRunReport::onCommandWritten(const QString &command)
{
    if (mKind == Kind::None)
        return;
    // The reader writes its listing command as it hears of command mode,
    // before this report does: the answered escape counts first.
    if (mWritten == 0 && command != QLatin1String(KcRadioProtocol::Escape) && mLink &&
        mLink->inCommandMode())
        mWritten = 1;
    if (mWritten == 0)
        return;
    // A run that found the radio in command mode before its first escape
    // writes the escape as a step of its own: one interval more.
    if (command == QLatin1String(KcRadioProtocol::Escape))
        ++mTicks;
    else
        mWritten = qMin(mWritten + 1, mCommands);
    showCommandProgress();
}

void KcRunReport::showCommandProgress()
{
    const int value = mTicks + mWritten - 1;
    const int maximum = mTicks + mCommands;
    // The cadence is fixed: each command still to come and the verdict after
    // the last take one interval each; a read ends one reply wait after it
    // asked for the listing.
    const int msLeft = mKind == Kind::Read ? KcRadioTiming::replyWaitMs()
                                           : (maximum - value) * KcRadioTiming::commandIntervalMs();
    emit progressChanged(value, maximum,
                         filled(tr("LabProgressCommand"), QString::number(mWritten),
                                QString::number(mCommands), QString::number(wholeSeconds(msLeft))));
}

KcRunReason KcRunReport::portLostReason(const QString &portName) const
{
    KcRunReason reason;
    reason.cause = KcRunReason::Cause::PortLost;
    reason.port = portName;
    if (mLink)
        reason.systemError = mLink->lostReason();
    return reason;
}

KcRunReason KcRunReport::failureReason() const
{
    // The reader and the eraser may report before the view hears of the
    // loss: the link's count tells.
    if (mLink && mLink->portsLost() > mPortsLostBefore)
        return portLostReason(mLink->portName());
    if (mJudged) {
        if (!mVerdict.ok)
            return verdictReason(mVerdict);
        KcRunReason reason;
        if (mLastKind == Kind::Read)
            reason.cause = KcRunReason::Cause::NoRadioId;
        return reason;
    }
    return mTried ? escapeReason() : KcRunReason();
}

KcRunReason KcRunReport::verdictReason(const KcCommandVerdict &verdict) const
{
    KcRunReason reason;
    reason.command = verdict.command;
    switch (verdict.fault) {
    case KcCommandVerdict::Fault::Refused:
        reason.cause = KcRunReason::Cause::CommandRefused;
        break;
    case KcCommandVerdict::Fault::Unanswered:
        reason.cause = KcRunReason::Cause::CommandUnanswered;
        // The time it had: up to the next command, or for a read the wait
        // for its listing.
        reason.waitMs = mLastKind == Kind::Read ? KcRadioTiming::replyWaitMs()
                                                : KcRadioTiming::commandIntervalMs();
        break;
    case KcCommandVerdict::Fault::NotSent:
        reason.cause = KcRunReason::Cause::CommandNotSent;
        break;
    case KcCommandVerdict::Fault::None:
        break;
    }
    return reason;
}

KcRunReason KcRunReport::escapeReason() const
{
    KcRunReason reason;
    if (!mLink)
        return reason;
    reason.cause = mLink->unreadableDuringEntry() ? KcRunReason::Cause::EscapeUnreadable
                                                  : KcRunReason::Cause::NoEscapeAnswer;
    reason.rates = mLink->baudRateList();
    return reason;
}

QString KcRunReport::verdictOutcome(const KcCommandVerdict &verdict)
{
    return verdict.fault == KcCommandVerdict::Fault::Unanswered ? QStringLiteral("unanswered")
                                                                : QStringLiteral("refused");
}

QString KcRunReport::failureOutcome() const
{
    if (mLink && mLink->portsLost() > mPortsLostBefore)
        return QStringLiteral("port-lost");
    if (mJudged)
        return mVerdict.ok ? QStringLiteral("no-id") : verdictOutcome(mVerdict);
    return mTried ? QStringLiteral("silent") : QStringLiteral("port-failed");
}
