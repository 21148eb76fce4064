#include "app/Copieur.h"

#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"

#include <QLineEdit>

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
        m_bas.FichSource = DrivePath::folderPrefix(m_controls.Dir1[0]->path()) + name;
        // The run reads the file from this volume, not from one given the same letter since.
        const std::optional<Drive> drive = m_services.drives.drive(DrivePath::parse(m_bas.FichSource).letter);
        m_sourceVolume = drive ? drive->serial : 0;
        m_controls.Chemin->setCaption(name);
    } else {
        m_bas.NomKill = name;
        m_controls.FichKill->setText(m_bas.NomKill);
    }
}
