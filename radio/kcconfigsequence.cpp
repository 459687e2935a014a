#include "kcconfigsequence.h"

#include "kcradioprotocol.h"
#include "kcsettingslisting.h"

using namespace KcRadioProtocol;

QString KcCommandVerdict::describe() const
{
    switch (fault) {
    case Fault::None:
        return QStringLiteral("acknowledged");
    case Fault::Refused:
        return QStringLiteral("%1 refused").arg(command);
    case Fault::Unanswered: {
        if (!answeredLate && !unreadableLater)
            return QStringLiteral("%1 not acknowledged").arg(command);
        const QString within =
            waitMs > 0 ? QStringLiteral("within %1 ms").arg(waitMs) : QStringLiteral("in time");
        return QStringLiteral("no answer to %1 %2; %3")
            .arg(command, within,
                 answeredLate ? QStringLiteral("the radio answered too late")
                              : QStringLiteral("what came later was not readable at this rate"));
    }
    case Fault::NotSent:
        return QStringLiteral("%1 not sent").arg(command);
    }
    return QString();
}

namespace KcConfigSequence {

QStringList commands(const KcRadioSettings &s)
{
    QStringList list{presetCmd(s.netMode, s.role, s.radioType)};
    if (s.netMode == P2P) {
        const int code = baudRateCodeFor(P2P, s.radioType, s.baudRateCode);
        list << setBaudRateCodeCmd(code) << setS103Cmd(s103ValueFor(P2P, s.radioType, code))
             << setRadioIdCmd(s.radioId) << setS113Cmd(s113ValueFor(s.radioType));
    } else {
        // Star: the same registers for every radio type but S113; the
        // airborne radio also learns its index in the network.
        const int code = baudRateCodeFor(Star, s.radioType, s.baudRateCode);
        list << setBaudRateCodeCmd(code) << setS103Cmd(s103ValueFor(Star, s.radioType, code))
             << setS113Cmd(s113ValueFor(s.radioType)) << setRadioIdCmd(s.radioId);
        if (s.role == Airborne)
            list << setAirborneIndexCmd(s.airborneIndex);
    }
    list << QString::fromLatin1(StoreCmd) << QString::fromLatin1(DataModeCmd);
    return list;
}

std::optional<QString> commandForStep(const KcRadioSettings &settings, int step)
{
    if (step == 0)
        return QString::fromLatin1(Escape);
    const QStringList list = commands(settings);
    if (step < 1 || step > list.size())
        return std::nullopt;
    return list.at(step - 1);
}

KcCommandVerdict judge(const QStringList &expected, const KcReplyTracker &replies)
{
    // Every window, with a line the radio has not ended yet in the last.
    QList<KcReplyTracker::Window> all = replies.windows();
    const QByteArray pending = replies.pendingLine();
    if (!all.isEmpty()) {
        all.last().ok = all.last().ok || KcReplyTracker::isOkLine(pending);
        all.last().error = all.last().error || KcReplyTracker::isErrorLine(pending);
    }
    // The windows of the run proper: those of the expected commands, matched
    // in order (an escape written at step 0 has a window of its own), with
    // where each stands among all of them.
    QList<KcReplyTracker::Window> windows;
    QList<int> at;
    for (int i = 0; i < all.size(); ++i)
        if (windows.size() < expected.size() && all.at(i).command == expected.at(windows.size())) {
            windows.append(all.at(i));
            at.append(i);
        }

    KcCommandVerdict verdict;
    for (int i = 0; i < expected.size(); ++i) {
        verdict.command = expected.at(i);
        if (i >= windows.size()) {
            verdict.fault = KcCommandVerdict::Fault::NotSent;
            return verdict;
        }
        const bool leavesCommandMode = expected.at(i) == QLatin1String(DataModeCmd);
        if (windows.at(i).error) {
            verdict.fault = KcCommandVerdict::Fault::Refused;
            return verdict;
        }
        if (!windows.at(i).ok && !leavesCommandMode) {
            verdict.fault = KcCommandVerdict::Fault::Unanswered;
            // A later answer line is this command's, come too late, unless it
            // may be the later command's own: an "OK" of "ATA" comes with
            // its "CONNECT". Bytes that are no text came at another rate.
            for (int later = at.at(i) + 1; later < all.size(); ++later) {
                const KcReplyTracker::Window &window = all.at(later);
                const bool ownAnswer = window.command == QLatin1String(DataModeCmd) &&
                                       window.bytes.contains("CONNECT");
                verdict.answeredLate =
                    verdict.answeredLate || ((window.ok || window.error) && !ownAnswer);
                verdict.unreadableLater =
                    verdict.unreadableLater || KcReplyTracker::hasUnreadableBytes(window.bytes);
            }
            return verdict;
        }
    }
    verdict.ok = true;
    verdict.command.clear();
    return verdict;
}

QString lastAcknowledged(const QStringList &expected, const KcReplyTracker &replies)
{
    const KcCommandVerdict verdict = judge(expected, replies);
    const int atFault = verdict.ok ? int(expected.size()) : int(expected.indexOf(verdict.command));
    return atFault > 0 ? expected.at(atFault - 1) : QString();
}

bool isPreset(const QString &command)
{
    return command.startsWith(QLatin1String("AT&F"));
}

QString stoppedAfterText(const QString &command)
{
    if (command.isEmpty())
        return QStringLiteral("stopped before the radio acknowledged a command: it holds its "
                              "earlier settings");
    if (command == QLatin1String(StoreCmd))
        return QStringLiteral("stopped after %1: the radio holds the new settings").arg(command);
    if (isPreset(command))
        return QStringLiteral("stopped after %1: the radio holds that preset's settings, not its "
                              "earlier ones")
            .arg(command);
    // Nothing was stored ("AT&W" was not acknowledged): what the radio runs
    // now lasts until it is powered off.
    return QStringLiteral("stopped after %1: until it is powered off the radio holds the preset's "
                          "settings with those sent up to %1, not its earlier ones")
        .arg(command);
}

QList<QPair<int, QString>> expectedRegisters(const KcRadioSettings &s)
{
    QList<QPair<int, QString>> registers{
        {102, QString::number(baudRateCodeFor(s.netMode, s.radioType, s.baudRateCode))},
        {104, s.radioId}};
    if (s.netMode == Star && s.role == Airborne)
        registers.append({105, QString::number(s.airborneIndex + 1)});
    return registers;
}

bool sameRegisterValue(const QString &a, const QString &b)
{
    bool aNumber = false, bNumber = false;
    const qulonglong x = a.toULongLong(&aNumber, 10);
    const qulonglong y = b.toULongLong(&bNumber, 10);
    return aNumber && bNumber ? x == y : a == b;
}

QList<KcRegisterMismatch> verify(const KcRadioSettings &settings, const QByteArray &listing)
{
    QList<KcRegisterMismatch> mismatches;
    for (const auto &[reg, expected] : expectedRegisters(settings)) {
        const std::optional<QString> stored = KcSettingsListing::registerValue(listing, reg);
        if (!stored || !sameRegisterValue(*stored, expected))
            mismatches.append({reg, expected, stored.value_or(QString())});
    }
    return mismatches;
}

} // namespace KcConfigSequence
