#include "FuzzCheck.h"
#include "devices/MountTable.h"

#include <algorithm>
#include <cstdint>

namespace {

bool holds(const QList<MountEntry> &table, const MountEntry &entry)
{
    return std::any_of(table.begin(), table.end(), [&](const MountEntry &e) { return isSameMount(e, entry); });
}

qsizetype missingFrom(const QList<MountEntry> &table, const QList<MountEntry> &other)
{
    return std::count_if(table.begin(), table.end(), [&](const MountEntry &e) { return !holds(other, e); });
}

} // namespace

// The input is mountinfo text; cut at a line in its middle, it is also two readings of the table.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<MountEntry> table = parseMountInfo(input);

    const MountChanges none = diffMounts(table, table);
    FUZZ_EXPECT(none.removed.isEmpty() && none.added.isEmpty(), input);

    const qsizetype newline = input.indexOf('\n', input.size() / 2), cut = newline < 0 ? input.size() : newline + 1;
    const QList<MountEntry> before = parseMountInfo(input.left(cut)), after = parseMountInfo(input.mid(cut));
    const MountChanges changes = diffMounts(before, after);
    for (const MountEntry &gone : changes.removed)
        FUZZ_EXPECT(holds(before, gone) && !holds(after, gone), input);
    for (const MountEntry &added : changes.added)
        FUZZ_EXPECT(holds(after, added) && !holds(before, added), input);
    FUZZ_EXPECT(changes.removed.size() == missingFrom(before, after), input);
    FUZZ_EXPECT(changes.added.size() == missingFrom(after, before), input);

    const QStringList mediaRoots{QStringLiteral("/media"), QStringLiteral("/run/media")};
    for (const MountEntry &entry : table) {
        FUZZ_EXPECT(isSameMount(entry, entry), input);
        isNetworkFileSystem(entry.fileSystemType); // for the sanitizers
        if (isKernelFileSystem(entry.fileSystemType) || isSystemMountPoint(entry.mountPoint))
            FUZZ_EXPECT(!isRemovableVolume(entry, false, mediaRoots) && !isRemovableVolume(entry, true, mediaRoots), input);
        // Outside the media roots only the USB bus makes a key.
        if (!entry.mountPoint.startsWith(QLatin1String("/media/")) && !entry.mountPoint.startsWith(QLatin1String("/run/media/"))
            && !entry.mountPoint.contains(QLatin1String("..")) && !entry.mountPoint.contains(QLatin1String("//"))
            && !entry.mountPoint.contains(QLatin1String("/./")))
            FUZZ_EXPECT(!isRemovableVolume(entry, false, mediaRoots), input);
    }
    return 0;
}
