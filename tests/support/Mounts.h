#pragma once

#include <QProcess>
#include <QTest>

#include <unistd.h>

// Helpers for tests that mount real volumes. They only work inside the private mount
// namespace that in-private-mounts.sh gives a test run as root.
namespace Mounts {

// Runs a command, its errors going to the test's; its standard output, or nothing when it fails.
inline std::optional<QString> output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return std::nullopt;
}
inline bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

// A fresh "exfat" or "fat" image of 40 MiB on a loop device, mounted at dir through its
// FUSE driver, as desktops do without a kernel driver. The loop device goes once unmounted.
inline bool mountImage(const QString &kind, const QString &image, const QString &dir)
{
    const QStringList format = kind == "fat" ? QStringList{"mkfs.fat", "-F", "32"} : QStringList{"mkfs.exfat"};
    const QStringList mount = kind == "fat" ? QStringList{"fusefat", "-o", "rw+"} : QStringList{"mount.exfat-fuse"};
    const bool made = run("truncate", {"-s", "40M", image}) && run(format.first(), format.mid(1) << image);
    const QString loop = made ? output("losetup", {"-f", "--show", image}).value_or(QString()) : QString();
    return !loop.isEmpty() && run(mount.first(), mount.mid(1) << loop << dir) && run("losetup", {"-d", loop});
}

} // namespace Mounts

// Skips the current test, with the reason, outside a private mount namespace as root.
#define REQUIRE_PRIVATE_MOUNTS()                                                                                       \
    if (geteuid() != 0 || !qEnvironmentVariableIsSet("ESSAIMEUR_PRIVATE_MOUNTS"))                                      \
    QSKIP("needs root in a private mount namespace (run through CTest as root): skipped")
