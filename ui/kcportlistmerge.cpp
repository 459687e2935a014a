#include "kcportlistmerge.h"

#include <QSet>

namespace {

QList<KcPortEntry> freePorts(const QList<KcPortEntry> &ports)
{
    QList<KcPortEntry> free;
    for (const KcPortEntry &port : ports)
        if (!port.busy)
            free.append(port);
    return free;
}

int indexOf(const QList<KcPortListItem> &items, const QString &name)
{
    for (int i = 0; i < items.size(); ++i)
        if (items.at(i).port.name == name)
            return i;
    return -1;
}

} // namespace

KcPortListState KcPortListMerge::rebuilt(const QList<KcPortEntry> &fresh, const QString &kept)
{
    KcPortListState state;
    for (const KcPortEntry &port : freePorts(fresh))
        state.items.append({port, false});
    state.current = kept.isEmpty() ? -1 : indexOf(state.items, kept);
    if (state.current < 0)
        state.current = state.items.isEmpty() ? -1 : 0;
    return state;
}

KcPortListState KcPortListMerge::merged(const KcPortListState &shown,
                                        const QList<KcPortEntry> &fresh)
{
    const bool hasSelection = shown.current >= 0 && shown.current < shown.items.size();
    QSet<QString> known;
    for (const KcPortListItem &item : shown.items)
        known.insert(item.port.name);

    KcPortListState state;
    QString firstNew;
    for (const KcPortEntry &port : freePorts(fresh)) {
        state.items.append({port, false});
        if (firstNew.isEmpty() && !known.contains(port.name))
            firstNew = port.name;
    }

    // What the fresh list lacks but stays goes back after the nearest entry
    // before it that is still listed, so the order the user saw holds.
    for (int i = 0; i < shown.items.size(); ++i) {
        KcPortListItem item = shown.items.at(i);
        if (indexOf(state.items, item.port.name) >= 0)
            continue;
        if (item.port.fromSystem) {
            if (!hasSelection || i != shown.current)
                continue;
            item.unplugged = true;
        }
        int at = 0;
        for (int before = i - 1; before >= 0 && at == 0; --before)
            at = indexOf(state.items, shown.items.at(before).port.name) + 1;
        state.items.insert(at, item);
    }

    const QString selected = hasSelection ? shown.items.at(shown.current).port.name : QString();
    state.current = selected.isEmpty() ? -1 : indexOf(state.items, selected);
    const bool selectionGone = state.current < 0 || state.items.at(state.current).unplugged;
    if (selectionGone && !firstNew.isEmpty()) {
        // The newly plugged adapter is chosen: the lost port's mark goes.
        if (state.current >= 0)
            state.items.removeAt(state.current);
        state.current = indexOf(state.items, firstNew);
    }
    return state;
}
