#include "VolumeRecorder.h"

#include "devices/MountWatcher.h"
#include "support/ScriptedNotificationSource.h"
#include "support/TempTree.h"

#include <QFile>
#include <QTest>

namespace {

const QByteArray Missing("missing");

QByteArray line(int id, const char *device, const char *mountPoint, const char *type, const char *source,
                const char *options = "rw")
{
    return QByteArray::number(id) + " 26 " + device + " / " + mountPoint + ' ' + options + " shared:1 - " + type + ' '
        + source + ' ' + options + '\n';
}

const QByteArray base = line(26, "254:0", "/", "ext4", "/dev/vda") + line(21, "0:20", "/proc", "proc", "proc")
    + line(31, "254:1", "/boot", "ext4", "/dev/vda1");
const QByteArray usbKey = line(60, "8:17", "/mnt/cle", "vfat", "/dev/sdb1");
const QByteArray keyB = line(61, "8:33", "/media/u/B", "exfat", "/dev/sdc1");
const QByteArray keyC = line(62, "0:70", "/media/u/C", "tmpfs", "tmpfs");
const QByteArray keyD = line(63, "0:71", "/run/media/u/D", "tmpfs", "tmpfs");

// A watcher over a mountinfo file the test rewrites, in a machine where only 8:17 is on USB.
struct FileWatch
{
    explicit FileWatch(const QByteArray &startTable)
    {
        const QString usb = dir.createDir(QStringLiteral("sys/devices/pci0000:00/usb1/1-1/host2/block/sdb/sdb1"));
        dir.createDir(QStringLiteral("sys/dev/block"));
        QFile::link(usb, dir.path(QStringLiteral("sys/dev/block/8:17")));
        watcher.setSysfsRoot(dir.path(QStringLiteral("sys")));
        write(startTable);
        watcher.start();
    }
    void write(const QByteArray &table)
    {
        QFile file(dir.path(QStringLiteral("mountinfo")));
        if (table == Missing)
            file.remove();
        else if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(table);
    }
    void change(const QByteArray &table)
    {
        write(table);
        watcher.rescan();
    }
    QString letters() const
    {
        QString result;
        for (const Drive &d : drives.drives())
            result += d.letter;
        return result;
    }

    TempTree dir;
    DriveTable drives;
    MountWatcher watcher{drives, {QStringLiteral("/media"), QStringLiteral("/run/media")}, dir.path(QStringLiteral("mountinfo"))};
    VolumeRecorder recorder{watcher, drives};
};

} // namespace

class TestVolumeNotifications : public QObject
{
    Q_OBJECT

private slots:
    void heldNotificationsWaitInOrder()
    {
        ScriptedNotificationSource source;
        QStringList log;
        source.setHandlers([&](const VolumeNotification &n) { log << QLatin1Char('+') + letterOfMask(n.unitMask); },
                           [&](const VolumeNotification &n) { log << QLatin1Char('-') + letterOfMask(n.unitMask); });
        source.hold();
        source.arrive(QLatin1Char('D'));
        source.remove(QLatin1Char('E'), {}, 0, [&] { log << QStringLiteral("after E"); });
        source.arrive(QLatin1Char('F'));
        QCOMPARE(log, QStringList());
        QVERIFY(source.isHeld());
        source.release();
        QVERIFY(!source.isHeld());
        QCOMPARE(log, strings({"+D", "-E", "after E", "+F"}));
    }

    void deliveryFromInsideAHandlerWaits()
    {
        ScriptedNotificationSource source;
        QStringList log;
        source.setHandlers(
            [&](const VolumeNotification &n) {
                log << QStringLiteral("begin ") + letterOfMask(n.unitMask);
                // As a message box's local loop lets the watcher deliver.
                source.remove(QLatin1Char('E'), {}, 0, [&] { log << QStringLiteral("after E"); });
                log << QStringLiteral("end ") + letterOfMask(n.unitMask);
            },
            [&](const VolumeNotification &n) { log << QStringLiteral("removal ") + letterOfMask(n.unitMask); });
        source.arrive(QLatin1Char('D'));
        QCOMPARE(log, strings({"begin D", "end D", "removal E", "after E"}));
    }

    void holdFromInsideAHandlerStopsTheRest()
    {
        ScriptedNotificationSource source;
        QStringList log;
        source.setHandlers(
            [&](const VolumeNotification &n) {
                log << QString(letterOfMask(n.unitMask));
                if (log.size() == 1) {
                    source.hold();
                    source.arrive(QLatin1Char('E'));
                }
            },
            {});
        source.arrive(QLatin1Char('D'));
        QCOMPARE(log, strings({"D"}));
        source.release();
        QCOMPARE(log, strings({"D", "E"}));
    }

