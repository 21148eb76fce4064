#pragma once

#include "copy/FileOperations.h"
#include "drives/Failure.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStringList>

// Helpers shared by the copy tests.
namespace CopyChecks {

// The failure number a copy raises, 0 when it succeeds.
inline int copyOutcome(FileOperations &files, const QString &source, const QString &target,
                       const FileOperations::Progress &progress = {})
{
    try {
        files.copyFile(source, target, progress);
        return 0;
    } catch (const Failure &failure) {
        return failure.number();
    }
}

// The failure number a deletion raises, 0 when it succeeds.
inline int deleteOutcome(FileOperations &files, const QString &folder, const QString &name)
{
    try {
        files.deleteMatching(folder, name);
        return 0;
    } catch (const Failure &failure) {
        return failure.number();
    }
}

inline QByteArray randomBytes(qsizetype size, quint32 seed = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(i);
    return bytes;
}

// The temporary files left in a folder.
inline QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".essaimeur-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace CopyChecks
