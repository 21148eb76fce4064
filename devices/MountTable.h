#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One line of the kernel's mount table (mountinfo).
struct MountEntry
{
    int id = 0;        ///< the kernel's mount id
    quint32 major = 0; ///< of st_dev; 0 for file systems without a device
    quint32 minor = 0;
    QString mountPoint;                 ///< unescaped
    QString fileSystemType;             ///< e.g. ext4, tmpfs, fuse.sshfs
    QString source;                     ///< e.g. /dev/sdb1, tmpfs, //server/share
    QString root = QStringLiteral("/"); ///< the folder of the file system mounted there; "/" for a whole volume
};

// The same mount in two readings of the table. Options are left out: a remount
// changes only them. Mount ids are reused, so the rest must match as well.
bool isSameMount(const MountEntry &a, const MountEntry &b);

// Parses mountinfo text with libmount; lines it cannot read are skipped.
QList<MountEntry> parseMountInfo(const QByteArray &text);

// Reads a mountinfo file with libmount; nothing when the file cannot be read.
std::optional<QList<MountEntry>> readMountInfo(const QString &path);

// proc, sysfs, cgroup2 and the like: never a volume anyone copies onto.
bool isKernelFileSystem(const QString &fileSystemType);

bool isNetworkFileSystem(const QString &fileSystemType);

// Where the system itself lives: "/", "/boot", "/home", ...
bool isSystemMountPoint(const QString &mountPoint);

// A key: not a kernel or system mount, and either on a USB bus or strictly below
// a media root.
bool isRemovableVolume(const MountEntry &entry, bool onUsbBus, const QStringList &mediaRoots);

// A volume of its own: the root of its file system, and a device that the table
// mounts nowhere outside the media roots. A bind mount of a system folder is neither.
bool isWholeVolume(const MountEntry &entry, const QList<MountEntry> &table, const QStringList &mediaRoots);

struct MountChanges
{
    QList<MountEntry> removed; ///< in the order of the old table
    QList<MountEntry> added;   ///< in the order of the new table
};

MountChanges diffMounts(const QList<MountEntry> &before, const QList<MountEntry> &after);
