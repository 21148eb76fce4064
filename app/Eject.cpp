#include "app/Copieur.h"

#include "devices/DeviceReport.h"
#include "devices/UDisksClient.h"
#include "drives/DriveTable.h"

#include <QLineEdit>

QList<MenuEntry> Copieur::MenuCle(int slot)
{
    const bool ejectable = m_services.disks && m_services.disks->isAvailable() && !isCopying() && m_bas.Occupee[slot];
    bool anyFinished = false;
    for (int i = FirstSlot; i <= LastSlot; ++i)
        anyFinished = anyFinished || isFinishedKey(i);
    return {{QStringLiteral("Éjecter cette clé"), ejectable, [this, slot] { EjecterCle(slot); }},
            {QStringLiteral("Éjecter toutes les clés terminées"), ejectable && anyFinished,
             [this] { EjecterTerminees(); }}};
}

bool Copieur::isFinishedKey(int slot) const
{
    return m_bas.Occupee[slot] && m_shown[slot] == SlotState::Done;
}

// The key's slot is freed by its removal, once the mount has gone: grey means safe to pull.
void Copieur::EjecterCle(int slot)
{
    if (const std::optional<Drive> drive = m_services.drives.drive(m_bas.Lecteur[slot].front()))
        m_services.disks->eject(drive->source);
}

// The keys that failed stay mounted, for another try.
void Copieur::EjecterTerminees()
{
    for (int i = FirstSlot; i <= LastSlot; ++i) {
        if (isFinishedKey(i))
            EjecterCle(i);
    }
}

void Copieur::UDisks_EjectFailed(const QString &device, const QString &cause)
{
    for (const Drive &drive : m_services.drives.drives()) {
        if (drive.source == device) {
            m_controls.Text1->setText(DeviceReport::ejectFailure(drive.letter, drive.label, cause));
            m_controls.Text1->setCursorPosition(0);
        }
    }
}
