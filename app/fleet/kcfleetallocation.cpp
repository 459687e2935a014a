#include "kcfleetallocation.h"

#include "kcradioid.h"

#include <QRandomGenerator>

#include <algorithm>
#include <optional>

namespace KcFleetAllocation {

void assignIndexes(QList<KcFleetRadio> &radios)
{
    QMap<QString, QSet<int>> taken;
    for (const KcFleetRadio &radio : radios)
        if (radio.isStarAirborne() && radio.index > 0)
            taken[radio.network].insert(radio.index);
    for (KcFleetRadio &radio : radios) {
        if (!radio.isStarAirborne() || radio.index > 0)
            continue;
        QSet<int> &used = taken[radio.network];
        int index = 1;
        while (used.contains(index))
            ++index;
        radio.index = index;
        used.insert(index);
    }
}

quint64 freshId(QRandomGenerator &random, const QSet<quint64> &taken)
{
    // About a billion IDs can be drawn; a plan and a record hold a few
    // thousand at most, so a free one comes within a few draws.
    for (;;) {
        const quint32 r1 = random.bounded(32768u);
        const quint32 r2 = random.bounded(32768u);
        const quint64 id = KcRadioId::fromDraws(r1, r2);
        if (!taken.contains(id))
            return id;
    }
}

Ids assignIds(const KcFleetPlan &plan, const QList<KcFleetRecordEntry> &entries, bool resume,
              bool allowReused, QRandomGenerator &random)
{
    QList<QPair<QString, QString>> recorded; // network, ID of the lines that hold their ID
    for (const KcFleetRecordEntry &entry : entries)
        if (entry.claimsId())
            recorded.append({entry.network, entry.id});
    Ids ids;
    QSet<quint64> taken;
    QMap<QString, QString> latest; // network -> its latest recorded ID
    for (const auto &[network, id] : recorded) {
        if (!KcRadioId::acceptedDigits(id))
            continue;
        taken.insert(id.toULongLong());
        latest.insert(network, id);
    }
    for (const KcFleetRadio &radio : plan.radios)
        if (!radio.id.isEmpty())
            taken.insert(radio.id.toULongLong());
    // Who else the record holds ID id for, in words: another network, or the
    // window (a line without a network); empty when nobody.
    auto holderBesides = [&recorded](const QString &network, const QString &id) {
        std::optional<QString> other;
        for (const auto &[name, recordedId] : recorded)
            if (name != network && KcRadioId::acceptedDigits(recordedId) &&
                recordedId.toULongLong() == id.toULongLong())
                other = name;
        if (!other)
            return QString();
        return other->isEmpty() ? QStringLiteral("by the window")
                                : QStringLiteral("for network \"%1\"").arg(*other);
    };

    for (const KcFleetRadio &radio : plan.radios) {
        if (radio.id.isEmpty())
            continue;
        ids.byNetwork.insert(radio.network, radio.id);
        // The record may hold the ID for this network as well as another.
        const QString other = holderBesides(radio.network, radio.id);
        if (!other.isEmpty() && !allowReused)
            ids.problems.append({radio.line, QStringLiteral("ID %1 is recorded %2; --allow-reused-id permits it")
                                                 .arg(radio.id, other)});
    }
    for (const QString &network : plan.networks()) {
        if (ids.byNetwork.contains(network))
            continue;
        if (resume && latest.contains(network)) {
            const QString id = latest.value(network);
            ids.byNetwork.insert(network, id);
            ids.reused.insert(network, true);
            // An ID the record holds for two networks (a hand edit, or an
            // earlier --allow-reused-id) is refused as a plan's would be.
            const QString other = holderBesides(network, id);
            const auto first =
                std::find_if(plan.radios.cbegin(), plan.radios.cend(),
                             [&](const KcFleetRadio &radio) { return radio.network == network; });
            if (!other.isEmpty() && !allowReused)
                ids.problems.append(
                    {first->line, QStringLiteral("network \"%1\" would resume with ID %2, which "
                                                 "the record holds %3 too; "
                                                 "--allow-reused-id permits it")
                                      .arg(network, id, other)});
            continue;
        }
        const quint64 id = freshId(random, taken);
        taken.insert(id);
        ids.byNetwork.insert(network, QString::number(id));
    }
    return ids;
}

} // namespace KcFleetAllocation
