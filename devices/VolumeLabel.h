#pragma once

#include <QString>

// The label in the file system's superblock, read with libblkid from a block
// device or an image file; "" when there is none or it cannot be read.
QString superblockLabel(const QString &deviceOrImage);
// The file system type in the superblock (vfat, exfat, ext4...), the same way.
QString superblockType(const QString &deviceOrImage);

// The name a mounted volume goes by: the label udev gives its device, else its superblock's
// label, else the mount point's base name. The volume itself is never looked at.
QString volumeLabel(const QString &mountPoint, const QString &source);
