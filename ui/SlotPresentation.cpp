#include "ui/SlotPresentation.h"

#include "ui/Controls.h"
#include "ui/Label.h"
#include "ui/TickImage.h"

SlotLook slotLook(SlotState state)
{
    switch (state) {
    case SlotState::Idle: return {QStringLiteral("inactif"), 0xE0E0E0, true, false};
    case SlotState::Selected: return {QStringLiteral("en attente"), 0xFFFF00, true, true};
    case SlotState::Copying: return {QStringLiteral("En cours"), 0x00FFFF, false, false};
    case SlotState::Done: return {QStringLiteral("Terminé"), 0x00FF00, false, false};
    case SlotState::Failed: return {QStringLiteral("Échec"), 0x0000FF, false, false};
    }
    return {};
}

void presentSlot(Controls &controls, int slot, SlotState state)
{
    const SlotLook look = slotLook(state);
    Label &status = *controls.Controle[slot];
    status.setBackColor(look.colour);
    status.setCaption(look.caption);
    if (look.setsTick)
        controls.Coche[slot]->setPicture((look.ticked ? controls.Coui : controls.Cnon)->picture());
}
