#include "app/Copieur.h"

#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"
#include "ui/DriveList.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"

#include <QLineEdit>

namespace {

// A folder's drive path ready for a name: the copy appends the file name straight after it.
QString withSeparator(const QString &folder)
{
    return folder.endsWith(u'\\') ? folder : folder + u'\\';
}

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
        if (index >= FirstSlot) {
            m_bas.CheminDest[index] = withSeparator(folder.path());
            m_controls.Destin->setCaption(m_bas.CheminDest[index]);
        } else {
            m_controls.Chemin->setCaption(folder.path());
        }
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

void Copieur::Dir1_Change(int index)
{
    FolderList &folder = *m_controls.Dir1[index];
    m_controls.File1[index]->setPath(folder.path());
    if (index == 0)
        return;
    m_bas.CheminDest[index] = withSeparator(folder.path());
    m_controls.Destin->setCaption(m_bas.CheminDest[index]);
}

void Copieur::File1_Click(int index)
{
    FileList &files = *m_controls.File1[index];
    const int current = files.listIndex();
    const QString name = current < 0 ? QString() : files.list(current);
    if (name.isEmpty())
        return;

    if (index == 0) {
        // The file picked lies in the folder the list shows, whatever entry of the
        // folder list the operator has since moved to.
        m_bas.FichSource = withSeparator(m_controls.Dir1[0]->path()) + name;
        // The run reads the file from this volume, not from one given the same letter since.
        const std::optional<Drive> drive = m_services.drives.drive(DrivePath::parse(m_bas.FichSource).letter);
        m_sourceVolume = drive ? drive->serial : 0;
        m_controls.Chemin->setCaption(name);
    } else {
        m_bas.NomKill = name;
        m_controls.FichKill->setText(m_bas.NomKill);
    }
}
