#include "copy/KeyFormat.h"

#include "devices/MountTable.h"
#include "devices/VolumeLabel.h"
#include "drives/Failure.h"

#include <sys/sysmacros.h>

namespace KeyFormat {

namespace {

constexpr qint64 FatLargestFile = (qint64(1) << 32) - 1;

Family ofType(const QString &type)
{
    if (type == u"vfat" || type == u"msdos" || type == u"fat" || type == u"fuse.fusefat")
        return Family::Fat;
    if (type == u"exfat" || type == u"fuse.exfat")
        return Family::ExFat;
    if (type == u"ntfs" || type == u"ntfs3" || type == u"fuse.ntfs-3g" || type == u"fuse.ntfs")
        return Family::Ntfs;
    return Family::Unix;
}

} // namespace

Family ofMount(const QString &fileSystemType, const QString &source)
{
    if (fileSystemType == u"fuseblk" && source.startsWith(u"/dev/"))
        return ofType(superblockType(source));
    return ofType(fileSystemType);
}

Family ofDevice(quint64 device)
{
    const std::optional<QList<MountEntry>> mounts = readMountInfo(QStringLiteral("/proc/self/mountinfo"));
    for (const MountEntry &entry : mounts.value_or(QList<MountEntry>())) {
        if (entry.major == major(device) && entry.minor == minor(device))
            return ofMount(entry.fileSystemType, entry.source);
    }
    return Family::Unix;
}

void requireStorable(Family family, const QString &name, qint64 size)
{
    if (family == Family::Unix)
        return;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"\"*/:<>?\\|").contains(c))
            throw failureFor(FailureNumber::BadFileName);
    }
    if (family == Family::Fat && size > FatLargestFile)
        throw Failure(FailureNumber::DiskFull,
                      QStringLiteral("Fichier trop volumineux pour le format de la clé (FAT : 4 Go au plus)"));
}

} // namespace KeyFormat
