#pragma once

#include <QString>

struct Controls;

// What a destination slot shows. Failed is ours: a copy that did not reach the key
// never shows "Terminé".
enum class SlotState {
    Idle,
    Selected,
    Copying,
    Done,
    Failed
};

struct SlotLook
{
    QString caption;
    quint32 colour = 0;    ///< 0xBBGGRR
    bool setsTick = false; ///< copying, done and failed leave the tick alone
    bool ticked = false;
};

SlotLook slotLook(SlotState state);

// Applies the state to Controle(slot) and Coche(slot): colour, then caption, then picture.
void presentSlot(Controls &controls, int slot, SlotState state);
