#pragma once

#include "support/WindowFixture.h"

// The entries of a drive, folder or file list, from `first` (the folder list's ancestors
// are negative) to the last.
template<typename List>
QStringList entries(const List &list, int first = 0)
{
    QStringList names;
    for (int n = first; n < list.listCount(); ++n)
        names << list.list(n);
    return names;
}

// Picks a name in the file list of a slot (0: the source side), as the operator's click does.
template<typename Fixture>
bool pick(Fixture &fixture, int index, const QString &name)
{
    const int row = int(entries(*fixture.controls().File1[index]).indexOf(name));
    if (row < 0)
        return false;
    fixture.controls().File1[index]->setListIndex(row);
    fixture.window->File1_Click(index);
    return true;
}
