#include "kcportlist.h"

#include <QComboBox>
#include <QCoreApplication>

namespace {

bool sameListing(const QList<KcPortEntry> &a, const QList<KcPortEntry> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a.at(i).name != b.at(i).name || a.at(i).busy != b.at(i).busy)
            return false;
    return true;
}

} // namespace

KcPortList::KcPortList(QComboBox *box, ToolTip toolTip, Held held, QObject *parent)
    : QObject(parent), mBox(box), mToolTip(std::move(toolTip)), mHeld(std::move(held))
{
}

void KcPortList::rebuild(const QList<KcPortEntry> &ports)
{
    show(KcPortListMerge::rebuilt(ports, selectedName()));
}

void KcPortList::follow(const QList<KcPortEntry> &ports)
{
    // A held list takes the listing once it is let go; an unchanged listing
    // costs nothing.
    if (mHeld() || sameListing(ports, mLastFollowed))
        return;
    mLastFollowed = ports;
    KcPortListState shown = mState;
    shown.current = mBox->currentIndex();
    const KcPortListState merged = KcPortListMerge::merged(shown, ports);
    if (merged != shown)
        show(merged);
}

QString KcPortList::selectedName() const
{
    const QVariant name = mBox->currentData(Qt::UserRole);
    return name.isValid() ? name.toString() : mBox->currentText();
}

KcPortEntry KcPortList::selectedPort() const
{
    const int index = mBox->currentIndex();
    if (index >= 0 && index < mState.items.size() &&
        mState.items.at(index).port.name == selectedName())
        return mState.items.at(index).port;
    return {selectedName()};
}

QString KcPortList::itemText(const KcPortListItem &item) const
{
    if (!item.unplugged)
        return item.port.name;
    const QString marked = QCoreApplication::translate("KcRadioConfigItemForm", "LabPortUnplugged");
    // Without a translation the key itself follows the name, still a mark.
    return marked.contains(QLatin1Char('%')) ? marked.arg(item.port.name)
                                             : item.port.name + QLatin1Char(' ') + marked;
}

// Items are changed in place, inserted and removed, rather than the box
// cleared: an open popup keeps what did not change.
void KcPortList::show(const KcPortListState &state)
{
    for (int i = 0; i < state.items.size(); ++i) {
        const KcPortListItem &item = state.items.at(i);
        int found = -1;
        for (int j = i; j < mBox->count() && found < 0; ++j)
            if (mBox->itemData(j, Qt::UserRole).toString() == item.port.name)
                found = j;
        if (found < 0) {
            mBox->insertItem(i, itemText(item), item.port.name);
        } else {
            for (int gone = found - i; gone > 0; --gone)
                mBox->removeItem(i);
            mBox->setItemText(i, itemText(item));
        }
        mBox->setItemData(i, mToolTip(item.port), Qt::ToolTipRole);
    }
    while (mBox->count() > state.items.size())
        mBox->removeItem(mBox->count() - 1);
    mBox->setCurrentIndex(state.current);
    mState = state;
    // The current item may have changed before its tooltip was set.
    mBox->setToolTip(mBox->currentData(Qt::ToolTipRole).toString());
}
