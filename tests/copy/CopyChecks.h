#pragma once

#include "drives/Failure.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStringList>

// Helpers shared by the copy tests.

// The failure number f throws, 0 when it returns.
template<typename F>
int failureOf(F &&f)
{
    try {
        f();
    } catch (const Failure &failure) {
        return failure.number();
    }
    return 0;
}

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
