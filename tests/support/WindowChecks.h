#pragma once

#include "support/WindowFixture.h"

// The entries of a drive, folder or file list from first to last, "" where there is none.
template <typename List>
QStringList entries(const List &list, int first = 0, int last = -2)
{
    QStringList texts;
    for (int n = first; n <= (last == -2 ? list.listCount() - 1 : last); ++n)
        texts << list.list(n);
    return texts;
}

// Picks a name in the file list of a slot (0: the source side), as the operator's click does.
inline bool pick(WindowFixture &fixture, int index, const QString &name)
{
    FileList &files = *fixture.controls().File1[index];
    const int row = int(entries(files).indexOf(name));
    if (row < 0)
        return false;
    files.setListIndex(row);
    fixture.window->File1_Click(index);
    return true;
}

// Slots 1 to 8 as "letter, '-' if none, then '*' if selected", with '!' for a slot whose
// status box, tick or occupied flag says otherwise than its flags.
inline QString slotsOf(WindowFixture &fixture)
{
    QStringList states;
    for (int i = 1; i <= 8; ++i) {
        const bool on = fixture.bas().Cochee[i] != FlagFalse;
        const QString letter = fixture.bas().Lecteur[i];
        const bool held = fixture.bas().Occupee[i] != FlagFalse, keyed = !letter.isEmpty() && letter != QLatin1String("C");
        const bool agree = fixture.ticked(i) == on && held == keyed
            && fixture.status(i) == (on ? QStringLiteral("en attente") : QStringLiteral("inactif"))
            && fixture.colour(i) == (on ? 0xFFFF00u : 0xE0E0E0u);
        states << (letter.isEmpty() ? QStringLiteral("-") : letter) + (on ? QStringLiteral("*") : QString())
                + (agree ? QString() : QStringLiteral("!"));
    }
    return states.join(QLatin1Char(' '));
}
