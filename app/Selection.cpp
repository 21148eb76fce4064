#include "app/Copieur.h"

#include "ui/SlotPresentation.h"
#include "ui/VkCommand.h"

void Copieur::Cochage(int slot)
{
    if (m_bas.Cochee[slot]) {
        m_bas.Cochee[slot] = FlagFalse;
        present(slot, SlotState::Idle);
    } else {
        m_bas.Cochee[slot] = FlagTrue;
        present(slot, SlotState::Selected);
        m_controls.LanceCopie->setEnabled(true);
    }

    bool anySelected = false;
    for (int k = FirstSlot; k <= LastSlot && !anySelected; ++k)
        anySelected = m_bas.Cochee[k] != FlagFalse;
    m_controls.LanceCopie->setEnabled(anySelected);
}
