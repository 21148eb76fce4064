#include "devices/MountWatcher.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "support/FailureOf.h"
#include "support/TempTree.h"

#include <QTest>

// Every reading of the mount table starts with the system's own lines.
const QByteArray System = "26 1 254:0 / / rw - ext4 /dev/vda rw\n21 26 0:20 / /proc rw - proc proc rw\n";
const QByteArray UsbKey = "60 26 8:17 / /mnt/cle rw - vfat /dev/sdb1 rw\n",
                 KeyB = "61 26 8:33 / /media/u/B rw - exfat /dev/sdc1 rw\n",
                 KeyC = "62 26 0:70 / /media/u/C rw - tmpfs C rw\n";

QByteArray manyKeys(int count)
{
    QByteArray table;
    for (int i = 100; i < 100 + count; ++i)
        table += QByteArray::number(i) + " 26 0:" + QByteArray::number(i) + " / /media/k" + QByteArray::number(i)
            + " rw - tmpfs t rw\n";
    return table;
}

class TestDrivesAndVolumes : public QObject
{
    Q_OBJECT

private slots:
    // A drive path maps below its letter's root and reads back as the path it stands for;
    // one that could lead elsewhere is refused.
    void drivePathsStayBelowTheirRoot()
    {
        TempTree key;
        DriveTable drives;
        drives.assign(key.root(), "/dev/sdz1");
        const QString native = DrivePath::toNative("d:\\\\a\\b.txt", drives);
        QCOMPARE(native, key.root() + "/a/b.txt");
        QCOMPARE(DrivePath::fromNative(native, drives), "D:\\a\\b.txt");
        QCOMPARE(failureOf([&] { DrivePath::toNative("D:\\..\\etc", drives); }), 52);
        QCOMPARE(failureOf([&] { DrivePath::toNative("D:\\a/../../etc", drives); }), 52);
        QCOMPARE(failureOf([&] { DrivePath::toNative("e: [CLE USB]", drives); }), 68);
    }

    // The working folder is the current folder of the volume it lay on when the program
    // started; another volume given that letter since starts at its root.
    void theWorkingFolderBelongsToItsVolume()
    {
        TempTree first, second;
        const QString started = QDir::currentPath();
        QVERIFY(QDir::setCurrent(first.createDir("Cours")));
        DriveTable drives;
        QVERIFY(QDir::setCurrent(started));
        drives.assign(first.root(), {});
        QCOMPARE(drives.currentFolder('D'), "D:\\Cours");
        drives.release('D');
        drives.assign(second.root(), {});
        QCOMPARE(drives.currentFolder('D'), "D:\\");
    }

    // A key is a whole volume on a USB bus (8:17), or strictly below a
    // media folder; never a kernel or system mount, nor a device also mounted elsewhere.
    // Volumes there at start are lettered silently; a removed volume keeps its letter until
    // its handler has run.
    void volumesComeAndGo_data()
    {
        QTest::addColumn<QByteArrayList>("readings");
        QTest::addColumn<QStringList>("deliveries");
        QTest::newRow("keys among other mounts")
            << QByteArrayList{"",
                              UsbKey + KeyB
                                  + "64 26 8:33 / /srv rw - vfat b rw\n65 26 253:1 / /c rw - ext4 dm rw\n"
                                    "66 26 254:16 / /d rw - ext4 v rw\n62 26 0:70 / /media/ rw - tmpfs t rw\n"
                                    "63 26 8:65 /d /media/F rw - vfat e rw\n67 26 8:49 / /run/media/K rw - ext4 f rw\n"
                                    "71 26 0:81 / /media/s rw - cifs //s/s rw\n"}
            << QStringList{"+D /mnt/cle", "+E /run/media/K", "+F /media/s réseau"};
        QTest::newRow("silent at start and on a remount; a freed letter is reused")
            << QByteArrayList{UsbKey + KeyB, KeyB, "61 26 8:33 / /media/u/B ro - exfat /dev/sdc1 ro\n", KeyB + KeyC,
                              "61 26 8:49 / /media/u/B rw - vfat /dev/sdd1 rw\n" + KeyC}
            << QStringList{"-D /mnt/cle", "+D /media/u/C", "-E /media/u/B", "+F /media/u/B"};
        QTest::newRow("with D to Z taken, a further volume raises nothing")
            << QByteArrayList{manyKeys(23), manyKeys(24), manyKeys(23)} << QStringList();
        QTest::newRow("a volume mounted a second time is still one key")
            << QByteArrayList{"", KeyB, KeyB + "68 26 8:33 / /media/u/B2 rw - exfat /dev/sdc1 rw\n"}
            << QStringList{"+D /media/u/B"};
    }
    void volumesComeAndGo()
    {
        QFETCH(QByteArrayList, readings);
        QFETCH(QStringList, deliveries);
        const TempTree dir; // the mountinfo file the test rewrites, and a sysfs laid out as the kernel's
        QVERIFY(QFile::link(dir.createDir("sys/devices/pci0000:00/usb2/2-1/host6/block/sdb/sdb1"),
                            dir.createDir("sys/dev/block") + "/8:17"));
        DriveTable drives;
        MountWatcher watcher(drives, {"/media", "/run/media"}, dir.createFile("mountinfo", System + readings.first()));
        watcher.setSysfsRoot(dir.path("sys"));
        QStringList seen; // "+D /mnt/cle": D arrives, mounted at /mnt/cle
        const auto record = [&](const char *sign, const VolumeNotification &n) {
            const QChar letter(u'A' + qCountTrailingZeroBits(quint32(n.unitMask)));
            seen << sign + QString(letter) + u' ' + drives.drive(letter)->root + (n.deviceData == 2 ? " réseau" : "");
        };
        watcher.setHandlers([&](const VolumeNotification &n) { record("+", n); },
                            [&](const VolumeNotification &n) { record("-", n); });
        QVERIFY(watcher.start());
        for (const QByteArray &next : readings.mid(1)) {
            dir.createFile("mountinfo", System + next);
            watcher.rescan();
        }
        QCOMPARE(seen, deliveries);
    }

    // The program tells the operator, at start, when it cannot see keys come and go.
    void aWatcherThatCannotReadTheTableSaysSo()
    {
        DriveTable drives;
        QCOMPARE(MountWatcher(drives, {}, "/nonexistent/mountinfo").start(), false);
    }
};

QTEST_GUILESS_MAIN(TestDrivesAndVolumes)
#include "test_drives_and_volumes.moc"
