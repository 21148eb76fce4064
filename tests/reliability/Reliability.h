#pragma once

#include "copy/LinuxFileOperations.h"
#include "support/WindowChecks.h"

#include <fts.h>
#include <sys/mount.h>

namespace Reliability {

using Entries = QMap<QByteArray, QByteArray>;

// Every entry below a folder, by relative native path (bytes, so that names that are not UTF-8
// stay apart): "d" folder, "f <content>" file, "l <target>" link, "o" other. Follows no link below it.
inline Entries snapshot(const QString &folder)
{
    Entries entries;
    QByteArray root = QFile::encodeName(folder);
    char *roots[] = {root.data(), nullptr};
    const std::unique_ptr<FTS, int (*)(FTS *)> tree(
        fts_open(roots, FTS_PHYSICAL | FTS_COMFOLLOW | FTS_NOCHDIR, nullptr), fts_close);
    while (const FTSENT *entry = tree ? fts_read(tree.get()) : nullptr) {
        const QByteArray path(entry->fts_path);
        if (const int type = entry->fts_info; entry->fts_level > 0 && type != FTS_DP)
            entries[path.mid(root.size() + 1)] = type == FTS_D || type == FTS_DNR ? "d"
                : type == FTS_SL || type == FTS_SLNONE
                ? "l " + QFile::encodeName(QFile::symLinkTarget(QFile::decodeName(path)))
                : type == FTS_F ? "f " + TempTree::read(QFile::decodeName(path))
                                : QByteArray("o");
    }
    return entries;
}

// Detaches at the end of a test whatever it left mounted, so that its tree can go.
struct MountedDirs : QStringList
{
    ~MountedDirs()
    {
        for (const QString &dir : std::as_const(*this))
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
    }
};

} // namespace Reliability
