#pragma once

#include "drives/SlotArray.h"

class DriveList;
class FileList;
class FolderList;
class Label;
class QLineEdit;
class QWidget;
class TickImage;
class VkCommand;
class VkFrame;

// The window's controls, reached by name and, for the arrays, by index.
struct Controls
{
    VkFrame *vkFrame1 = nullptr;
    VkFrame *vkFrame2 = nullptr;
    IndexedArray<DriveList *, 0, LastSlot> Drive1;
    IndexedArray<FolderList *, 0, LastSlot> Dir1;
    IndexedArray<FileList *, 0, LastSlot> File1;
    IndexedArray<TickImage *, FirstSlot, LastSlot> Coche;
    IndexedArray<Label *, 0, LastSlot> Controle;
    Label *Chemin = nullptr;
    Label *Destin = nullptr;
    Label *Label1 = nullptr;
    QLineEdit *FichKill = nullptr;
    QLineEdit *Text1 = nullptr;
    TickImage *Cnon = nullptr;
    TickImage *Coui = nullptr;
    VkCommand *LanceCopie = nullptr;
    VkCommand *Quitter = nullptr;
};
