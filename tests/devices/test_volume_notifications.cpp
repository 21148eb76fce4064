#include "VolumeRecorder.h"

#include "devices/MountWatcher.h"
#include "support/ScriptedNotificationSource.h"
#include "support/TempTree.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Mount table lines: the system, a USB key mounted outside any media root, keys under /media.
const QByteArray base = "26 1 254:0 / / rw - ext4 /dev/vda rw\n21 26 0:20 / /proc rw - proc proc rw\n";
const QByteArray usbKey = "60 26 8:17 / /mnt/cle rw - vfat /dev/sdb1 rw\n";
const QByteArray keyB = "61 26 8:33 / /media/u/B rw - exfat /dev/sdc1 rw\n";
const QByteArray keyC = "62 26 0:70 / /media/u/C rw - tmpfs tmpfs rw\n";

class TestVolumeNotifications : public QObject
{
    Q_OBJECT

private slots:
    // Held, notifications wait in order; one raised inside a handler waits for the handler to end.
    void deliveriesWaitTheirTurn()
    {
        ScriptedNotificationSource source;
        DriveTable drives;
        VolumeRecorder recorder(source, drives);
        recorder.onSeen = [&](const QString &line) {
            if (!line.startsWith(u"+D"_s))
                return;
            source.remove(u'G'); // as a message box's local loop lets the watcher deliver
            QCOMPARE(recorder.lines.size(), 1); // G waits for this handler to end
        };
        source.hold();
        source.arrive(u'D');
        source.remove(u'E');
        source.arrive(u'F');
        QCOMPARE(recorder.lines.size(), 0);
        source.release();
        QCOMPARE(recorder.lines, QStringList({"+D  0", "-E  0", "+F  0", "-G  0"}));
    }

    // Letters, masks, names and data per change; a removed volume's letter is freed only after its handler.
    void reportsTableChanges_data()
    {
        QTest::addColumn<QList<QByteArray>>("tables");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("lettered silently at start, remount silent, freed letter reused lowest first")
            << QList<QByteArray>{base + usbKey + keyB, base + keyB, base + "61 26 8:33 / /media/u/B ro - exfat /dev/sdc1 ro\n",
                                 base + keyB + keyC}
            << QStringList{"-D /dev/sdb1 0", "+D tmpfs 0"};
        QTest::newRow("network share, not cgroup2") << QList<QByteArray>{base, base + "70 26 0:80 / /media/cg rw - cgroup2 cgroup2 rw\n"
                                                                                 "71 26 0:81 / /media/share rw - cifs //srv/partage rw\n"}
                                                    << QStringList{"+D //srv/partage 2"};
        QTest::newRow("mount id reused by another volume")
            << QList<QByteArray>{base + keyB, base + "61 26 8:49 / /media/u/B rw - vfat /dev/sdd1 rw\n"}
            << QStringList{"-D /dev/sdc1 0", "+E /dev/sdd1 0"};
        QByteArray full = base; // D..Z taken: a further volume gets no letter and raises nothing, coming or going
        for (int i = 0; i < 23; ++i)
            full += QByteArray::number(100 + i) + " 26 0:90 / /media/k" + QByteArray::number(i) + " rw - tmpfs tmpfs rw\n";
        QTest::newRow("beyond Z") << QList<QByteArray>{full, full + "200 26 0:91 / /media/extra rw - tmpfs extra rw\n", full}
                                  << QStringList();
    }
    void reportsTableChanges()
    {
        QFETCH(QList<QByteArray>, tables);
        QFETCH(QStringList, expected);
        const TempTree dir; // the mountinfo file the test rewrites, and a sysfs where only 8:17 is on USB
        QVERIFY(QFile::link(dir.createDir(u"sys/usb1/1-1/sdb/sdb1"_s), dir.createDir(u"sys/dev/block"_s) + u"/8:17"_s));
        DriveTable drives;
        MountWatcher watcher(drives, {u"/media"_s}, dir.createFile(u"mountinfo"_s, tables.first()));
        watcher.setSysfsRoot(dir.path(u"sys"_s));
        VolumeRecorder recorder(watcher, drives);
        QVERIFY(watcher.start());
        for (const QByteArray &table : tables.mid(1)) {
            dir.createFile(u"mountinfo"_s, table);
            watcher.rescan();
        }
        QCOMPARE(recorder.lines, expected);
        QCOMPARE(recorder.missing, 0);
    }

    void saysWhenItCannotWatch()
    {
        DriveTable drives;
        QVERIFY(!MountWatcher(drives, {}, u"/nonexistent/mountinfo"_s).start());
    }
};

QTEST_GUILESS_MAIN(TestVolumeNotifications)
#include "test_volume_notifications.moc"
