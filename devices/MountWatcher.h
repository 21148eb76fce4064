#pragma once

#include "devices/MountTable.h"
#include "devices/NotificationSource.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

class DriveTable;
class QSocketNotifier;

// Whether the block device MAJ:MIN hangs off a USB bus, from its sysfs path (or
// for a device-mapper volume, from a device it is built on).
bool blockDeviceOnUsb(quint32 major, quint32 minor, const QString &sysfsRoot = QStringLiteral("/sys"));

// Watches the kernel's mount table and turns removable volumes that come and go
// into lettered arrivals and removals.
class MountWatcher : public NotificationSource
{
    Q_OBJECT
public:
    explicit MountWatcher(DriveTable &drives,
                          QStringList mediaRoots = {QStringLiteral("/media"), QStringLiteral("/run/media")},
                          QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"), QObject *parent = nullptr);
    ~MountWatcher() override;

    // Letters the volumes already mounted, silently, then follows the table. False when
    // the table cannot be opened or read: no key will then be seen.
    bool start();

    // What the operator is told when the watcher cannot watch.
    static QString cannotWatchMessage();

    // Reads the whole table again and reports what changed since the last reading.
    // The kernel's wake-ups call it; a table in a plain file needs it called.
    void rescan();

    void setSysfsRoot(const QString &sysfsRoot);

private:
    struct Volume
    {
        MountEntry entry;
        QChar letter; ///< null when D..Z were taken, or for a second mount of a lettered volume
    };

    bool isKey(const MountEntry &entry, const QList<MountEntry> &table) const;
    QChar letterFor(const MountEntry &entry);

    DriveTable &m_drives;
    QStringList m_mediaRoots;
    QString m_mountInfoPath;
    QString m_sysfsRoot = QStringLiteral("/sys");
    QList<MountEntry> m_table;
    QList<Volume> m_volumes;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
