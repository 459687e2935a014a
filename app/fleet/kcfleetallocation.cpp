#include "kcfleetallocation.h"

#include "kcradioid.h"

#include <QRandomGenerator>

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

Ids assignIds(const KcFleetPlan &plan, const QList<QPair<QString, QString>> &recorded, bool resume,
              bool allowReused, QRandomGenerator &random)
{
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

    for (const KcFleetRadio &radio : plan.radios) {
        if (radio.id.isEmpty())
            continue;
        ids.byNetwork.insert(radio.network, radio.id);
        const quint64 value = radio.id.toULongLong();
        // The record may hold the ID for this network as well as another, or
        // for a radio the window configured (a line without a network).
        std::optional<QString> other;
        for (const auto &[network, id] : recorded)
            if (network != radio.network && KcRadioId::acceptedDigits(id) &&
                id.toULongLong() == value)
                other = network;
        const QString holder =
            other && other->isEmpty()
                ? QStringLiteral("by the window")
                : QStringLiteral("for network \"%1\"").arg(other.value_or(QString()));
        if (other && !allowReused)
            ids.problems.append(
                {radio.line, QStringLiteral("ID %1 is recorded %2; --allow-reused-id permits it")
                                 .arg(radio.id, holder)});
    }
    for (const QString &network : plan.networks()) {
        if (ids.byNetwork.contains(network))
            continue;
        if (resume && latest.contains(network)) {
            ids.byNetwork.insert(network, latest.value(network));
            ids.reused.insert(network, true);
            continue;
        }
        const quint64 id = freshId(random, taken);
        taken.insert(id);
        ids.byNetwork.insert(network, QString::number(id));
    }
    return ids;
}

} // namespace KcFleetAllocation
