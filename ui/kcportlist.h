#pragma once

#include "kcportlistmerge.h"

#include <QObject>
#include <functional>

class QComboBox;

// A panel's port list in its combo box: filled afresh by a search, merged
// with each later listing of the system's ports (KcPortListMerge) unless the
// panel holds it still. The box shows an unplugged port with a mark; the
// port's name, which is what is opened, stays in the item's data.
class KcPortList : public QObject
{
    Q_OBJECT

public:
    using ToolTip = std::function<QString(const KcPortEntry &)>;
    using Held = std::function<bool()>;

    KcPortList(QComboBox *box, ToolTip toolTip, Held held, QObject *parent = nullptr);

    // The free ports of ports; the selected port stays selected while it is
    // among them, otherwise the first one is.
    void rebuild(const QList<KcPortEntry> &ports);
    // Merges ports into the list, unless the list is held.
    void follow(const QList<KcPortEntry> &ports);
    // The selected port's name; empty when the list is empty.
    QString selectedName() const;
    // The selected port as it was listed (its adapter's serial number).
    KcPortEntry selectedPort() const;

private:
    void show(const KcPortListState &state);
    QString itemText(const KcPortListItem &item) const;

    QComboBox *mBox;
    ToolTip mToolTip;
    Held mHeld;
    KcPortListState mState; // what the box shows, its selection aside
    QList<KcPortEntry> mLastFollowed;
};
