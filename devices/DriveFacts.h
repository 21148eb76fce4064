#pragma once

#include <QString>

#include <functional>
#include <memory>

// What the handlers ask of one drive. Each call may throw Failure.
class DriveObject
{
public:
    virtual ~DriveObject() = default;
    virtual QString volumeName() const = 0;
    virtual double totalSize() const = 0;      ///< bytes
    virtual double availableSpace() const = 0; ///< bytes the user may still write
};

// What the handlers ask of the file system about drives and drive paths.
class FileSystemObject
{
public:
    virtual ~FileSystemObject() = default;
    virtual QString getAbsolutePathName(const QString &path) const = 0; ///< "E:" -> the drive's current folder, "E:\"
    virtual QString getDriveName(const QString &path) const = 0;        ///< "E:\Docs" -> "E:"
    virtual std::unique_ptr<DriveObject> getDrive(const QString &driveName) const = 0;
};
