#include "FuzzCheck.h"
#include "devices/MountTable.h"

#include <QDir>

#include <algorithm>
#include <cstdint>

// The input is mountinfo text; cut at a line in its middle, it is also two readings of the table.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n', input.size() / 2), cut = newline < 0 ? input.size() : newline + 1;
    const QList<MountEntry> table = parseMountInfo(input), before = parseMountInfo(input.left(cut)), after = parseMountInfo(input.mid(cut));
    const auto lacks = [](const QList<MountEntry> &other) {
        return [&other](const MountEntry &e) { return std::none_of(other.begin(), other.end(), [&](const MountEntry &o) { return isSameMount(o, e); }); };
    };
    // A reading compared with itself changes nothing; two readings differ by exactly what each lacks of the other.
    const MountChanges none = diffMounts(table, table), changes = diffMounts(before, after);
    FUZZ_EXPECT(none.removed.isEmpty() && none.added.isEmpty());
    FUZZ_EXPECT(std::all_of(changes.removed.begin(), changes.removed.end(), lacks(after)) && std::all_of(changes.added.begin(), changes.added.end(), lacks(before)));
    FUZZ_EXPECT(changes.removed.size() == std::count_if(before.begin(), before.end(), lacks(after)));
    FUZZ_EXPECT(changes.added.size() == std::count_if(after.begin(), after.end(), lacks(before)));

    const QStringList mediaRoots{QStringLiteral("/media"), QStringLiteral("/run/media")};
    for (const MountEntry &entry : table) {
        // Never a key: a kernel or system mount, USB or not; off the USB bus, a mount outside the media folders.
        if (isKernelFileSystem(entry.fileSystemType) || isSystemMountPoint(entry.mountPoint))
            FUZZ_EXPECT(!isRemovableVolume(entry, false, mediaRoots) && !isRemovableVolume(entry, true, mediaRoots));
        const QString clean = QDir::cleanPath(entry.mountPoint);
        if (!clean.startsWith(QLatin1String("/media/")) && !clean.startsWith(QLatin1String("/run/media/")))
            FUZZ_EXPECT(!isRemovableVolume(entry, false, mediaRoots));
        // Not a whole volume: a folder of a file system, or a device the table also mounts outside the media folders.
        FUZZ_EXPECT(isSameMount(entry, entry) && (entry.root == QLatin1String("/") || !isWholeVolume(entry, table, mediaRoots)));
        FUZZ_EXPECT(!isWholeVolume(entry, table + QList<MountEntry>{{entry.id ^ 1, entry.major, entry.minor, QStringLiteral("/srv")}}, mediaRoots));
    }
    return 0;
}
