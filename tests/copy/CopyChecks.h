#pragma once

#include "drives/Failure.h"
#include "support/FailureOf.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStringList>

// Helpers shared by the copy tests.

inline QByteArray randomBytes(qsizetype size, quint32 seed = 1)
{
    QByteArray bytes(size + 3, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    bytes.truncate(size);
    return bytes;
}

// The temporary files left in a folder.
inline QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".essaimeur-*")}, QDir::Files | QDir::Hidden | QDir::System);
}
