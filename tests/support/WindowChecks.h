#pragma once

#include "support/WindowFixture.h"

// The entries of a drive, folder or file list from first to last (default: all), "" where there is none.
template <typename List> QStringList entries(const List &list, int first = 0, int last = -2)
{
    return first > (last == -2 ? list.listCount() - 1 : last) ? QStringList() : QStringList{list.list(first)} + entries(list, first + 1, last);
}

// Picks a name in the file list of a slot (0: the source side), as the operator's click does.
template <typename Fixture> bool pick(Fixture &fixture, int index, const QString &name)
{
    const int row = int(entries(*fixture.controls().File1[index]).indexOf(name));
    return row >= 0 && (fixture.controls().File1[index]->setListIndex(row), fixture.window->File1_Click(index), true);
}

// Slots from the one given to 8 as "letter, '-' if none, then '*' if selected", with '!' for a slot whose
// status box, tick or occupied flag says otherwise than its flags.
inline QString slotsOf(WindowFixture &f, int i = 1)
{
    const QString letter = f.bas().Lecteur[i].isEmpty() ? "-" : f.bas().Lecteur[i];
    const bool on = f.bas().Cochee[i] != FlagFalse, agree = f.ticked(i) == on && f.colour(i) == (on ? 0xFFFF00u : 0xE0E0E0u)
        && f.status(i) == (on ? "en attente" : "inactif") && (f.bas().Occupee[i] != FlagFalse) == !QString("-C").contains(letter);
    return letter + (on ? "*" : "") + (agree ? "" : "!") + (i < 8 ? " " + slotsOf(f, i + 1) : QString());
}
