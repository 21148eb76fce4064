#pragma once

#include <QProcess>
#include <QTest>

#include <unistd.h>

// Helpers for tests that mount real volumes. They only work inside the private
// mount namespace that in-private-mounts.sh gives a test run as root.
namespace Mounts {

inline bool available() { return geteuid() == 0 && qEnvironmentVariableIsSet("ESSAIMEUR_PRIVATE_MOUNTS"); }

// Runs a command; its standard output, or nothing when it fails.
inline std::optional<QString> output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    qWarning().noquote() << program << arguments.join(u' ') << "failed:" << process.readAllStandardError();
    return std::nullopt;
}
inline bool run(const QString &program, const QStringList &arguments) { return output(program, arguments).has_value(); }

inline bool mountTmpfs(const QString &dir, const QString &size = "16m") { return run("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", dir}); }
inline bool makeExt4Image(const QString &image, int sizeMiB, const QString &label)
{
    return run("truncate", {"-s", QString::number(sizeMiB) + "M", image}) && run("mkfs.ext4", {"-q", "-F", "-L", label, image});
}
inline bool mountImage(const QString &image, const QString &dir) { return run("mount", {"-o", "loop", image, dir}); }
inline bool unmount(const QString &dir) { return run("umount", {dir}); }

// An exFAT image on a loop device, through the FUSE driver as desktops do without a
// kernel driver. Returns the loop device, "" on failure; detach it once unmounted.
inline QString mountExfat(const QString &image, int sizeMiB, const QString &dir)
{
    const bool made = run("truncate", {"-s", QString::number(sizeMiB) + "M", image}) && run("mkfs.exfat", {image});
    const QString loop = made ? output("losetup", {"-f", "--show", image}).value_or(QString()) : QString();
    return !loop.isEmpty() && run("mount.exfat-fuse", {loop, dir}) ? loop : QString();
}

} // namespace Mounts

// Skips the current test, with the reason, outside a private mount namespace as root.
#define REQUIRE_PRIVATE_MOUNTS() \
    if (!Mounts::available()) \
        QSKIP("needs root in a private mount namespace (run through CTest as root): skipped")
