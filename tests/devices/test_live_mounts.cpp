#include "VolumeRecorder.h"

#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "drives/Failure.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QHash>
#include <QSignalSpy>
#include <QTest>

#include <sys/mount.h>

namespace {

QList<QChar> freeLetters(const DriveTable &drives)
{
    QList<QChar> free;
    for (char16_t c = u'D'; c <= u'Z'; ++c) {
        if (!drives.drive(QChar(c)))
            free << QChar(c);
    }
    return free;
}

bool mountTmpfs(const QString &dir)
{
    return ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=64k") == 0;
}

bool unmount(const QString &dir)
{
    return ::umount2(QFile::encodeName(dir).constData(), 0) == 0;
}

// A watcher on this namespace's mount table, keys being what is mounted below a temporary media root.
struct LiveWatch
{
    void start()
    {
        watcher.start();
        free = freeLetters(drives);
    }

    // Waits for the handlers to have seen count notifications in all.
    bool waitForSeen(qsizetype count)
    {
        QSignalSpy recorded(&recorder, &VolumeRecorder::recorded);
        while (recorder.seen.size() < count) {
            if (!recorded.wait(10000))
                return false;
        }
        return recorder.seen.size() == count;
    }

    TempTree media;
    DriveTable drives;
    MountWatcher watcher{drives, {media.root()}};
    VolumeRecorder recorder{watcher, drives};
    QList<QChar> free; ///< after start
};

} // namespace

