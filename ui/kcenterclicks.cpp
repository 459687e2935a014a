#include "kcenterclicks.h"

#include <QAbstractButton>
#include <QKeyEvent>

void KcEnterClicks::install(QObject *owner, const QList<QAbstractButton *> &buttons)
{
    auto *filter = new KcEnterClicks(owner);
    for (QAbstractButton *button : buttons)
        button->installEventFilter(filter);
}

bool KcEnterClicks::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    // The keypad's Enter carries the keypad modifier; other modifiers mean
    // another shortcut.
    if (key->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier))
        return false;
    auto *button = qobject_cast<QAbstractButton *>(watched);
    if (!button || !button->isEnabled())
        return false;
    // A held key presses once, not once per repeat.
    if (!key->isAutoRepeat())
        button->click();
    return true;
}
