// bench_copy [size_mib=512] [folders=8]: our copy, with and without the read-back
// check, against cp followed by sync of each file, onto N folders of one disk.
#include "copy/LinuxFileOperations.h"
#include "drives/Failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr qint64 MiB = 1 << 20;

bool makeSource(const QString &path, qint64 sizeMiB)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(MiB, Qt::Uninitialized);
    QRandomGenerator random(42);
    for (qint64 i = 0; i < sizeMiB; ++i) {
        random.fillRange(reinterpret_cast<quint32 *>(block.data()), MiB / 4);
        if (file.write(block) != MiB)
            return false;
    }
    return file.flush();
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void clearTargets(const QStringList &targets)
{
    for (const QString &target : targets)
        QFile::remove(target);
    run(QStringLiteral("sync"), {});
}

double timeOurs(const QString &source, const QStringList &targets, bool verify)
{
    LinuxFileOperations files;
    files.setVerify(verify);
    QElapsedTimer timer;
    timer.start();
    for (const QString &target : targets)
        files.copyFile(source, target);
    return timer.nsecsElapsed() / 1e9;
}

double timeCpSync(const QString &source, const QStringList &targets)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &target : targets) {
        if (!run(QStringLiteral("cp"), {source, target}) || !run(QStringLiteral("sync"), {target}))
            throw failureFor(FailureNumber::DeviceIO);
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const qint64 sizeMiB = arguments.size() > 1 ? arguments[1].toLongLong() : 512;
    const int folders = arguments.size() > 2 ? arguments[2].toInt() : 8;
    if (sizeMiB <= 0 || folders <= 0) {
        std::fprintf(stderr, "usage: bench_copy [size_mib=512] [folders=8]\n");
        return 2;
    }

    QTemporaryDir work;
    const QString source = work.filePath(QStringLiteral("source.bin"));
    if (!work.isValid() || !makeSource(source, sizeMiB)) {
        std::fprintf(stderr, "cannot create the source file in %s\n", qPrintable(work.path()));
        return 1;
    }
    QStringList targets;
    for (int i = 0; i < folders; ++i) {
        const QString folder = work.filePath(QStringLiteral("key%1").arg(i));
        QDir().mkpath(folder);
        targets << folder + QStringLiteral("/copy.bin");
    }
    run(QStringLiteral("sync"), {});

    try {
        const double checked = timeOurs(source, targets, true);
        clearTargets(targets);
        const double unchecked = timeOurs(source, targets, false);
        clearTargets(targets);
        const double cpSync = timeCpSync(source, targets);
        clearTargets(targets);

        struct rusage usage = {};
        getrusage(RUSAGE_SELF, &usage);
        const double total = double(sizeMiB) * folders;
        std::printf("%lld MiB x %d folders in %s\n", static_cast<long long>(sizeMiB), folders, qPrintable(work.path()));
        std::printf("ours, read back   %8.2f s  %7.1f MiB/s\n", checked, total / checked);
        std::printf("ours, no check    %8.2f s  %7.1f MiB/s\n", unchecked, total / unchecked);
        std::printf("cp + sync FILE    %8.2f s  %7.1f MiB/s\n", cpSync, total / cpSync);
        std::printf("ratio ours/cp+sync: %.2f read back, %.2f no check\n", checked / cpSync, unchecked / cpSync);
        std::printf("our peak RSS: %ld KiB\n", usage.ru_maxrss);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "copy failed: %s\n", failure.what());
        return 1;
    }
    return 0;
}
