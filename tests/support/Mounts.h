#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <unistd.h>

// Helpers for tests that mount real volumes. They only work inside the private
// mount namespace that in-private-mounts.sh gives a test run as root.
namespace Mounts {

inline bool available()
{
    return geteuid() == 0 && qEnvironmentVariableIsSet("ESSAIMEUR_PRIVATE_MOUNTS");
}

inline bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return false;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << "failed:"
                             << process.readAllStandardError();
        return false;
    }
    return true;
}

// size as mount(8) takes it: "1m", "64k".
inline bool mountTmpfs(const QString &dir, const QString &size = QStringLiteral("16m"))
{
    return run(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                         QStringLiteral("size=") + size, QStringLiteral("tmpfs"), dir});
}

inline bool makeExt4Image(const QString &image, int sizeMiB, const QString &label)
{
    return run(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("%1M").arg(sizeMiB), image})
        && run(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-L"), label, image});
}

inline bool mountImage(const QString &image, const QString &dir)
{
    return run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, dir});
}

// An exFAT image on a loop device, through the FUSE driver as desktops do without a
// kernel driver. Returns the loop device, "" on failure; detach it once unmounted.
inline QString mountExfat(const QString &image, int sizeMiB, const QString &dir)
{
    QProcess losetup;
    if (!run(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("%1M").arg(sizeMiB), image})
        || !run(QStringLiteral("mkfs.exfat"), {image}))
        return {};
    losetup.start(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), image});
    const QString loop = losetup.waitForFinished() ? QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed() : QString();
    return !loop.isEmpty() && run(QStringLiteral("mount.exfat-fuse"), {loop, dir}) ? loop : QString();
}

inline bool unmount(const QString &dir, bool lazy = false)
{
    return run(QStringLiteral("umount"), lazy ? QStringList{QStringLiteral("-l"), dir} : QStringList{dir});
}

} // namespace Mounts

// Skips the current test, with the reason, outside a private mount namespace as root.
#define REQUIRE_PRIVATE_MOUNTS() \
    do { \
        if (!Mounts::available()) \
            QSKIP("needs root in a private mount namespace (run through CTest as root): skipped"); \
    } while (false)
