#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

class DriveTable;

// Drive paths are text "X:\a\b": X the letter, '\' the separator. They are the
// only paths the handlers see; the native path is made at the last moment.
namespace DrivePath {

struct Parsed
{
    QChar letter;        ///< upper case
    bool rooted = false; ///< false for "E:" or "e: [LABEL]": the drive's current folder
    QStringList parts;   ///< no empty, "." or ".." parts
};

// Throws Failure 68 without a letter, 52 for text that is no drive path or climbs with "..".
Parsed parse(const QString &text);

// "E:\" for the root, "E:\a\b" below it.
QString format(QChar letter, const QStringList &parts);

// The absolute, normalised drive path that text names (an unrooted text starts
// from the drive's current folder). Throws Failure 68 for a letter with no drive.
QString resolve(const QString &text, const DriveTable &drives);

// The native path below the letter's root. Throws as resolve().
QString toNative(const QString &text, const DriveTable &drives);

// The drive path of a native path, or "" when a name in it holds '\'.
QString fromNative(const QString &nativePath, const DriveTable &drives);

// A native name the lists can show: one that reads back as itself.
bool isRepresentable(const QString &nativeName);

// A folder's drive path ready for a name to follow it: "E:\" or "E:\a\".
QString folderPrefix(const QString &folder);

// The last part of a drive path ("" for a root).
QString fileName(const QString &drivePath);

} // namespace DrivePath
