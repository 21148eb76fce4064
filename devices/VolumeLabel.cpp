#include "devices/VolumeLabel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

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
    const QString root = QDir::cleanPath(mountPoint);
    QStorageInfo storage(root);
    storage.refresh();
    // Below a volume's root, QStorageInfo describes the volume that holds it.
    if (storage.isValid() && QDir::cleanPath(storage.rootPath()) == root && !storage.name().isEmpty())
        return storage.name();
    // Only a block device has a superblock; "tmpfs" or "//server/share" do not.
    if (source.startsWith(QLatin1String("/dev/"))) {
        const QString label = superblockLabel(source);
        if (!label.isEmpty())
            return label;
    }
    return QFileInfo(root).fileName();
}