    void reportsTableChanges_data()
    {
        QTest::addColumn<QList<QByteArray>>("tables");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("lettersAfter");
        QTest::newRow("usb key anywhere") << QList<QByteArray>{base, base + usbKey} << strings({"+D /dev/sdb1 0"}) << "CD";
        QTest::newRow("tmpfs under media, cgroup2 not")
            << QList<QByteArray>{base, base + keyC + line(70, "0:80", "/media/cg", "cgroup2", "cgroup2")}
            << strings({"+D tmpfs 0"}) << "CD";
        QTest::newRow("network shares")
            << QList<QByteArray>{base, base + line(71, "0:81", "/media/share", "cifs", "//srv/partage")
                                     + line(72, "0:82", "/media/nfs", "nfs4", "srv:/export") + keyB}
            << strings({"+D //srv/partage 2", "+E srv:/export 2", "+F /dev/sdc1 0"}) << "CDEF";
        QTest::newRow("present at start: lettered, silent")
            << QList<QByteArray>{base + usbKey + keyB, base + usbKey + keyB} << QStringList() << "CDE";
        QTest::newRow("removal with its letter")
            << QList<QByteArray>{base + usbKey + keyB, base + keyB} << strings({"-D /dev/sdb1 0"}) << "CE";
        QTest::newRow("freed letter reused lowest first")
            << QList<QByteArray>{base + usbKey + keyB + keyC, base + keyB + keyC, base + keyB + keyC + keyD}
            << strings({"-D /dev/sdb1 0", "+D tmpfs 0"}) << "CDEF";
        QTest::newRow("remount")
            << QList<QByteArray>{base + keyB, base + line(61, "8:33", "/media/u/B", "exfat", "/dev/sdc1", "ro")}
            << QStringList() << "CD";
        QTest::newRow("mount id reused by another volume")
            << QList<QByteArray>{base + keyB, base + line(61, "8:49", "/media/u/B", "vfat", "/dev/sdd1")}
            << strings({"-D /dev/sdc1 0", "+E /dev/sdd1 0"}) << "CE";
        QTest::newRow("burst gone and come")
            << QList<QByteArray>{base + usbKey, base + keyB + keyC}
            << strings({"-D /dev/sdb1 0", "+E /dev/sdc1 0", "+F tmpfs 0"}) << "CEF";
        QTest::newRow("system mount on usb")
            << QList<QByteArray>{base, base + line(73, "8:17", "/home", "ext4", "/dev/sdb1")} << QStringList() << "C";
        QTest::newRow("nested key")
            << QList<QByteArray>{base + keyB, base + keyB + line(74, "0:83", "/media/u/B/dedans", "tmpfs", "tmpfs")}
            << strings({"+E tmpfs 0"}) << "CDE";
        QTest::newRow("unreadable table is no removal")
            << QList<QByteArray>{base + usbKey, Missing, base + usbKey, base} << strings({"-D /dev/sdb1 0"}) << "C";
    }
    void reportsTableChanges()
    {
        QFETCH(QList<QByteArray>, tables);
        QFETCH(QStringList, expected);
        QFETCH(QString, lettersAfter);
        FileWatch watch(tables.first());
        for (qsizetype i = 1; i < tables.size(); ++i)
            watch.change(tables[i]);
        QCOMPARE(watch.recorder.lines(), expected);
        QCOMPARE(watch.recorder.lettersMissing(), 0); // a removed volume's letter is freed only after its handler
        QCOMPARE(watch.letters(), lettersAfter);
    }

    void volumesBeyondZRaiseNothing()
    {
        QByteArray table = base;
        for (int i = 0; i < 23; ++i)
            table += line(100 + i, "0:90", QByteArray("/media/k" + QByteArray::number(i)).constData(), "tmpfs", "tmpfs");
        FileWatch watch(table);
        QCOMPARE(watch.drives.drive(QLatin1Char('Z'))->root, QStringLiteral("/media/k22"));
        const QByteArray extra = line(200, "0:91", "/media/extra", "tmpfs", "extra");
        watch.change(table + extra);
        watch.change(table);
        QCOMPARE(watch.recorder.lines(), QStringList());
        table.replace(line(100, "0:90", "/media/k0", "tmpfs", "tmpfs"), QByteArray());
        watch.change(table);
        watch.change(table + extra);
        QCOMPARE(watch.recorder.lines(), strings({"-D tmpfs 0", "+D extra 0"}));
    }

    void heldWatcherKeepsLettersUntilDelivered()
    {
        FileWatch watch(base + usbKey);
        watch.watcher.hold();
        watch.change(base + keyB);
        watch.change(base + keyB + keyC);
        QCOMPARE(watch.recorder.lines(), QStringList());
        QCOMPARE(watch.letters(), QStringLiteral("CDEF"));
        watch.watcher.release();
        QCOMPARE(watch.recorder.lines(), strings({"-D /dev/sdb1 0", "+E /dev/sdc1 0", "+F tmpfs 0"}));
        QCOMPARE(watch.recorder.seen.first().root, QStringLiteral("/mnt/cle"));
        QCOMPARE(watch.letters(), QStringLiteral("CEF"));
    }

    void changesSeenInsideAHandlerComeAfterTheBatch()
    {
        FileWatch watch(base);
        qsizetype seenInside = -1;
        watch.recorder.onSeen = [&](const VolumeRecorder::Seen &seen) {
            if (seen.letter == QLatin1Char('D')) {
                watch.change(base + keyB + keyC + keyD);
                seenInside = watch.recorder.seen.size();
            }
        };
        watch.change(base + keyB + keyC);
        QCOMPARE(seenInside, 1);
        QCOMPARE(watch.recorder.lines(), strings({"+D /dev/sdc1 0", "+E tmpfs 0", "+F tmpfs 0"}));
    }
};

QTEST_GUILESS_MAIN(TestVolumeNotifications)
#include "test_volume_notifications.moc"