class TestLiveMounts : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        REQUIRE_PRIVATE_MOUNTS();
    }

    void followsMountsAndUnmounts()
    {
        LiveWatch live;
        live.start();
        const QString tmpfsDir = live.media.createDir(QStringLiteral("MEMOIRE"));
        const QString ext4Dir = live.media.createDir(QStringLiteral("u/disque"));
        const QString image = live.media.path(QStringLiteral("macle.img"));
        QVERIFY(Mounts::makeExt4Image(image, 16, QStringLiteral("MACLE")));
        QVERIFY(Mounts::mountTmpfs(tmpfsDir, QStringLiteral("8m")));
        QVERIFY(live.waitForSeen(1));
        QVERIFY(Mounts::mountImage(image, ext4Dir));
        QVERIFY(live.waitForSeen(2));

        const QChar memory = live.free[0], disk = live.free[1];
        QCOMPARE(live.recorder.lines()[0], QStringLiteral("+%1 tmpfs 0").arg(memory));
        QVERIFY2(live.recorder.lines()[1].startsWith(QStringLiteral("+%1 /dev/loop").arg(disk)), qPrintable(live.recorder.lines()[1]));
        QCOMPARE(live.recorder.seen[1].root, ext4Dir);
        LinuxFileSystemObject fso(live.drives);
        QCOMPARE(fso.getDrive(memory)->volumeName(), QStringLiteral("MEMOIRE"));
        QCOMPARE(fso.getDrive(memory)->totalSize(), 8.0 * 1024 * 1024);
        const auto diskFacts = fso.getDrive(disk);
        QCOMPARE(live.drives.drive(disk)->label, QStringLiteral("MACLE"));
        QCOMPARE(diskFacts->volumeName(), QStringLiteral("MACLE"));
        QVERIFY(diskFacts->totalSize() > 8.0 * 1024 * 1024 && diskFacts->totalSize() <= 16.0 * 1024 * 1024);
        QVERIFY(diskFacts->availableSpace() > 0 && diskFacts->availableSpace() < diskFacts->totalSize());

        QVERIFY(Mounts::unmount(ext4Dir));
        QVERIFY(live.waitForSeen(3));
        QVERIFY(Mounts::unmount(tmpfsDir));
        QVERIFY(live.waitForSeen(4));
        QString diskWent = live.recorder.lines()[1];
        diskWent[0] = QLatin1Char('-');
        QCOMPARE(live.recorder.lines()[2], diskWent);
        QCOMPARE(live.recorder.lines()[3], QStringLiteral("-%1 tmpfs 0").arg(memory));
        QCOMPARE(live.recorder.lettersMissing(), 0);
        QCOMPARE(freeLetters(live.drives), live.free);
        QVERIFY_THROWS_EXCEPTION(Failure, diskFacts->totalSize());
    }

    void burstGivesEveryArrivalOnce()
    {
        LiveWatch watch;
        const QString already = watch.media.createDir(QStringLiteral("deja"));
        QVERIFY(mountTmpfs(already));
        watch.start();
        const QChar alreadyLetter = watch.drives.letterOfRoot(already); // lettered, not announced
        QVERIFY(!alreadyLetter.isNull());
        QStringList dirs;
        for (int i = 0; i < 5; ++i) {
            dirs << watch.media.createDir(QStringLiteral("cle%1").arg(i));
            QVERIFY(mountTmpfs(dirs.last()));
        }
        QVERIFY(watch.waitForSeen(5));
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(watch.recorder.seen[i].root, dirs[i]);
            QCOMPARE(watch.recorder.lines()[i], QStringLiteral("+%1 tmpfs 0").arg(watch.free[i]));
        }
        QVERIFY(unmount(already));
        for (const QString &dir : std::as_const(dirs))
            QVERIFY(unmount(dir));
        QVERIFY(watch.waitForSeen(11));
        QCOMPARE(watch.recorder.lines()[5], QStringLiteral("-%1 tmpfs 0").arg(alreadyLetter));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(watch.recorder.lines()[i + 6], QStringLiteral("-%1 tmpfs 0").arg(watch.free[i]));
        QCOMPARE(watch.recorder.lettersMissing(), 0);
        QVERIFY(!watch.drives.drive(alreadyLetter));
    }

    // A hundred cycles of three volumes, in bursts the watcher sees whole or in pieces,
    // with handlers that sometimes spin the event loop as a message box would.
    void stormIsHandledExactlyOnce()
    {
        LiveWatch live;
        live.start();
        const QList<Drive> before = live.drives.drives();
        const QStringList dirs{live.media.createDir(QStringLiteral("a")), live.media.createDir(QStringLiteral("b")),
                               live.media.createDir(QStringLiteral("c"))};
        QHash<QString, QChar> lettered; // per volume: arrivals and removals alternate, with one letter
        QStringList faults;
        bool inside = false;
        live.recorder.onSeen = [&](const VolumeRecorder::Seen &seen) {
            if (inside || !dirs.contains(seen.root) || seen.arrival == lettered.contains(seen.root)
                || (!seen.arrival && lettered.value(seen.root) != seen.letter))
                faults << (seen.arrival ? QLatin1Char('+') : QLatin1Char('-')) + seen.letter + seen.root;
            if (seen.arrival)
                lettered.insert(seen.root, seen.letter);
            else
                lettered.remove(seen.root);
            if (live.recorder.seen.size() % 7 == 0) {
                inside = true;
                QCoreApplication::processEvents();
                inside = false;
            }
        };
        for (int cycle = 0; cycle < 100; ++cycle) {
            for (const QString &dir : dirs) {
                QVERIFY(mountTmpfs(dir));
                if (cycle % 2)
                    QCoreApplication::processEvents();
            }
            QVERIFY2(live.waitForSeen(cycle * 6 + 3), qPrintable(QString::number(cycle)));
            for (const QString &dir : dirs) {
                QVERIFY(unmount(dir));
                if (cycle % 2)
                    QCoreApplication::processEvents();
            }
            QVERIFY2(live.waitForSeen(cycle * 6 + 6), qPrintable(QString::number(cycle)));
        }
        QCOMPARE(faults, QStringList());
        QVERIFY(lettered.isEmpty());
        QCOMPARE(live.drives.drives().size(), before.size());
        QCOMPARE(freeLetters(live.drives), live.free);
    }
};

QTEST_GUILESS_MAIN(TestLiveMounts)
#include "test_live_mounts.moc"
