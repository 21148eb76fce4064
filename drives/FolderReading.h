#pragma once

#include <QString>
#include <QStringList>

class DriveTable;

// Reading one folder's visible subfolders or files for the lists, fast enough
// for folders of a hundred thousand names.
namespace FolderReading {

enum class Kind {
    Folders,
    Files
};

struct Names
{
    QStringList names; ///< sorted by lessByName
    int error = 0;     ///< errno of the failed read, 0 when read
};

// Hidden (dot) names and names holding '\' are left out; links count as what they
// point to, broken links as nothing.
Names read(const QString &nativeFolder, Kind kind);

// Whether a native name is plain ASCII, which every file system stores as it is.
bool isAscii(QByteArrayView name);

// Case-insensitive, ties broken by the exact name so that the order is stable.
bool lessByName(const QString &a, const QString &b);
void sortNames(QStringList &names);

// The classic number for a folder that could not be read: a drive whose root
// cannot be listed is not ready, whatever happened to the folder.
int failureNumber(int folderErrno, bool rootListable);

// Reads a native folder of the drive mounted at nativeRoot. Throws Failure 71, 76, 70...
QStringList readOrThrow(const QString &nativeFolder, const QString &nativeRoot, Kind kind);

// Reads the folder a resolved drive path names. Throws Failure 68, 71, 76, 70...
QStringList readDrivePath(const QString &drivePath, const DriveTable &drives, Kind kind);

} // namespace FolderReading
