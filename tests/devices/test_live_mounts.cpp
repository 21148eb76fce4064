#include "VolumeRecorder.h"

#include "devices/LinuxDriveFacts.h"
#include "devices/MountWatcher.h"
#include "support/Mounts.h"
#include "support/TempTree.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestLiveMounts : public QObject
{
    Q_OBJECT

private slots:
    // The watcher on this namespace's mount table, keys being what is mounted below a temporary media root:
    // an ext4 image, then a burst of tmpfs, each announced once, in order, with the next letter and its label.
    void followsMountsAndUnmounts()
    {
        REQUIRE_PRIVATE_MOUNTS();
        TempTree media;
        DriveTable drives;
        MountWatcher watcher(drives, {media.root()});
        VolumeRecorder recorder(watcher, drives);
        const QString image = media.path(u"macle.img"_s);
        QVERIFY(Mounts::makeExt4Image(image, 16, u"MACLE"_s));
        watcher.start();
        QStringList dirs{media.createDir(u"disque"_s)};
        QVERIFY(Mounts::mountImage(image, dirs.first()));
        for (int i = 1; i < 6; ++i)
            QVERIFY(Mounts::mountTmpfs(dirs.emplaceBack(media.createDir(u"CLE%1"_s.arg(i)))));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.lines.size(), 6, 10000);
        const LinuxFileSystemObject fso(drives);
        QCOMPARE(fso.getDrive(u"D"_s)->volumeName(), u"MACLE"_s);
        QStringList arrivals{u"+D %1 0"_s.arg(drives.drive(u'D').value_or(Drive()).source)}; // the loop device
        for (int i = 1; i < 6; ++i) {
            arrivals << u"+%1 tmpfs 0"_s.arg(QChar(u'D' + i));
            QCOMPARE(fso.getDrive(QChar(u'D' + i))->volumeName(), u"CLE%1"_s.arg(i)); // the mount point's name
        }
        QCOMPARE(recorder.lines, arrivals);

        for (const QString &dir : std::as_const(dirs))
            QVERIFY(Mounts::unmount(dir));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.lines.size(), 12, 10000);
        QCOMPARE(recorder.lines.mid(6), arrivals.replaceInStrings(u"+"_s, u"-"_s)); // each with its letter
        QCOMPARE(recorder.missing, 0); // a removed volume keeps its letter until its handler has run
        QCOMPARE(drives.drives().size(), 1); // C alone: every letter freed
    }
};

QTEST_GUILESS_MAIN(TestLiveMounts)
#include "test_live_mounts.moc"
