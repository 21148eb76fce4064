#include "FuzzCheck.h"
#include "devices/MountTable.h"

#include <QDir>

// The input is mountinfo text; cut at a line in its middle, it is also two readings of the table.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n', input.size() / 2), cut = newline < 0 ? input.size() : newline + 1;
    const QList<MountEntry> table = parseMountInfo(input), before = parseMountInfo(input.left(cut)), after = parseMountInfo(input.mid(cut));
    const auto lacking = [](const QList<MountEntry> &a, const QList<MountEntry> &b) { // how many entries of a b lacks
        return std::ranges::count_if(a, [&](auto &e) { return std::ranges::none_of(b, [&](auto &o) { return isSameMount(o, e); }); });
    };
    // A reading compared with itself changes nothing; two readings differ by exactly what each lacks of the other.
    const MountChanges none = diffMounts(table, table), changes = diffMounts(before, after);
    FUZZ_EXPECT(none.removed.isEmpty() && none.added.isEmpty() && lacking(changes.removed, after) == changes.removed.size()
                && lacking(changes.added, before) == changes.added.size() && lacking(before, after) == changes.removed.size()
                && lacking(after, before) == changes.added.size());
    const QStringList roots{QStringLiteral("/media"), QStringLiteral("/run/media")};
    for (const MountEntry &entry : table) {
        // Never a key: a kernel or system mount, USB or not; off the USB bus, a mount outside the media folders.
        const bool system = isKernelFileSystem(entry.fileSystemType) || isSystemMountPoint(entry.mountPoint);
        const QString clean = QDir::cleanPath(entry.mountPoint);
        if (system || (!clean.startsWith(u"/media/") && !clean.startsWith(u"/run/media/")))
            FUZZ_EXPECT(!isRemovableVolume(entry, false, roots));
        FUZZ_EXPECT(!system || !isRemovableVolume(entry, true, roots));
        // Not a whole volume: a folder of a file system, or a device the table also mounts outside the media folders.
        FUZZ_EXPECT(isSameMount(entry, entry) && (entry.root == QLatin1String("/") || !isWholeVolume(entry, table, roots)));
        FUZZ_EXPECT(!isWholeVolume(entry, table + QList{MountEntry{entry.id ^ 1, entry.major, entry.minor, "/srv"}}, roots));
    }
    return 0;
}
