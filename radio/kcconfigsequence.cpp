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
    case Fault::Unanswered:
        return QStringLiteral("%1 not acknowledged").arg(command);
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
    // The windows of the run proper: those of the expected commands, matched
    // in order (an escape written at step 0 has a window of its own).
    QList<KcReplyTracker::Window> windows;
    for (const KcReplyTracker::Window &window : replies.windows())
        if (windows.size() < expected.size() && window.command == expected.at(windows.size()))
            windows.append(window);
    // A line the radio has not ended yet belongs to the last window.
    const QByteArray pending = replies.pendingLine();
    if (!windows.isEmpty() && !replies.windows().isEmpty() &&
        replies.windows().last().command == windows.last().command) {
        windows.last().ok = windows.last().ok || KcReplyTracker::isOkLine(pending);
        windows.last().error = windows.last().error || KcReplyTracker::isErrorLine(pending);
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
            return verdict;
        }
    }
    verdict.ok = true;
    verdict.command.clear();
    return verdict;
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
