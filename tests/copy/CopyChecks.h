#pragma once

#include "support/FailureOf.h"
#include "support/TempTree.h"

// The temporary files left in a folder.
inline QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".essaimeur-*"}, QDir::Files | QDir::Hidden);
}
