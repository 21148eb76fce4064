#pragma once

#include "devices/DriveFacts.h"

class DriveTable;

// Drive facts for the letters a DriveTable hands out: labels from the system or
// the superblock, sizes from statvfs.
class LinuxFileSystemObject : public FileSystemObject
{
public:
    explicit LinuxFileSystemObject(const DriveTable &drives);

    QString getAbsolutePathName(const QString &path) const override;
    QString getDriveName(const QString &path) const override;
    std::unique_ptr<DriveObject> getDrive(const QString &driveName) const override;

private:
    const DriveTable &m_drives;
};
