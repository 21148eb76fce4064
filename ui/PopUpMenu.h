#pragma once

#include <QList>
#include <QString>

#include <functional>

class QPoint;
class QWidget;

struct MenuEntry
{
    QString text;
    bool enabled = false;
    std::function<void()> action;
};

// Opens a menu at a point of the screen and returns at once; an entry's action runs,
// as the operator's event on `parent`, when it is picked.
void popUpMenu(QWidget *parent, const QPoint &at, const QList<MenuEntry> &entries);
