#pragma once

#include "drives/SlotArray.h"

#include <QString>

#include <cstdint>

// A 16-bit flag: True is -1 (all bits set), False 0; any non-zero value tests True.
using Flag = std::int16_t;
constexpr Flag FlagTrue = -1;
constexpr Flag FlagFalse = 0;

// The state that the window's handlers share, from start to end of the process.
// Everything starts empty or False.
struct CopieurBas
{
    SlotArray<QString> CheminDest; ///< destination folder of each slot, as the lists recorded it
    QString FichSource;            ///< drive path of the source file
    SlotArray<Flag> Cochee;        ///< slot selected for the next copy run
    Flag ModeKill = FlagFalse;     ///< the current run deletes FichKill's name
    SlotArray<QString> Lecteur;    ///< letter of the key in each slot; "C" once it has gone
    SlotArray<Flag> Occupee;       ///< slot holds a key
    QString LettreRecue;           ///< letter named by the last volume notification
    QString NomKill;               ///< file name last picked in a slot's file list
    QString MsgErreur;             ///< text of the last key-arrival error
};
