#include "devices/LinuxDriveFacts.h"

#include "devices/VolumeLabel.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

Failure unreadable(int err)
{
    // Permission problems keep their own number; anything else means the volume cannot be reached.
    if (err == EACCES || err == EPERM)
        return failureFromErrno(err);
    return failureFor(FailureNumber::DiskNotReady);
}

quint64 deviceOfRoot(const QString &root)
{
    const quint64 device = deviceOf(root);
    if (device == 0)
        throw unreadable(errno);
    return device;
}

class LinuxDriveObject : public DriveObject
{
public:
    LinuxDriveObject(const DriveTable &drives, const Drive &drive)
        : m_drives(drives)
        , m_drive(drive)
        , m_device(deviceOfRoot(drive.root))
    { }

    QString volumeName() const override
    {
        check();
        return volumeLabel(m_drive.root, m_drive.source);
    }

    double totalSize() const override
    {
        const struct statvfs info = stats();
        return double(info.f_blocks) * double(info.f_frsize);
    }

    double availableSpace() const override
    {
        const struct statvfs info = stats();
        return double(info.f_bavail) * double(info.f_frsize);
    }

private:
    // The letter may have been freed or its volume unmounted since the object was made.
    void check() const
    {
        const std::optional<Drive> now = m_drives.drive(m_drive.letter);
        if (!now || now->root != m_drive.root || deviceOfRoot(m_drive.root) != m_device)
            throw failureFor(FailureNumber::DiskNotReady);
    }

    struct statvfs stats() const
    {
        check();
        struct statvfs info = {};
        if (::statvfs(QFile::encodeName(m_drive.root).constData(), &info) != 0)
            throw unreadable(errno);
        return info;
    }

    const DriveTable &m_drives;
    Drive m_drive;
    dev_t m_device = 0;
};

} // namespace

LinuxFileSystemObject::LinuxFileSystemObject(const DriveTable &drives)
    : m_drives(drives)
{ }

QString LinuxFileSystemObject::getAbsolutePathName(const QString &path) const
{
    const QString absolute = DrivePath::resolve(path, m_drives);
    deviceOfRoot(m_drives.drive(DrivePath::parse(absolute).letter)->root);
    return absolute;
}

QString LinuxFileSystemObject::getDriveName(const QString &path) const
{
    if (path.size() >= 2 && path[1] == QLatin1Char(':') && path[0].isLetter() && path[0].unicode() < 128)
        return path.left(2);
    return {};
}

std::unique_ptr<DriveObject> LinuxFileSystemObject::getDrive(const QString &driveName) const
{
    // "E", "E:" and "E:\" all name drive E.
    const QString name = driveName.size() == 1 ? driveName + QLatin1Char(':') : driveName;
    const DrivePath::Parsed parsed = DrivePath::parse(name);
    if (!parsed.parts.isEmpty())
        throw failureFor(FailureNumber::DeviceUnavailable);
    const std::optional<Drive> drive = m_drives.drive(parsed.letter);
    if (!drive)
        throw failureFor(FailureNumber::DeviceUnavailable);
    return std::make_unique<LinuxDriveObject>(m_drives, *drive);
}
