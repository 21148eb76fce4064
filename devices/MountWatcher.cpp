#include "devices/MountWatcher.h"

#include "devices/VolumeLabel.h"
#include "drives/DriveTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint32 NetworkVolumeData = 2;

bool sysfsPathOnUsb(const QString &sysfsDevice, int depth)
{
    const QString resolved = QFileInfo(sysfsDevice).canonicalFilePath();
    if (resolved.isEmpty())
        return false;
    // A partition's folder lies inside its disk's, so it shows the disk's bus too.
    if (resolved.contains(QLatin1String("/usb")))
        return true;
    if (depth >= 4)
        return false;
    const QDir slaves(resolved + QLatin1String("/slaves"));
    for (const QString &slave : slaves.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (sysfsPathOnUsb(slaves.filePath(slave), depth + 1))
            return true;
    }
    return false;
}

VolumeNotification notificationFor(QChar letter, const MountEntry &entry)
{
    return VolumeNotification{VolumeDeviceType, unitMaskOf(letter), entry.source,
                              isNetworkFileSystem(entry.fileSystemType) ? NetworkVolumeData : 0};
}

} // namespace

bool blockDeviceOnUsb(quint32 major, quint32 minor, const QString &sysfsRoot)
{
    if (major == 0)
        return false;
    return sysfsPathOnUsb(QStringLiteral("%1/dev/block/%2:%3").arg(sysfsRoot).arg(major).arg(minor), 0);
}

MountWatcher::MountWatcher(DriveTable &drives, QStringList mediaRoots, QString mountInfoPath, QObject *parent)
    : NotificationSource(parent)
    , m_drives(drives)
    , m_mediaRoots(std::move(mediaRoots))
    , m_mountInfoPath(std::move(mountInfoPath))
{ }

MountWatcher::~MountWatcher()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void MountWatcher::setSysfsRoot(const QString &sysfsRoot)
{
    m_sysfsRoot = sysfsRoot;
}

bool MountWatcher::start()
{
    if (m_notifier)
        return true;
    // Opened before the first reading so that no change falls between the two.
    m_fd = ::open(QFile::encodeName(m_mountInfoPath).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::rescan);
    }
    const std::optional<QList<MountEntry>> table = readMountInfo(m_mountInfoPath);
    m_table = table.value_or(QList<MountEntry>());
    for (const MountEntry &entry : std::as_const(m_table)) {
        if (isKey(entry, m_table))
            m_volumes.append(Volume{entry, letterFor(entry)});
    }
    return m_notifier && table;
}

QString MountWatcher::cannotWatchMessage()
{
    return QStringLiteral("La table des montages du système est illisible : les clés branchées ne seront pas "
                          "détectées. Redémarrez le programme, ou la session si le problème persiste.");
}

void MountWatcher::rescan()
{
    const std::optional<QList<MountEntry>> table = readMountInfo(m_mountInfoPath);
    if (!table)
        return; // a failed reading is no sign that every volume went
    const MountChanges changes = diffMounts(m_table, *table);
    m_table = *table;

    QList<Delivery> deliveries;
    for (const MountEntry &gone : changes.removed) {
        const auto at = std::find_if(m_volumes.begin(), m_volumes.end(),
                                     [&](const Volume &v) { return isSameMount(v.entry, gone); });
        if (at == m_volumes.end())
            continue;
        const QChar letter = at->letter;
        m_volumes.erase(at);
        if (letter.isNull())
            continue;
        // The handler still finds the drive under its letter; only then is the letter free.
        deliveries.append(Delivery{false, notificationFor(letter, gone), [this, letter] { m_drives.release(letter); }});
    }
    for (const MountEntry &added : changes.added) {
        if (!isKey(added, *table))
            continue;
        const QChar letter = letterFor(added);
        m_volumes.append(Volume{added, letter});
        if (!letter.isNull())
            deliveries.append(Delivery{true, notificationFor(letter, added), {}});
    }
    if (!deliveries.isEmpty())
        deliverAll(std::move(deliveries));
}

bool MountWatcher::isKey(const MountEntry &entry, const QList<MountEntry> &table) const
{
    return isRemovableVolume(entry, blockDeviceOnUsb(entry.major, entry.minor, m_sysfsRoot), m_mediaRoots)
        && isWholeVolume(entry, table, m_mediaRoots);
}

QChar MountWatcher::letterFor(const MountEntry &entry)
{
    // A volume mounted a second time is still one key.
    const bool lettered = std::any_of(m_volumes.cbegin(), m_volumes.cend(), [&](const Volume &v) {
        return !v.letter.isNull() && v.entry.major == entry.major && v.entry.minor == entry.minor;
    });
    if (lettered)
        return {};
    // From the table alone: a key whose driver hangs would hang whatever looks at it.
    return m_drives.assign(entry.mountPoint, entry.source, volumeLabel(entry.mountPoint, entry.source),
                           makedev(entry.major, entry.minor));
}
