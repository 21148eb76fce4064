#pragma once

#include <QString>
#include <QtGlobal>

// What a key's file system format refuses, so that a copy it cannot hold fails
// before anything is written, with a message that names the cause.
namespace KeyFormat {

enum class Family {
    Unix,
    Fat,
    ExFat,
    Ntfs
};

// From the mount table's type; a FUSE block mount ("fuseblk") is told by its superblock.
Family ofMount(const QString &fileSystemType, const QString &source);
// The family of the mounted volume whose device is `device`; Unix when it is not found.
Family ofDevice(quint64 device);

// Throws Failure 52 for a name the format cannot store, 61 for a file it cannot hold.
void requireStorable(Family family, const QString &name, qint64 size);

} // namespace KeyFormat
