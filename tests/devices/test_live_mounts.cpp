#include "VolumeRecorder.h"

#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QHash>
#include <QTest>

using namespace Qt::StringLiterals;

// A watcher on this namespace's mount table, keys being what is mounted below a temporary media root.
struct LiveWatch
{
    TempTree media;
    DriveTable drives;
    MountWatcher watcher{drives, {media.root()}};
    VolumeRecorder recorder{watcher, drives};
};

class TestLiveMounts : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_MOUNTS(); }

    // An ext4 image, then a burst of tmpfs: each announced once, in order, with the next letter and its label.
    void followsMountsAndUnmounts()
    {
        LiveWatch live;
        const QString image = live.media.path(u"macle.img"_s);
        QVERIFY(Mounts::makeExt4Image(image, 16, u"MACLE"_s));
        live.watcher.start();
        QStringList dirs{live.media.createDir(u"disque"_s)};
        QVERIFY(Mounts::mountImage(image, dirs.first()));
        for (int i = 1; i < 6; ++i)
            QVERIFY(Mounts::mountTmpfs(dirs.emplaceBack(live.media.createDir(u"CLE%1"_s.arg(i)))));
        QTRY_COMPARE_WITH_TIMEOUT(live.recorder.seen.size(), 6, 10000);
        LinuxFileSystemObject fso(live.drives);
        QCOMPARE(fso.getDrive(u"D"_s)->volumeName(), u"MACLE"_s);
        QStringList arrivals{u"+D %1 0"_s.arg(live.drives.drive(u'D').value_or(Drive()).source)}; // the loop device
        for (int i = 1; i < 6; ++i) {
            arrivals << u"+%1 tmpfs 0"_s.arg(QChar(u'D' + i));
            QCOMPARE(fso.getDrive(QChar(u'D' + i))->volumeName(), u"CLE%1"_s.arg(i)); // the mount point's name
        }
        QCOMPARE(live.recorder.lines(), arrivals);

        for (const QString &dir : std::as_const(dirs))
            QVERIFY(Mounts::unmount(dir));
        QTRY_COMPARE_WITH_TIMEOUT(live.recorder.seen.size(), 12, 10000);
        QCOMPARE(live.recorder.lines().mid(6), arrivals.replaceInStrings(u"+"_s, u"-"_s)); // each with its letter
        QCOMPARE(live.drives.drives().size(), 1); // C alone: every letter freed
    }

    // A hundred cycles of three volumes, in bursts the watcher sees whole or in pieces,
    // with handlers that sometimes spin the event loop as a message box would.
    void stormIsHandledExactlyOnce()
    {
        LiveWatch live;
        live.watcher.start();
        const QStringList dirs{live.media.createDir(u"a"_s), live.media.createDir(u"b"_s), live.media.createDir(u"c"_s)};
        QHash<QString, QChar> lettered; // per volume: arrivals and removals alternate, with one letter
        QStringList faults;
        bool inside = false;
        live.recorder.onSeen = [&](const VolumeRecorder::Seen &seen) {
            const QChar had = lettered.take(seen.root); // null when the volume had no letter
            // A removed volume still has its letter (and root) during the handler; nothing comes in while it spins.
            if (inside || !dirs.contains(seen.root) || (seen.arrival ? !had.isNull() : had != seen.letter))
                faults << QString(seen.arrival ? u'+' : u'-') + seen.letter + seen.root;
            if (seen.arrival)
                lettered.insert(seen.root, seen.letter);
            if (live.recorder.seen.size() % 7 == 0) {
                inside = true;
                QCoreApplication::processEvents();
                inside = false;
            }
        };
        for (int step = 0; step < 200; ++step) { // a hundred cycles: the three mounted, then unmounted
            for (const QString &dir : dirs) {
                QVERIFY(step % 2 ? Mounts::unmount(dir) : Mounts::mountTmpfs(dir, u"64k"_s));
                if (step % 4 >= 2) // every other cycle, events are handled between the calls
                    QCoreApplication::processEvents();
            }
            QTRY_COMPARE_WITH_TIMEOUT(live.recorder.seen.size(), 3 * (step + 1), 10000);
        }
        QCOMPARE(faults, QStringList());
        QVERIFY(lettered.isEmpty());
        QCOMPARE(live.drives.drives().size(), 1); // C alone: every letter given back
    }
};

QTEST_GUILESS_MAIN(TestLiveMounts)
#include "test_live_mounts.moc"
