#include "app/Copieur.h"

#include "drives/DrivePath.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"
#include "ui/Label.h"

void Copieur::Dir1_Change(int index)
{
    m_controls.File1[index]->setPath(m_controls.Dir1[index]->path());
    if (index >= FirstSlot)
        showDestination(index);
}

// The copy appends the file name straight after the slot's folder.
void Copieur::showDestination(int slot)
{
    m_bas.CheminDest[slot] = DrivePath::folderPrefix(m_controls.Dir1[slot]->path());
    m_controls.Destin->setCaption(m_bas.CheminDest[slot]);
}
