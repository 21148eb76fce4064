// bench_lists [count=100000]: how long the lists take to show a big folder and a deep one.

#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/FolderReading.h"
#include "ui/FileList.h"
#include "ui/FolderList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Runs = 5;
constexpr int Depth = 20;

double medianMs(const std::function<void()> &run)
{
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[Runs / 2];
}

bool createFiles(const QString &folder, int count)
{
    const QByteArray base = QFile::encodeName(folder);
    for (int i = 0; i < count; ++i) {
        // Mixed case, so that the sort has to fold it.
        const QByteArray name = base + (i % 2 ? "/File" : "/file") + QByteArray::number(i) + ".txt";
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: bench_lists [count=100000]\n");
        return 2;
    }

    QTemporaryDir temp;
    DriveTable drives;
    const QChar letter = drives.assign(temp.path(), {});
    const QString big = temp.filePath(QStringLiteral("big"));
    QDir().mkpath(big);
    QElapsedTimer creation;
    creation.start();
    if (!createFiles(big, count)) {
        std::fprintf(stderr, "cannot create the files\n");
        return 1;
    }
    std::printf("created %d files in %.0f ms\n", count, double(creation.elapsed()));

    const QString bigPath = DrivePath::format(letter, {QStringLiteral("big")});
    const double readMs = medianMs([&] { FolderReading::read(big, FolderReading::Kind::Files); });

    FileList files(drives);
    files.resize(300, 400);
    files.show();
    const double setPathMs = medianMs([&] { files.setPath(bigPath); });
    const double shownMs = medianMs([&] {
        files.setPath(bigPath);
        files.setListIndex(count - 1);
        QCoreApplication::processEvents();
    });
    if (files.listCount() != count) {
        std::fprintf(stderr, "file list shows %d files, not %d\n", files.listCount(), count);
        return 1;
    }

    QStringList parts;
    for (int level = 1; level <= Depth; ++level)
        parts << QStringLiteral("Level%1").arg(level);
    QDir().mkpath(temp.filePath(parts.join(QLatin1Char('/'))));
    const QString deepPath = DrivePath::format(letter, parts);
    FolderList folders(drives);
    folders.show();
    const double deepMs = medianMs([&] {
        folders.setPath(DrivePath::format(letter, {}));
        folders.setPath(deepPath);
        QCoreApplication::processEvents();
    });
    for (int level = 0; level <= Depth; ++level) {
        const QString expected = DrivePath::format(letter, parts.mid(0, level));
        if (folders.list(level - Depth - 1) != expected) {
            std::fprintf(stderr, "ancestor %d is %s, not %s\n", level, qPrintable(folders.list(level - Depth - 1)),
                         qPrintable(expected));
            return 1;
        }
    }

    std::printf("median of %d runs, %d files:\n", Runs, count);
    std::printf("  read and sort the folder     %8.1f ms\n", readMs);
    std::printf("  FileList::setPath            %8.1f ms\n", setPathMs);
    std::printf("  setPath, select last, layout %8.1f ms\n", shownMs);
    std::printf("  FolderList, root then %d levels deep, laid out: %.2f ms (every ancestor shown)\n", Depth, deepMs);
    return 0;
}
