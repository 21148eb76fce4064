#include "devices/MountTable.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <libmount/libmount.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/sysmacros.h>

namespace {

struct TableDeleter
{
    void operator()(libmnt_table *table) const { mnt_unref_table(table); }
};
struct IterDeleter
{
    void operator()(libmnt_iter *iter) const { mnt_free_iter(iter); }
};
struct FileDeleter
{
    void operator()(FILE *file) const { std::fclose(file); }
};
using Table = std::unique_ptr<libmnt_table, TableDeleter>;

int skipBadLine(libmnt_table *, const char *, int)
{
    return 1;
}

Table newTable()
{
    Table table(mnt_new_table());
    if (table)
        mnt_table_set_parser_errcb(table.get(), skipBadLine);
    return table;
}

QString text(const char *value)
{
    return value ? QString::fromUtf8(value) : QString();
}

QList<MountEntry> entriesOf(libmnt_table *table)
{
    QList<MountEntry> entries;
    const std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!iter)
        return entries;
    libmnt_fs *fs = nullptr;
    while (mnt_table_next_fs(table, iter.get(), &fs) == 0) {
        const dev_t device = mnt_fs_get_devno(fs);
        entries.append(MountEntry{mnt_fs_get_id(fs), major(device), minor(device), text(mnt_fs_get_target(fs)),
                                  text(mnt_fs_get_fstype(fs)), text(mnt_fs_get_source(fs)), text(mnt_fs_get_root(fs))});
    }
    return entries;
}

bool isStrictlyBelow(const QString &path, const QString &root)
{
    const QString cleanRoot = QDir::cleanPath(root);
    const QString prefix = cleanRoot.endsWith(QLatin1Char('/')) ? cleanRoot : cleanRoot + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}

} // namespace

bool isSameMount(const MountEntry &a, const MountEntry &b)
{
    return a.id == b.id && a.major == b.major && a.minor == b.minor && a.mountPoint == b.mountPoint
        && a.fileSystemType == b.fileSystemType && a.source == b.source && a.root == b.root;
}

QList<MountEntry> parseMountInfo(const QByteArray &text)
{
    if (text.isEmpty())
        return {};
    const std::unique_ptr<FILE, FileDeleter> stream(
        fmemopen(const_cast<char *>(text.constData()), size_t(text.size()), "r"));
    const Table table = newTable();
    if (!stream || !table || mnt_table_parse_stream(table.get(), stream.get(), "mountinfo") != 0)
        return {};
    return entriesOf(table.get());
}

std::optional<QList<MountEntry>> readMountInfo(const QString &path)
{
    const Table table = newTable();
    if (!table || mnt_table_parse_file(table.get(), QFile::encodeName(path).constData()) != 0)
        return std::nullopt;
    return entriesOf(table.get());
}

bool isKernelFileSystem(const QString &fileSystemType)
{
    static const QSet<QString> kernel{QStringLiteral("proc"),
                                      QStringLiteral("sysfs"),
                                      QStringLiteral("devtmpfs"),
                                      QStringLiteral("devpts"),
                                      QStringLiteral("cgroup"),
                                      QStringLiteral("cgroup2"),
                                      QStringLiteral("securityfs"),
                                      QStringLiteral("debugfs"),
                                      QStringLiteral("tracefs"),
                                      QStringLiteral("mqueue"),
                                      QStringLiteral("pstore"),
                                      QStringLiteral("bpf"),
                                      QStringLiteral("configfs"),
                                      QStringLiteral("fusectl"),
                                      QStringLiteral("hugetlbfs"),
                                      QStringLiteral("autofs"),
                                      QStringLiteral("binfmt_misc"),
                                      QStringLiteral("efivarfs"),
                                      QStringLiteral("rpc_pipefs"),
                                      QStringLiteral("nsfs"),
                                      QStringLiteral("selinuxfs"),
                                      QStringLiteral("nfsd"),
                                      QStringLiteral("fuse.gvfsd-fuse"),
                                      QStringLiteral("fuse.portal")};
    return kernel.contains(fileSystemType);
}

bool isNetworkFileSystem(const QString &fileSystemType)
{
    static const QSet<QString> network{QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"),
                                       QStringLiteral("smb3"), QStringLiteral("fuse.sshfs")};
    return network.contains(fileSystemType);
}

bool isSystemMountPoint(const QString &mountPoint)
{
    static const QSet<QString> system{QStringLiteral("/"),    QStringLiteral("/boot"), QStringLiteral("/boot/efi"),
                                      QStringLiteral("/efi"), QStringLiteral("/home"), QStringLiteral("/usr"),
                                      QStringLiteral("/var"), QStringLiteral("/tmp"),  QStringLiteral("/opt"),
                                      QStringLiteral("/srv"), QStringLiteral("/root")};
    static const QStringList kernelTrees{QStringLiteral("/proc"), QStringLiteral("/sys"), QStringLiteral("/dev")};
    const QString clean = QDir::cleanPath(mountPoint);
    if (system.contains(clean))
        return true;
    for (const QString &tree : kernelTrees) {
        if (clean == tree || isStrictlyBelow(clean, tree))
            return true;
    }
    return false;
}

bool isRemovableVolume(const MountEntry &entry, bool onUsbBus, const QStringList &mediaRoots)
{
    if (isKernelFileSystem(entry.fileSystemType) || isSystemMountPoint(entry.mountPoint))
        return false;
    if (onUsbBus)
        return true;
    const QString clean = QDir::cleanPath(entry.mountPoint);
    for (const QString &root : mediaRoots) {
        if (isStrictlyBelow(clean, root))
            return true;
    }
    return false;
}

bool isWholeVolume(const MountEntry &entry, const QList<MountEntry> &table, const QStringList &mediaRoots)
{
    if (entry.root != u"/")
        return false;
    const auto belowMedia = [&](const MountEntry &e) {
        return std::any_of(mediaRoots.begin(), mediaRoots.end(),
                           [&](const QString &root) { return isStrictlyBelow(QDir::cleanPath(e.mountPoint), root); });
    };
    return std::none_of(table.begin(), table.end(), [&](const MountEntry &other) {
        return other.major == entry.major && other.minor == entry.minor && !isSameMount(other, entry)
            && !belowMedia(other);
    });
}

MountChanges diffMounts(const QList<MountEntry> &before, const QList<MountEntry> &after)
{
    const auto holds = [](const QList<MountEntry> &table, const MountEntry &entry) {
        return std::any_of(table.begin(), table.end(), [&](const MountEntry &e) { return isSameMount(e, entry); });
    };
    MountChanges changes;
    for (const MountEntry &entry : before) {
        if (!holds(after, entry))
            changes.removed.append(entry);
    }
    for (const MountEntry &entry : after) {
        if (!holds(before, entry))
            changes.added.append(entry);
    }
    return changes;
}
