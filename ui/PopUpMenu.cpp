#include "ui/PopUpMenu.h"

#include "ui/EventGuard.h"

#include <QMenu>

void popUpMenu(QWidget *parent, const QPoint &at, const QList<MenuEntry> &entries)
{
    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const MenuEntry &entry : entries) {
        QAction *action = menu->addAction(entry.text);
        action->setEnabled(entry.enabled);
        QObject::connect(action, &QAction::triggered, parent,
                         [parent, run = entry.action] { runUserEvent(parent, run); });
    }
    menu->popup(at);
}
