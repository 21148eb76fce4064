#include "app/Copieur.h"

#include "devices/DeviceReport.h"
#include "devices/NotificationSource.h"
#include "ui/DriveList.h"
#include "ui/SlotPresentation.h"

#include <QLineEdit>

void Copieur::SysInfo1_DeviceRemoveComplete(qint32 deviceType, qint32 unitMask, const QString &, qint32 deviceData)
{
    if (deviceType != VolumeDeviceType || deviceData != 0)
        return;
    m_bas.LettreRecue = LettreDuMasque(unitMask);
    for (int i = FirstSlot; i <= LastSlot; ++i) {
        if (m_bas.Lecteur[i] != m_bas.LettreRecue)
            continue;
        m_controls.Drive1[i]->setDrive(QStringLiteral("C"));
        m_bas.Occupee[i] = FlagFalse;
        m_bas.Lecteur[i] = QStringLiteral("C");
        m_bas.Cochee[i] = FlagFalse;
        present(i, SlotState::Idle);
        break;
    }
    m_controls.Text1->setText(DeviceReport::removalFirstLine());
    m_controls.Text1->setText(m_controls.Text1->text() + DeviceReport::removalSecondLine(m_bas.LettreRecue));
    m_controls.Text1->setCursorPosition(0);
}
