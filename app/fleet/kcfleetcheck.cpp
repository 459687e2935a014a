#include "kcfleetcheck.h"

#include "kcconfigsequence.h"
#include "kcradioprotocol.h"

using namespace KcRadioProtocol;

namespace KcFleetCheck {

QString Finding::describe() const
{
    const QString holds = held.isEmpty() ? QStringLiteral("S%1 is not listed").arg(reg)
                                         : QStringLiteral("S%1 holds %2").arg(reg).arg(held);
    return holds + QStringLiteral(", ") + expected;
}

QList<Finding> judge(int radioType, int netMode, const QList<QMap<int, QString>> &radios)
{
    QList<Finding> findings;
    if (radios.isEmpty())
        return findings;
    const QString networkId = radios.first().value(104);
    QMap<int, int> indexes; // S105 -> first airborne radio holding it
    for (int i = 0; i < radios.size(); ++i) {
        const QMap<int, QString> &held = radios.at(i);
        auto expect = [&](int reg, const QStringList &values, const QString &words) {
            for (const QString &value : values)
                if (held.contains(reg) &&
                    KcConfigSequence::sameRegisterValue(held.value(reg), value))
                    return true;
            findings.append({i, reg, held.value(reg), words});
            return false;
        };

        if (i == 0) {
            if (networkId.isEmpty())
                findings.append({0, 104, QString(), QStringLiteral("the network's ID")});
        } else if (!networkId.isEmpty()) {
            expect(104, {networkId}, QStringLiteral("the ground radio's is %1").arg(networkId));
        }

        // S102 is the radio's serial rate code: fixed for some models and
        // modes, a choice of three for the others; S103 follows from it.
        const int fixedCode = baudRateCodeFor(netMode, radioType, -1);
        const QStringList codes =
            fixedCode >= 0
                ? QStringList{QString::number(fixedCode)}
                : QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("7")};
        const bool codeFits =
            expect(102, codes,
                   QStringLiteral("a configuration leaves %1")
                       .arg(codes.size() == 1 ? codes.first() : QStringLiteral("0, 1 or 7")));
        if (codeFits) {
            const int s103 = s103ValueFor(netMode, radioType, held.value(102).toInt());
            expect(103, {QString::number(s103)},
                   QStringLiteral("a configuration leaves %1 with S102=%2")
                       .arg(s103)
                       .arg(held.value(102)));
        }
        const int s113 = s113ValueFor(radioType);
        expect(113, {QString::number(s113)},
               QStringLiteral("a configuration leaves %1 on this model").arg(s113));

        if (netMode == Star && i > 0) {
            bool ok = false;
            const int s105 = held.value(105).toInt(&ok);
            if (!ok || s105 < 2 || s105 > 101) {
                findings.append({i, 105, held.value(105),
                                 QStringLiteral("an airborne radio's index plus one, 2 to 101")});
            } else if (indexes.contains(s105)) {
                findings.append({i, 105, held.value(105),
                                 QStringLiteral("index %1 is airborne radio %2's as well")
                                     .arg(s105 - 1)
                                     .arg(indexes.value(s105))});
            } else {
                indexes.insert(s105, i);
            }
        }
    }
    return findings;
}

} // namespace KcFleetCheck
