#pragma once

#include <QList>
#include <QString>

// A serial port as the port search sees it. The name is what is listed and
// opened; the rest, where known, tells adapters apart in the item's tooltip.
struct KcPortEntry
{
    QString name;
    bool busy = false;
    // Initialised here so that lists written as {name, busy} stay complete.
    QString description{};
    QString manufacturer{};
    QString serialNumber{};
    // Listed by the system (enumerated by the platform, or a path named in
    // KC_EXTRA_SERIAL_PORTS while it exists): one that goes away is dropped,
    // or marked unplugged while selected. Other entries (a test's ports)
    // stay listed when a later list lacks them.
    bool fromSystem = false;
};

// One entry of a panel's port list.
struct KcPortListItem
{
    KcPortEntry port;
    // Selected, but gone from the system's list: shown as unplugged until
    // another port is chosen or it comes back.
    bool unplugged = false;

    bool operator==(const KcPortListItem &other) const
    {
        return port.name == other.port.name && unplugged == other.unplugged &&
               port.description == other.port.description &&
               port.manufacturer == other.port.manufacturer &&
               port.serialNumber == other.port.serialNumber;
    }
};

// A port list and its selection.
struct KcPortListState
{
    QList<KcPortListItem> items;
    int current = -1;

    bool operator==(const KcPortListState &other) const
    {
        return items == other.items && current == other.current;
    }
    bool operator!=(const KcPortListState &other) const { return !(*this == other); }
};

// How a port list follows the system's ports without losing what the user
// chose: a fresh list is merged into the shown one, not put in its place.
// Busy ports are never offered. Knows nothing of widgets.
class KcPortListMerge
{
public:
    // The list a search shows: the free ports in the order given. The port
    // named kept stays selected while it is listed; otherwise the first one
    // is.
    static KcPortListState rebuilt(const QList<KcPortEntry> &fresh,
                                   const QString &kept = QString());

    // The shown list after the system listed fresh:
    // - a port that appears is added in its place in the fresh order;
    // - a panel without a port, or whose port went away, selects the first
    //   port that appeared;
    // - a selected port that went away stays, marked unplugged, until
    //   another is selected or it comes back;
    // - entries that did not come from the system stay.
    static KcPortListState merged(const KcPortListState &shown, const QList<KcPortEntry> &fresh);
};
