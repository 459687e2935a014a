#pragma once

#include <QList>
#include <QObject>

class QAbstractButton;

// Lets Enter and Return press the focused button, as Space does. The window
// is no dialog, so its buttons have no default-button handling; without this
// a keyboard user would have to know that Space is the key.
class KcEnterClicks : public QObject
{
    Q_OBJECT

public:
    // Watches the buttons with one filter that owner keeps.
    static void install(QObject *owner, const QList<QAbstractButton *> &buttons);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KcEnterClicks(QObject *parent) : QObject(parent) {}
};
