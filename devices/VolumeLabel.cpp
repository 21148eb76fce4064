#include "devices/VolumeLabel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDirIterator>

#include <blkid/blkid.h>

#include <memory>

namespace {

struct ProbeDeleter
{
    void operator()(blkid_struct_probe *probe) const { blkid_free_probe(probe); }
};

QString superblockValue(const QString &deviceOrImage, const char *name)
{
    if (deviceOrImage.isEmpty())
        return {};
    const std::unique_ptr<blkid_struct_probe, ProbeDeleter> probe(
        blkid_new_probe_from_filename(QFile::encodeName(deviceOrImage).constData()));
    if (!probe)
        return {};
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe.get()) != 0)
        return {};
    const char *value = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(probe.get(), name, &value, &length) != 0 || !value)
        return {};
    return QString::fromUtf8(value).trimmed();
}

// The label udev gives a device, readable by every user (unlike the device), with its
// \xHH escapes undone.
QString udevLabel(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    QDirIterator links(QStringLiteral("/dev/disk/by-label"), QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    while (links.hasNext()) {
        links.next();
        if (!target.isEmpty() && links.fileInfo().canonicalFilePath() == target) {
            QByteArray label = QFile::encodeName(links.fileName());
            for (qsizetype at = 0; (at = label.indexOf("\\x", at)) >= 0; ++at)
                label.replace(at, 4, QByteArray::fromHex(label.mid(at + 2, 2)));
            return QString::fromUtf8(label);
        }
    }
    return {};
}

} // namespace

QString superblockLabel(const QString &deviceOrImage)
{
    return superblockValue(deviceOrImage, "LABEL");
}

QString superblockType(const QString &deviceOrImage)
{
    return superblockValue(deviceOrImage, "TYPE");
}

QString volumeLabel(const QString &mountPoint, const QString &source)
{
    // Only a block device has a label; "tmpfs" or "//server/share" have none.
    if (source.startsWith(QLatin1String("/dev/"))) {
        const QString label = udevLabel(source);
        if (!label.isEmpty())
            return label;
        // Readable by root only, where udev does not run.
        const QString superblock = superblockLabel(source);
        if (!superblock.isEmpty())
            return superblock;
    }
    return QFileInfo(QDir::cleanPath(mountPoint)).fileName();
}
