#include "app/Copieur.h"

#include "devices/DeviceReport.h"
#include "devices/DriveFacts.h"
#include "devices/NotificationSource.h"
#include "drives/DrivePath.h"
#include "drives/Failure.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/MessageBox.h"
#include "ui/SlotPresentation.h"
#include "ui/VkCommand.h"

#include <QLineEdit>

void Copieur::SysInfo1_DeviceArrival(qint32 deviceType, qint32 unitMask, const QString &, qint32 deviceData)
{
    if (deviceType != VolumeDeviceType || deviceData != 0)
        return;
    try {
        const QString letter = LettreDuMasque(unitMask);
        QString report = DeviceReport::arrivalHeader(letter);

        const QString absolutePath = m_services.fileSystem()->getAbsolutePathName(letter + QLatin1Char(':'));
        const QString driveName = m_services.fileSystem()->getDriveName(absolutePath);
        const std::unique_ptr<DriveObject> drive = m_services.fileSystem()->getDrive(driveName);
        const QString volumeName = drive->volumeName();
        const double totalSize = drive->totalSize();
        const double availableSpace = drive->availableSpace();
        report += DeviceReport::arrivalFacts(volumeName, totalSize, availableSpace);

        m_bas.LettreRecue = letter;
        for (int i = FirstSlot; i <= LastSlot; ++i) {
            m_bas.Cochee[i] = FlagTrue;
            present(i, SlotState::Selected);
            m_controls.LanceCopie->setEnabled(true);
            if (m_bas.Occupee[i] == FlagFalse) {
                // A list on the letter's previous volume takes this one as a change of drive.
                m_controls.Drive1[i]->setDrive(m_bas.LettreRecue);
                // An unreadable key sends the lists back to the drive they were on: the key is
                // then not attached, and the slot must not keep the folder they fell back to.
                if (DrivePath::parse(m_controls.Dir1[i]->path()).letter != m_bas.LettreRecue.front()) {
                    m_bas.CheminDest[i].clear();
                    throw failureFor(FailureNumber::DiskNotReady);
                }
                m_bas.Occupee[i] = FlagTrue;
                m_bas.Lecteur[i] = m_bas.LettreRecue;
                // The cascade already showed the slot's folder; re-reading it costs little.
                m_controls.File1[i]->setPath(m_controls.Dir1[i]->path());
                break;
            }
        }
        m_controls.Text1->setText(report);
        m_controls.Text1->setCursorPosition(0); // show the report from its first line
    } catch (const Failure &failure) {
        m_bas.MsgErreur = DeviceReport::faultyKeyMessage(failure);
        m_services.messages.show(m_bas.MsgErreur, 0, QStringLiteral("Erreur"));
    }
}
