#include "app/Copieur.h"

#include "drives/Failure.h"
#include "ui/DriveList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"

namespace {

// Marks a drive change of one index as recovering for as long as the recovery runs.
class RecoveryScope
{
public:
    explicit RecoveryScope(bool &flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~RecoveryScope() { m_flag = false; }
    RecoveryScope(const RecoveryScope &) = delete;
    RecoveryScope &operator=(const RecoveryScope &) = delete;

private:
    bool &m_flag;
};

} // namespace

void Copieur::Drive1_Change(int index)
{
    DriveList &drive = *m_controls.Drive1[index];
    FolderList &folder = *m_controls.Dir1[index];
    try {
        folder.setPath(drive.drive());
        if (index >= FirstSlot)
            showDestination(index);
        else
            m_controls.Chemin->setCaption(folder.path());
    } catch (const Failure &) {
        // The drive of the folder still open could not be read back either: stop here,
        // on the last folder that could be read, rather than bounce between two drives.
        bool &recovering = m_recoveringDrive.at(std::size_t(index));
        if (recovering)
            return;
        RecoveryScope scope(recovering);
        try {
            drive.setDrive(folder.path());
        } catch (const Failure &) {
        }
    }
}
